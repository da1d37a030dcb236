#include "terrain/ContourRecipe.h"

#include <utility>

namespace veldra {

ContourSet buildContours(const Bbox& frame, double step, const TerrainSampler& sampler, const ContourRecipe& recipe) {
  ContourSet out;
  ContourLattice lattice = buildContourLattice(frame, step, sampler);
  out.ncols = lattice.ncols;
  out.nrows = lattice.nrows;
  if (lattice.empty()) {
    out.noNodes = true;
    return out;
  }
  if (lattice.validCount() == 0) {
    out.noHeights = true;
    return out;
  }
  if (recipe.smooth) smoothLattice(lattice);
  out.lines = ContourBuilder::build(lattice, recipe.interval, out.message, recipe.limits, recipe.cancel, &out.cancelled,
                                    recipe.progress);
  for (const auto& c : out.lines) {
    if (!c.index) continue;
    auto labels = labelContour(c);
    out.labels.insert(out.labels.end(), std::make_move_iterator(labels.begin()), std::make_move_iterator(labels.end()));
  }
  return out;
}

}  // namespace veldra
