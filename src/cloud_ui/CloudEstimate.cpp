#include "cloud_ui/CloudEstimate.h"

#include <algorithm>
#include <cmath>

namespace veldra {

namespace cloudui {

Detail parseDetail(const std::string& text) {
  if (text == "lekki") return Detail::Lekki;
  if (text == "full") return Detail::Full;
  return Detail::Standard;
}

double voxelSize(Detail detail) {
  switch (detail) {
    case Detail::Lekki: return 0.5;
    case Detail::Standard: return 0.2;
    case Detail::Full: return 0.0;
  }
  return 0.2;
}

}  // namespace cloudui

CloudEstimate estimateCloud(double areaM2, double density, cloudui::Detail detail, std::int64_t limit) {
  double value = areaM2 * density;
  const double voxel = cloudui::voxelSize(detail);
  if (voxel > 0) value = std::min(areaM2 / (voxel * voxel), value);
  // A frame from a hostile page may be absurd: keep points and bytes inside int64's range.
  if (!(value >= 0)) value = 0;
  value = std::min(value + 0.5, 4.0e17);
  CloudEstimate e;
  e.points = static_cast<std::int64_t>(value);
  e.bytes = e.points * 16;
  e.overLimit = e.points > limit;
  return e;
}

}  // namespace veldra
