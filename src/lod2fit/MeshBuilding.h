// Pieces every primitive is made of: the checked footprint, the base and walls,
// planar faces, the reading of a four-corner footprint as a quadrilateral frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "geo/Point.h"
#include "lod2fit/RoofTypes.h"

namespace veldra::lod2fit {

// The footprint made fit to build on: non-finite corners refuse it; a closing
// corner equal to the first, repeated corners and corners on a straight line are
// dropped; fewer than 3 corners left, more than kMaxFootprintCorners or crossing edges
// refuse it. The result runs counter-clockwise and keeps the first corner first.
inline constexpr std::size_t kMaxFootprintCorners = 10000;   // the crossing test is quadratic
std::optional<std::vector<Point2>> usableFootprint(const std::vector<Point2>& footprint);

// Parameters a solid can be built from, or nothing when a height is not finite.
// The eaves stay at least 0.1 m over the ground and the ridge 0.1 m over the eaves,
// so no roof turns inside out.
std::optional<RoofParams> buildableParams(const RoofParams& params);

// Both checks at once: what every primitive starts from.
struct BuildInput {
  std::vector<Point2> footprint;
  RoofParams params;
};
std::optional<BuildInput> prepareBuild(const RoofParams& params, const std::vector<Point2>& footprint);

struct WallsAndBase {
  RoofMesh mesh;
  std::vector<std::uint32_t> top;   // index of the top ring's vertex over each footprint corner
};

// Vertices 0..n-1: the footprint at groundZ; n..2n-1: the footprint at the given
// heights. Face 0 is the base, then the wall quad of each edge. For a
// counter-clockwise footprint every face looks outward. Fewer than 3 corners or a
// height count other than n give an empty mesh.
WallsAndBase buildWallsAndBase(const std::vector<Point2>& footprint, double groundZ, const std::vector<double>& heights);

std::uint32_t addVertex(RoofMesh& mesh, Point3 p);
// Adds the face as given when its corners lie in one plane; otherwise as a fan of
// triangles, which closes the same boundary.
void addFace(RoofMesh& mesh, const std::vector<std::uint32_t>& face);
// Appends `part`, its indices shifted.
void appendMesh(RoofMesh& mesh, const RoofMesh& part);

// The walls to eaveZ and the top ring as one face.
RoofMesh flatSolid(const std::vector<Point2>& footprint, const RoofParams& params);

// A four-corner footprint read as the frame p(u, v): u runs from edge p0p3 to edge
// p1p2, v from edge p0p1 to edge p3p2 (bilinear). For the rectangle
// (x0, y0), (x1, y0), (x1, y1), (x0, y1) it is (x0 + u·width, y0 + v·depth).
struct QuadFrame {
  Point2 p[4];
  Point2 at(double u, double v) const;
  double width() const;   // |p1 - p0|
  double depth() const;   // |p3 - p0|
  double midlineLength() const;   // from the middle of p3p0 to the middle of p1p2
};
// The frame of a usable footprint with exactly 4 corners forming a convex
// quadrilateral; nothing otherwise.
std::optional<QuadFrame> convexQuad(const std::vector<Point2>& usable);

struct Box2 {
  double x0 = 0, y0 = 0, x1 = 0, y1 = 0;
};
Box2 boundingBox(const std::vector<Point2>& points);
// (x0, y0), (x1, y0), (x1, y1), (x0, y1), or started at the second corner so that
// a gable built on it runs its ridge along y.
enum class RidgeAlong { X, Y };
std::vector<Point2> rectangle(double x0, double y0, double x1, double y1, RidgeAlong ridge = RidgeAlong::X);

double polygonArea(const std::vector<Point2>& polygon);   // positive counter-clockwise

}  // namespace veldra::lod2fit
