// Inside tests of many lattice points against one ring, one row at a time:
// the ring's crossings of a horizontal line are found once, and the row's
// points are then read off as runs. The rule and the arithmetic are those of
// the per-point even-odd crossing test (pointInRing), so both always agree.
#pragma once

#include <utility>
#include <vector>

#include "geo/Point.h"

namespace veldra {

// Even-odd crossing test; a ring given closed or open answers the same.
bool pointInRing(const std::vector<Point2>& ring, Point2 p);

class RingScanline {
 public:
  explicit RingScanline(std::vector<Point2> ring);

  // Inclusive index runs [first, last] of the lattice points x0 + i * step,
  // 0 <= i <= lastIndex, that lie inside the ring on the line y.
  std::vector<std::pair<long, long>> insideRuns(double y, double x0, double step, long lastIndex) const;

 private:
  std::vector<Point2> ring_;
};

}  // namespace veldra
