// Resampling of the terrain onto a regular lattice over the frame, cut into patches.
#pragma once

#include "geo/Bbox.h"
#include "geo/Point.h"
#include "terrain/ElevationGrid.h"

#include <string>
#include <vector>

namespace veldra {

struct TerrainPatch {
  // Box of the patch's lattice nodes (also of nodes that got no height).
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
  // Nodes with a height, row by row from the south, west to east.
  std::vector<Point3> points;
};

inline constexpr int kMaxPatchesPerAxis = 4;
inline constexpr int kMaxPatchNodes = 200;

struct TerrainPatchSet {
  std::vector<TerrainPatch> patches;  // rows of patches from the south, west to east
  std::string message;                // empty when the whole frame fits
};

// `step` in whole metres; 1 when not positive. Frames needing more than 4 x 4
// patches are covered only in their south-west 800 x 800 nodes.
TerrainPatchSet buildTerrainPatches(const Bbox& frame, double step, const TerrainSampler& sampler);

}  // namespace veldra
