// One flat roof over a building outline at the height its LiDAR points show, with the
// share of the outline the points cover. A roof the points do not back well enough
// takes the highest point (or a fixed height over the ground) and is marked for correction.
#pragma once

#include <vector>

#include "cloud/CloudPoint.h"
#include "cloud/GroundCellModel.h"
#include "geo/Point.h"

namespace veldra {

struct RoofFromCloudSettings {
  double minCoverage = 0.6;
  int minRoofPoints = 30;
  double minHeightAboveGround = 3.0;
  double fallbackHeightAboveGround = 3.0;
  double coverageCell = 1.0;
};

struct CloudRoofResult {
  std::vector<std::vector<Point3>> polygons;   // the roof face: the outline at the roof height
  bool needsCorrection = false;
  double coverage = 0.0;
};

// `points` are the candidates near the outline (PL-1992, absolute heights). An outline
// with fewer than 3 usable vertices, or too large to count in coverage cells, gives an
// empty result marked for correction.
CloudRoofResult roofFromCloud(const std::vector<Point2>& footprint, const std::vector<CloudPoint>& points,
                              const GroundCellModel& ground, const RoofFromCloudSettings& settings = {});

}  // namespace veldra
