// The ground under a building: the lowest ground (class 2) point of every 2 m cell,
// looked up by position. Cells are counted from the smallest x and y of the points given.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "cloud/CellKey.h"
#include "cloud/CloudPoint.h"

namespace veldra {

struct GroundCellModel {
  double cell = 2.0;
  double originX = 0.0, originY = 0.0;
  std::unordered_map<std::uint64_t, double, CellKeyHash> lowest;

  // The cell's lowest ground; an empty cell takes the lowest of the 3 x 3 cells around
  // it, and 0 when those are empty too (every point then counts as above the ground).
  double groundHeightAt(double x, double y) const;
  // Whether a ground point lies in the cell of (x, y) or one of its eight neighbours.
  bool groundNear(double x, double y) const;
};

// Points that are not finite are left out.
GroundCellModel buildGroundCellModel(const std::vector<CloudPoint>& points, double cell);

}  // namespace veldra
