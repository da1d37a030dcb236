#include "cloud/GroundCellModel.h"

#include <algorithm>
#include <limits>

namespace veldra {

namespace {
bool finite(const CloudPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }
}  // namespace

GroundCellModel buildGroundCellModel(const std::vector<CloudPoint>& points, double cell) {
  GroundCellModel m;
  m.cell = cell > 0.0 ? cell : 2.0;
  bool any = false;
  for (const CloudPoint& p : points) {
    if (!finite(p)) continue;
    m.originX = any ? std::min(m.originX, p.x) : p.x;
    m.originY = any ? std::min(m.originY, p.y) : p.y;
    any = true;
  }
  for (const CloudPoint& p : points) {
    if (p.classification != kClassGround || !finite(p)) continue;
    const std::uint64_t key = packCellKey(cellIndex(p.x, m.originX, m.cell), cellIndex(p.y, m.originY, m.cell));
    auto [it, added] = m.lowest.try_emplace(key, p.z);
    if (!added) it->second = std::min(it->second, p.z);
  }
  return m;
}

bool GroundCellModel::groundNear(double x, double y) const {
  if (!std::isfinite(x) || !std::isfinite(y)) return false;
  const std::int64_t i = cellIndex(x, originX, cell), j = cellIndex(y, originY, cell);
  for (std::int64_t di = -1; di <= 1; ++di)
    for (std::int64_t dj = -1; dj <= 1; ++dj)
      if (lowest.count(packCellKey(i + di, j + dj)) != 0) return true;
  return false;
}

double GroundCellModel::groundHeightAt(double x, double y) const {
  if (!std::isfinite(x) || !std::isfinite(y)) return 0.0;
  const std::int64_t i = cellIndex(x, originX, cell), j = cellIndex(y, originY, cell);
  if (auto it = lowest.find(packCellKey(i, j)); it != lowest.end()) return it->second;
  double best = std::numeric_limits<double>::infinity();
  for (std::int64_t di = -1; di <= 1; ++di)
    for (std::int64_t dj = -1; dj <= 1; ++dj)
      if (auto it = lowest.find(packCellKey(i + di, j + dj)); it != lowest.end()) best = std::min(best, it->second);
  return std::isfinite(best) ? best : 0.0;
}

}  // namespace veldra
