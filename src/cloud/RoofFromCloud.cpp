#include "cloud/RoofFromCloud.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "geo/PointInRing.h"

namespace veldra {

namespace {
// Beyond this many coverage cells (a 4 km square outline at 1 m) an outline is no building.
constexpr double kMaxCoverageCells = 16.0e6;
}  // namespace

CloudRoofResult roofFromCloud(const std::vector<Point2>& footprint, const std::vector<CloudPoint>& points,
                              const GroundCellModel& ground, const RoofFromCloudSettings& s) {
  CloudRoofResult out;
  out.needsCorrection = true;
  const bool finiteOutline =
      std::all_of(footprint.begin(), footprint.end(), [](Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); });
  if (footprint.size() < 3 || !finiteOutline || !(s.coverageCell > 0.0)) return out;

  double minX = footprint[0].x, minY = footprint[0].y, maxX = minX, maxY = minY;
  for (Point2 p : footprint) {
    minX = std::min(minX, p.x);
    minY = std::min(minY, p.y);
    maxX = std::max(maxX, p.x);
    maxY = std::max(maxY, p.y);
  }
  const double columnsD = std::floor((maxX - minX) / s.coverageCell) + 1.0;
  const double rowsD = std::floor((maxY - minY) / s.coverageCell) + 1.0;
  if (columnsD * rowsD > kMaxCoverageCells) return out;
  const auto columns = static_cast<std::int64_t>(columnsD), rows = static_cast<std::int64_t>(rowsD);
  std::vector<char> covered(static_cast<std::size_t>(columns * rows), 0);

  std::vector<double> roofZ;
  double highest = -INFINITY;
  for (const CloudPoint& p : points) {
    if (p.classification == kClassGround || !std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z))
      continue;
    if (!pointInRing(footprint, p.x, p.y)) continue;
    if (p.z - ground.groundHeightAt(p.x, p.y) < s.minHeightAboveGround) continue;
    roofZ.push_back(p.z);
    highest = std::max(highest, p.z);
    const auto i = static_cast<std::int64_t>(std::floor((p.x - minX) / s.coverageCell));
    const auto j = static_cast<std::int64_t>(std::floor((p.y - minY) / s.coverageCell));
    if (i >= 0 && i < columns && j >= 0 && j < rows) covered[static_cast<std::size_t>(j * columns + i)] = 1;
  }

  std::int64_t outlineCells = 0, coveredCells = 0;
  for (std::int64_t j = 0; j < rows; ++j)
    for (std::int64_t i = 0; i < columns; ++i) {
      const double cx = minX + (double(i) + 0.5) * s.coverageCell, cy = minY + (double(j) + 0.5) * s.coverageCell;
      if (!pointInRing(footprint, cx, cy)) continue;
      ++outlineCells;
      coveredCells += covered[static_cast<std::size_t>(j * columns + i)];
    }
  out.coverage = outlineCells > 0 ? double(coveredCells) / double(outlineCells) : 0.0;

  double height = 0.0;
  if (roofZ.size() >= static_cast<std::size_t>(std::max(s.minRoofPoints, 1)) && out.coverage >= s.minCoverage) {
    const auto mid = roofZ.begin() + static_cast<std::ptrdiff_t>(roofZ.size() / 2);
    std::nth_element(roofZ.begin(), mid, roofZ.end());
    height = *mid;
    out.needsCorrection = false;
  } else if (!roofZ.empty()) {
    height = highest;
  } else {
    height = ground.groundHeightAt(footprint[0].x, footprint[0].y) + s.fallbackHeightAboveGround;
  }
  std::vector<Point3> face;
  face.reserve(footprint.size());
  for (Point2 p : footprint) face.push_back({p.x, p.y, height});
  out.polygons.push_back(std::move(face));
  return out;
}

}  // namespace veldra
