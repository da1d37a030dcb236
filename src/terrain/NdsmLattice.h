// The sampling lattice the surface-model shapes walk: points min + i * step
// from a box's minimum corner, limited to where a grid has values so that a
// far or huge outline costs no more than the grid it lies over.
#pragma once

#include <vector>

#include "geo/Bbox.h"
#include "geo/Point.h"
#include "geo/PointInRing.h"
#include "terrain/ElevationGrid.h"

namespace veldra {

// More lattice points than this in one shape is refused: an outline that
// size is bad input, and walking it would not end in useful time.
inline constexpr double kMaxLatticePoints = 16e6;

struct LatticeSpan {
  long first = 0;
  long last = -1;   // inclusive; first > last when empty
  bool empty() const { return first > last; }
};

// Indices i in [0, count] whose point min + i * step lies over the grid's
// extent along one axis (gridMin .. gridMin + cells * cellSize), with one
// index of margin on each side.
LatticeSpan latticeSpanOver(double min, double step, long count, double gridMin, double gridCells, double cellSize);

// Number of whole steps in a length, or -1 when the length or step is not
// usable (not finite, negative, or more steps than kMaxLatticePoints).
long latticeSteps(double length, double step, bool inclusiveEnd);

bool allFinite(const std::vector<Point2>& ring);

}  // namespace veldra
