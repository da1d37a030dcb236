// How well a built solid fits its points: the mean distance of the points to the
// solid's surface (roof, walls and base).
#pragma once

#include <vector>

#include "geo/Point.h"
#include "lod2fit/RoofTypes.h"

namespace veldra::lod2fit {

// Euclidean distance from P to the triangle KLM (its closest point may lie on a
// side or a corner); a degenerate triangle measures to K.
double pointTriangleDistance(Point3 p, Point3 k, Point3 l, Point3 m);

// Mean over at most about 5000 of the points (every k-th) of the distance to the
// nearest face; 1e9 without points or faces.
double meanSurfaceDistance(const std::vector<Point3>& points, const RoofMesh& mesh);

}  // namespace veldra::lod2fit
