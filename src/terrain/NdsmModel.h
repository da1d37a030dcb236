// The normalised surface model of a frame: the land-cover surface (nMPT) and
// the terrain (NMT) read from one sheet each, and the record every shape made
// from them comes back in (buildings, bridge decks, road ribbons).
#pragma once

#include <optional>
#include <vector>

#include "geo/Point.h"
#include "terrain/ElevationGrid.h"

namespace veldra {

struct NdsmModel {
  ElevationGrid surface;   // nMPT
  ElevationGrid ground;    // NMT
  bool tried = false;      // the load ran (it runs at most once per fetch)
  bool covered = false;    // both indexes named at least one sheet
  bool parsed = false;     // both sheets were read: the grids are usable
};

// Height of the land cover over the terrain; nothing when either grid has no
// value there.
std::optional<double> ndsmHeightAt(const NdsmModel& model, double x, double y);

// A shape made from the model: faces as 3D rings with absolute heights.
struct NdsmShape {
  std::vector<std::vector<Point3>> faces;
  bool needsCorrection = false;   // placed with the "- POPRAW" material
  double coverage = 0.0;          // share of the samples standing over the terrain
};

// Median as the element n/2 after partial sorting; the list is reordered.
double medianOf(std::vector<double>& values);

}  // namespace veldra
