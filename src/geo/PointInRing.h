// Whether a point lies inside a ring (even-odd rule; the ring may be open or closed).
#pragma once

#include <cstddef>
#include <vector>

#include "geo/Point.h"

namespace veldra {

inline bool pointInRing(const std::vector<Point2>& ring, double x, double y) {
  bool in = false;
  const std::size_t n = ring.size();
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const Point2& a = ring[i];
    const Point2& b = ring[j];
    if ((a.y > y) != (b.y > y) && x < (b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x) in = !in;
  }
  return in;
}

}  // namespace veldra
