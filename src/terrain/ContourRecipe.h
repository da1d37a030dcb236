// The one way contour lines are made from a height source: lattice over the
// frame, optional smoothing, the builder and the labels of index contours.
// The NMT fetch, the cloud surfaces and the asc-contours command all use it,
// so a change to the recipe reaches every one of them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geo/Bbox.h"
#include "terrain/Contours.h"
#include "terrain/ElevationGrid.h"

namespace veldra {

struct ContourRecipe {
  double interval = 1.0;
  bool smooth = false;   // bilateral smoothing of the lattice
  ContourLimits limits{};
  ContourBuilder::CancelCheck cancel;
  ContourBuilder::Progress progress;
};

// Contour lines of one surface with their labels.
struct ContourSet {
  std::vector<Contour> lines;
  std::vector<ContourLabel> labels;
  std::int32_t ncols = 0, nrows = 0;   // lattice nodes per axis
  bool noNodes = false;    // the frame holds fewer than 2 x 2 nodes at the step
  bool noHeights = false;  // every node is NODATA
  bool cancelled = false;
  std::string message;     // the builder's truncation or cancellation text

  bool empty() const { return lines.empty(); }
};

ContourSet buildContours(const Bbox& frame, double step, const TerrainSampler& sampler, const ContourRecipe& recipe);

}  // namespace veldra
