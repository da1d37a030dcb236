// A flat roof made a closed body for placement: the roof face on top, vertical walls
// down to a base level and the base, every face listed counter-clockwise seen from outside.
#pragma once

#include <vector>

#include "geo/Point.h"
#include "geo/PointInRing.h"

namespace veldra {

// `roof` is one horizontal ring (either way round). No faces when it has fewer than
// 3 points or the base is not below it.
std::vector<std::vector<Point3>> roofBody(const std::vector<Point3>& roof, double baseZ);

}  // namespace veldra
