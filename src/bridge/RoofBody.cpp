#include "bridge/RoofBody.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace veldra {

std::vector<std::vector<Point3>> roofBody(const std::vector<Point3>& roof, double baseZ) {
  std::vector<std::vector<Point3>> faces;
  if (roof.size() < 3 || !std::isfinite(baseZ) || !(baseZ < roof.front().z)) return faces;
  std::vector<Point3> top = roof;
  double area2 = 0.0;
  for (std::size_t i = 0, n = top.size(); i < n; ++i) {
    const Point3& a = top[i];
    const Point3& b = top[(i + 1) % n];
    area2 += a.x * b.y - b.x * a.y;
  }
  if (area2 < 0.0) std::reverse(top.begin(), top.end());
  std::vector<Point3> base;
  for (auto it = top.rbegin(); it != top.rend(); ++it) base.push_back({it->x, it->y, baseZ});
  faces.push_back(top);
  faces.push_back(std::move(base));
  for (std::size_t i = 0, n = top.size(); i < n; ++i) {
    const Point3& a = top[i];
    const Point3& b = top[(i + 1) % n];
    faces.push_back({{a.x, a.y, baseZ}, {b.x, b.y, baseZ}, {b.x, b.y, b.z}, {a.x, a.y, a.z}});
  }
  return faces;
}

}  // namespace veldra
