#include "terrain/NdsmLattice.h"

#include <algorithm>
#include <cmath>

namespace veldra {

LatticeSpan latticeSpanOver(double min, double step, long count, double gridMin, double gridCells, double cellSize) {
  const double lo = std::floor((gridMin - min) / step) - 1;
  const double hi = std::ceil((gridMin + gridCells * cellSize - min) / step) + 1;
  if (!(lo <= hi) || count < 0) return {};
  LatticeSpan s;
  s.first = static_cast<long>(std::clamp(lo, 0.0, static_cast<double>(count) + 1));
  s.last = static_cast<long>(std::clamp(hi, -1.0, static_cast<double>(count)));
  return s;
}

long latticeSteps(double length, double step, bool inclusiveEnd) {
  if (!(step > 0) || !std::isfinite(length) || length < 0) return -1;
  // A length that is a whole number of steps but comes out a hair short must
  // still reach its far end.
  const double n = std::floor(length / step + (inclusiveEnd ? 1e-9 : 0.0));
  if (!(n <= kMaxLatticePoints)) return -1;
  return static_cast<long>(n);
}

bool allFinite(const std::vector<Point2>& ring) {
  return std::all_of(ring.begin(), ring.end(), [](const Point2& p) { return std::isfinite(p.x) && std::isfinite(p.y); });
}

}  // namespace veldra
