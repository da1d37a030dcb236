// Triangles of one solid face in its own plane: ear clipping of concave,
// non-planar and holed faces, the quasi-fan test and the edge-flip
// improvement. Indices refer to the face's points, outer ring first, then
// each hole's points in order.
#pragma once

#include <array>
#include <vector>

#include "geo/Point.h"

namespace veldra {

using Triangle = std::array<int, 3>;

enum class FaceShape { PlanarConvex, PlanarConcave, NonPlanar };

// Sum of the edges' cross terms (Newell): its direction follows the ring's
// turning, its length is twice the area of a planar ring.
Point3 newellNormal(const std::vector<Point3>& ring);

// Points further than this from the face's mean plane make it non-planar.
inline constexpr double kPlanarTolerance = 0.01;

FaceShape classifyFace(const std::vector<Point3>& ring, const Point3& normal);

// Coordinates in the plane perpendicular to `normal`, turning counter-clockwise
// when seen from the side the normal points to.
std::vector<Point2> toPlane(const std::vector<Point3>& points, const Point3& normal);

// Ear clipping of `loop` (indices into pts, may visit a point twice where a
// hole is bridged), made counter-clockwise by signed area first. An ear is a
// convex corner whose triangle holds no other vertex. Gives nothing when the
// loop cannot be cut to its end.
std::vector<Triangle> earClip(const std::vector<Point2>& pts, std::vector<int> loop);

// One loop visiting the outer ring and every hole through a bridge to the
// nearest outer or already bridged vertex it can see. `holeStarts` are the
// indices where each hole begins in pts (the outer ring is 0 .. first - 1).
std::vector<int> bridgeHoles(const std::vector<Point2>& pts, const std::vector<int>& holeStarts);

struct FanCheck {
  bool quasiFan = false;   // more than 4 triangles and one vertex in >= 60 % (truncated) of them
  int maxDegree = 0;
};
FanCheck checkQuasiFan(const std::vector<Triangle>& tris);

// Delaunay-style flips of shared edges of strictly convex quadrilaterals, at
// most 4 T + 8 of them, always the lowest qualifying edge first. Gives the
// number of flips made.
int flipEdges(const std::vector<Point2>& pts, std::vector<Triangle>& tris);

}  // namespace veldra
