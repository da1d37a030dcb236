// The points of a frame in 10 m cells, so that a building looks at the points near
// it instead of the whole cloud.
#pragma once

#include <cstddef>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "cloud/CellKey.h"
#include "cloud/CloudPoint.h"
#include "geo/Bbox.h"

namespace veldra {

class PointGridIndex {
 public:
  static constexpr double kCell = 10.0;

  // Points with a coordinate that is not finite are not indexed.
  explicit PointGridIndex(const std::vector<CloudPoint>& points);

  // Indices of the points in the cells from one cell left of / below `box` to one cell
  // right of / above it, cell by cell.
  std::vector<std::size_t> around(const Bbox& box) const;

 private:
  double originX_ = 0.0, originY_ = 0.0;
  std::int64_t maxColumn_ = -1, maxRow_ = -1;   // extent of the filled cells
  std::unordered_map<std::uint64_t, std::vector<std::size_t>, CellKeyHash> cells_;
};

}  // namespace veldra
