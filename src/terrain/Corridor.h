// The outline of a strip along a centre line (an OpenStreetMap way), with its
// own width on each side of every vertex.
#pragma once

#include <vector>

#include "geo/Point.h"

namespace veldra {

enum class CorridorWidths { AsGiven, Median };

// Left side from the first vertex to the last, then the right side back: one
// ring of 2n points, or nothing for fewer than 2 centre points. A side's width
// list shorter than the line repeats its last width (none: 0); with Median
// every vertex gets the median width of its side.
std::vector<Point2> corridorPolygon(const std::vector<Point2>& centre, std::vector<double> leftWidths,
                                    std::vector<double> rightWidths, CorridorWidths widths = CorridorWidths::AsGiven);

}  // namespace veldra
