#include "lod2fit/Reconstruction.h"

#include <cmath>
#include <algorithm>
#include <string>

#include "lod2fit/RoofFitting.h"
#include "lod2fit/RoofPrimitive.h"
#include "lod2fit/SurfaceDistance.h"

namespace veldra::lod2fit {

namespace {

struct Turn {
  double cx = 0, cy = 0, cosA = 1, sinA = 0;
  Point2 apply(Point2 p) const {
    const double x = p.x - cx, y = p.y - cy;
    return {cx + x * cosA - y * sinA, cy + x * sinA + y * cosA};
  }
  Point3 apply(Point3 p) const {
    const Point2 q = apply(Point2{p.x, p.y});
    return {q.x, q.y, p.z};
  }
};

// Index of the longest edge, the first on ties.
std::size_t longestEdge(const std::vector<Point2>& fp) {
  std::size_t best = 0;
  double bestLen = -1;
  for (std::size_t i = 0; i < fp.size(); ++i) {
    const Point2 a = fp[i], b = fp[(i + 1) % fp.size()];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    if (len > bestLen) bestLen = len, best = i;
  }
  return best;
}

// The ways a primitive can be laid on the footprint that the footprint alone cannot tell
// apart: a four-corner footprint listed from another corner (a gable runs its ridge along
// the first edge, an asymmetric gable leans towards it, a dormer stands on it), a shed
// rising to the other side. The first way is the footprint listed from its longest edge.
// Starting corners that give the same solid again are not tried: symmetric roofs need two,
// roofs with a front four; kinds read from the footprint's box or from all its corners alike,
// one.
std::size_t startsFor(const std::string& kind) {
  for (const char* k : {"Gabled", "Hipped", "HalfHipped", "Mansard", "BerlinRoof", "Barrel"})
    if (kind == k) return 2;
  for (const char* k : {"AsymGabled", "HippedOneSided", "ShedDormer", "GabledDormer"})
    if (kind == k) return 4;
  return 1;
}

struct Placing {
  RoofParams params;
  std::vector<Point2> footprint;
};
std::vector<Placing> placings(const std::string& kind, const RoofParams& params, const std::vector<Point2>& footprint,
                              std::size_t longest) {
  std::vector<Placing> out;
  const std::size_t starts = footprint.size() == 4 ? startsFor(kind) : 1;
  for (std::size_t k = 0; k < starts; ++k) {
    Placing p{params, {}};
    for (std::size_t i = 0; i < footprint.size(); ++i) p.footprint.push_back(footprint[(longest + k + i) % footprint.size()]);
    out.push_back(p);
    if (kind == "Shed") {
      p.params.axisX = -params.axisX;
      p.params.axisY = -params.axisY;
      out.push_back(std::move(p));
    }
  }
  return out;
}

}  // namespace

RoofFitResult reconstructBuilding(const ReconstructionInput& input) {
  const auto& fp = input.footprint;
  Point2 centre{0, 0};
  double theta = 0;
  if (!fp.empty()) {
    for (const Point2 p : fp) centre.x += p.x, centre.y += p.y;
    centre.x /= static_cast<double>(fp.size());
    centre.y /= static_cast<double>(fp.size());
    const std::size_t e = longestEdge(fp);
    const Point2 a = fp[e], b = fp[(e + 1) % fp.size()];
    theta = std::atan2(b.y - a.y, b.x - a.x);
  }
  if (!std::isfinite(theta)) theta = 0;
  const Turn back{centre.x, centre.y, std::cos(theta), std::sin(theta)};
  const Turn forth{centre.x, centre.y, back.cosA, -back.sinA};

  std::vector<Point2> footprint;
  for (const Point2 p : fp) footprint.push_back(forth.apply(p));
  std::vector<Point3> points;
  for (const Point3& p : input.points)
    if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) points.push_back(forth.apply(p));

  const RoofHeights heights = estimateRoofHeights(points, input.groundZ);
  const std::vector<Point3>& used = heights.found ? heights.roofPoints : points;
  const double eaveZ = heights.found ? heights.eaveZ : input.groundZ + 0.1;
  const double ridgeZ = heights.found ? heights.ridgeZ : input.groundZ + 3.0;
  const RoofTypeGuess guess = classifyRoof(detectRoofPlanes(used), used);

  RoofFitResult out;
  out.type = input.forcedType.empty() ? guess.type : input.forcedType;
  out.classifiedType = guess.type;
  out.confidence = guess.confidence;
  out.params = input.params;
  out.params.groundZ = input.groundZ;
  out.params.eaveZ = eaveZ;
  out.params.ridgeZ = std::max(ridgeZ, eaveZ + 0.1);
  out.params.axisX = 1;
  out.params.axisY = 0;
  if (!footprint.empty()) {
    const std::size_t e = longestEdge(footprint);
    const Point2 a = footprint[e], b = footprint[(e + 1) % footprint.size()];
    const double len = std::hypot(b.x - a.x, b.y - a.y);
    if (len >= 1e-9) out.params.axisX = (b.x - a.x) / len, out.params.axisY = (b.y - a.y) / len;
  }
  const RoofPrimitive& primitive = roofPrimitiveNamed(out.type);
  out.meanDistance = 1e9;
  bool first = true;
  for (Placing& p : placings(primitive.name(), out.params, footprint, footprint.empty() ? 0 : longestEdge(footprint))) {
    RoofMesh mesh = primitive.build(p.params, p.footprint);
    const double d = meanSurfaceDistance(used, mesh);
    if (first || d < out.meanDistance) {
      out.mesh = std::move(mesh);
      out.meanDistance = d;
      out.params = p.params;
      first = false;
    }
  }
  out.needsCorrection = !(out.meanDistance < 1.6 && out.confidence >= 0.5);
  for (Point3& v : out.mesh.vertices) v = back.apply(v);
  return out;
}

}  // namespace veldra::lod2fit
