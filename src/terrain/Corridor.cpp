#include "terrain/Corridor.h"

#include <algorithm>
#include <cmath>

#include "terrain/NdsmModel.h"

namespace veldra {

namespace {

double widthAt(const std::vector<double>& widths, std::size_t i) {
  if (widths.empty()) return 0.0;
  return widths[std::min(i, widths.size() - 1)];
}

void useMedian(std::vector<double>& widths) {
  if (widths.empty()) return;
  std::vector<double> sorted = widths;
  const double m = medianOf(sorted);
  std::fill(widths.begin(), widths.end(), m);
}

}  // namespace

std::vector<Point2> corridorPolygon(const std::vector<Point2>& centre, std::vector<double> leftWidths,
                                    std::vector<double> rightWidths, CorridorWidths widths) {
  const std::size_t n = centre.size();
  if (n < 2) return {};
  if (widths == CorridorWidths::Median) {
    useMedian(leftWidths);
    useMedian(rightWidths);
  }
  // Unit normal to the left of the direction through the neighbours.
  auto leftNormal = [&](std::size_t i) {
    const Point2& a = centre[i == 0 ? 0 : i - 1];
    const Point2& b = centre[std::min(i + 1, n - 1)];
    double tx = b.x - a.x, ty = b.y - a.y;
    const double len = std::hypot(tx, ty);
    if (len < 1e-9) {
      tx = 0;
      ty = 0;
    } else {
      tx /= len;
      ty /= len;
    }
    return Point2{-ty, tx};
  };
  std::vector<Point2> ring;
  ring.reserve(2 * n);
  for (std::size_t i = 0; i < n; ++i) {
    const Point2 nrm = leftNormal(i);
    const double w = widthAt(leftWidths, i);
    ring.push_back({centre[i].x + w * nrm.x, centre[i].y + w * nrm.y});
  }
  for (std::size_t k = n; k-- > 0;) {
    const Point2 nrm = leftNormal(k);
    const double w = widthAt(rightWidths, k);
    ring.push_back({centre[k].x - w * nrm.x, centre[k].y - w * nrm.y});
  }
  return ring;
}

}  // namespace veldra
