// A surface draped over a polygon from the surface model: bridge decks on the
// land-cover surface, road ribbons on the terrain. Two triangles per lattice
// cell that lies wholly inside the polygon; a flat face when too few cells do.
#pragma once

#include <optional>
#include <vector>

#include "geo/Bbox.h"
#include "geo/Point.h"
#include "terrain/NdsmModel.h"

namespace veldra {

enum class SampledGrid { Surface, Ground };

struct SurfaceSettings {
  double step = 0.5;
  double minHeight = 1.0;       // a cell stands over the terrain above this
  double minCoverage = 0.0;     // below it the flat fallback is used
  SampledGrid grid = SampledGrid::Surface;
  std::optional<Bbox> clip;     // the lattice is limited to this rectangle
};

// Decks: the land-cover surface, most of the cells standing over the terrain.
SurfaceSettings bridgeSurface();
// Ribbons: the terrain, clipped to the frame.
SurfaceSettings roadSurface(const Bbox& frame);

// Faces are the triangles (flag clear), or one flat face at the median corner
// height, or at the grid's height in the middle of the box when no cell was
// usable (flag set). Fewer than 3 points, a coordinate that is not finite, a
// polygon wholly outside the clip rectangle or no height at all: empty, flagged.
NdsmShape surfaceOverPolygon(const std::vector<Point2>& polygon, const NdsmModel& model,
                             const SurfaceSettings& settings);

// More lattice cells than this in one box is refused (5 km x 5 km at 0.5 m).
inline constexpr double kMaxSurfaceCells = 1e8;

}  // namespace veldra
