// A building shaped from the normalised surface model over its outline: a
// flat roof at the median surface height and walls down to the terrain.
#pragma once

#include <vector>

#include "geo/Point.h"
#include "terrain/NdsmModel.h"

namespace veldra {

struct NdsmBuildingSettings {
  double step = 0.5;            // sampling lattice over the outline, metres
  double minHeight = 1.0;       // a sample stands over the terrain above this
  double minCoverage = 0.35;    // below it the result is flagged for correction
  double minWallHeight = 1.0;   // an edge whose both ends are lower gets no wall
};

// Faces: the roof (the outline at the roof height), then one quad per walled
// edge (its two roof corners, then its two ground corners). An outline of
// fewer than 3 points, one with a coordinate that is not finite, or one under
// which the surface has no value gives an empty flagged result.
NdsmShape buildingFromNdsm(const std::vector<Point2>& outline, const NdsmModel& model,
                           const NdsmBuildingSettings& settings = {});

}  // namespace veldra
