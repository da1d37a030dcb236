#include "app/CloudViewFile.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace veldra::app {

namespace {

void put(std::string& out, const void* p, std::size_t n) { out.append(static_cast<const char*>(p), n); }
template <class T>
void putLe(std::string& out, T v) {
  static_assert(std::endian::native == std::endian::little, "the view file is written as the machine holds it");
  put(out, &v, sizeof v);
}

}  // namespace

CloudPlacement cloudPlacementOf(Host& host) {
  CloudPlacement p;
  const GeorefReading r = readProjectGeoref(host);
  // Only a survey point gives the cloud its origin; an approximate location does not.
  if (r.quality == GeorefQuality::Full) p.georef = r.georef;
  return p;
}

std::string cloudViewBytes(const E57Cloud& cloud, const CloudPlacement& placement) {
  const std::size_t n = cloud.points.size();
  std::vector<double> xyz(3 * n);
  double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
  const ProjectGeoref& g = placement.georef;
  for (std::size_t i = 0; i < n; ++i) {
    const E57Point& p = cloud.points[i];
    Point2 local{p.x, p.y};
    if (g.valid) local = toLocal(g, g.E0 + p.x, g.N0 + p.y);
    const double v[3] = {local.x, p.z, -local.y};  // y-up, as the model's GLB
    for (int a = 0; a < 3; ++a) {
      xyz[3 * i + a] = v[a];
      lo[a] = std::min(lo[a], v[a]);
      hi[a] = std::max(hi[a], v[a]);
    }
  }
  double origin[3] = {0, 0, 0};
  if (n > 0)
    for (int a = 0; a < 3; ++a) origin[a] = std::round((lo[a] + hi[a]) / 2);

  std::string out;
  out.reserve(40 + n * (cloud.hasColor ? 15 : 12));
  put(out, "VCLD", 4);
  putLe<uint32_t>(out, 1);
  putLe<uint32_t>(out, uint32_t(n));
  putLe<uint32_t>(out, cloud.hasColor ? 1u : 0u);
  for (double o : origin) putLe(out, o);
  for (std::size_t i = 0; i < 3 * n; ++i) putLe(out, float(xyz[i] - origin[i % 3]));
  if (cloud.hasColor)
    for (const E57Point& p : cloud.points) {
      const uint8_t c[3] = {p.red, p.green, p.blue};
      put(out, c, 3);
    }
  return out;
}

}  // namespace veldra::app
