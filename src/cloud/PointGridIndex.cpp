#include "cloud/PointGridIndex.h"

#include <algorithm>
#include <cmath>

namespace veldra {

PointGridIndex::PointGridIndex(const std::vector<CloudPoint>& points) {
  auto finite = [](const CloudPoint& p) { return std::isfinite(p.x) && std::isfinite(p.y); };
  bool any = false;
  for (const CloudPoint& p : points) {
    if (!finite(p)) continue;
    originX_ = any ? std::min(originX_, p.x) : p.x;
    originY_ = any ? std::min(originY_, p.y) : p.y;
    any = true;
  }
  for (std::size_t k = 0; k < points.size(); ++k) {
    if (!finite(points[k])) continue;
    const std::int64_t i = cellIndex(points[k].x, originX_, kCell), j = cellIndex(points[k].y, originY_, kCell);
    maxColumn_ = std::max(maxColumn_, i);
    maxRow_ = std::max(maxRow_, j);
    cells_[packCellKey(i, j)].push_back(k);
  }
}

std::vector<std::size_t> PointGridIndex::around(const Bbox& box) const {
  std::vector<std::size_t> out;
  if (cells_.empty() || !std::isfinite(box.minX) || !std::isfinite(box.minY) || !std::isfinite(box.maxX) ||
      !std::isfinite(box.maxY))
    return out;
  const auto far = [](double lo, double hi, double origin, std::int64_t last) {
    return std::floor((hi - origin) / kCell) < -1.0 || std::floor((lo - origin) / kCell) > double(last) + 1.0;
  };
  if (far(box.minX, box.maxX, originX_, maxColumn_) || far(box.minY, box.maxY, originY_, maxRow_)) return out;
  // Clamped to the filled cells, so a vast or distant box costs no more than the cloud.
  auto clampedIndex = [](double v, double origin, std::int64_t last) {
    const double c = std::floor((v - origin) / kCell);
    return static_cast<std::int64_t>(std::clamp(c, -1.0, double(last) + 1.0));
  };
  const std::int64_t i0 = std::max<std::int64_t>(clampedIndex(box.minX, originX_, maxColumn_) - 1, 0);
  const std::int64_t i1 = std::min(clampedIndex(box.maxX, originX_, maxColumn_) + 1, maxColumn_);
  const std::int64_t j0 = std::max<std::int64_t>(clampedIndex(box.minY, originY_, maxRow_) - 1, 0);
  const std::int64_t j1 = std::min(clampedIndex(box.maxY, originY_, maxRow_) + 1, maxRow_);
  for (std::int64_t i = i0; i <= i1; ++i)
    for (std::int64_t j = j0; j <= j1; ++j)
      if (auto it = cells_.find(packCellKey(i, j)); it != cells_.end())
        out.insert(out.end(), it->second.begin(), it->second.end());
  return out;
}

}  // namespace veldra
