#include "geo/RingScanline.h"

#include <algorithm>
#include <cmath>

namespace veldra {

namespace {

// x of the crossings of the line y by edges whose ends lie on opposite sides
// (an end on the line counts as below), in the ring's own arithmetic.
std::vector<double> crossings(const std::vector<Point2>& ring, double y) {
  std::vector<double> xs;
  const std::size_t n = ring.size();
  for (std::size_t i = 0, j = n - 1; i < n; j = i++) {
    const Point2& a = ring[i];
    const Point2& b = ring[j];
    if ((a.y > y) != (b.y > y)) xs.push_back((b.x - a.x) * (y - a.y) / (b.y - a.y) + a.x);
  }
  return xs;
}

}  // namespace

bool pointInRing(const std::vector<Point2>& ring, Point2 p) {
  if (ring.size() < 3) return false;
  bool inside = false;
  for (double x : crossings(ring, p.y))
    if (p.x < x) inside = !inside;
  return inside;
}

RingScanline::RingScanline(std::vector<Point2> ring) : ring_(std::move(ring)) {}

std::vector<std::pair<long, long>> RingScanline::insideRuns(double y, double x0, double step, long lastIndex) const {
  std::vector<std::pair<long, long>> runs;
  if (ring_.size() < 3 || !(step > 0) || lastIndex < 0) return runs;
  std::vector<double> xs = crossings(ring_, y);
  std::sort(xs.begin(), xs.end());
  // A point is inside when an odd number of crossings lie right of it; the
  // crossings come in pairs, so that is x in [xs[2k], xs[2k+1]).
  auto at = [&](long i) { return x0 + static_cast<double>(i) * step; };
  // First index whose point is at or right of v (lastIndex + 1 when none).
  auto firstAtOrAfter = [&](double v) {
    const double guess = std::ceil((v - x0) / step);
    if (!(guess > 0)) return 0L;
    if (guess > static_cast<double>(lastIndex) + 1) return lastIndex + 1;
    long i = static_cast<long>(guess);
    while (i > 0 && at(i - 1) >= v) --i;
    while (i <= lastIndex && at(i) < v) ++i;
    return i;
  };
  for (std::size_t k = 0; k + 1 < xs.size(); k += 2) {
    const long first = firstAtOrAfter(xs[k]);
    const long last = firstAtOrAfter(xs[k + 1]) - 1;
    if (first <= last) runs.emplace_back(first, last);
  }
  return runs;
}

}  // namespace veldra
