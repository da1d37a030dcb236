// Rings given as point lists: whether a point lies inside one (even-odd rule; the ring may
// be open or closed), and the ring without its closing point.
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

// The ring without a closing point equal to its first.
inline std::vector<Point2> openRing(const std::vector<Point2>& ring) {
  std::vector<Point2> out = ring;
  if (out.size() > 1 && out.front().x == out.back().x && out.front().y == out.back().y) out.pop_back();
  return out;
}

}  // namespace veldra
