// Roofs with one ridge over a four-corner footprint: Gabled, Hipped,
// HippedOneSided, AsymGabled, HalfHipped. The footprint is read as a frame
// (MeshBuilding.h), so a rectangle gets exactly the textbook roof and any other
// convex quadrilateral the same roof drawn into it.
#include <algorithm>
#include <cmath>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Primitives.h"

namespace veldra::lod2fit::primitives {

namespace {

// Ridge ends as (u, v) in the frame: a at the p3p0 end, b at the p1p2 end.
struct Ridge {
  double ua, va, ub, vb;
};

RoofMesh ridged(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p, Ridge r) {
  auto w = buildWallsAndBase(fp, p.groundZ, std::vector<double>(4, p.eaveZ));
  const Point2 a = q.at(r.ua, r.va), b = q.at(r.ub, r.vb);
  const auto rA = addVertex(w.mesh, {a.x, a.y, p.ridgeZ});
  const auto rB = addVertex(w.mesh, {b.x, b.y, p.ridgeZ});
  const auto& t = w.top;
  addFace(w.mesh, {t[0], t[1], rB, rA});
  addFace(w.mesh, {t[3], rA, rB, t[2]});
  addFace(w.mesh, {t[0], rA, t[3]});
  addFace(w.mesh, {t[1], t[2], rB});
  return std::move(w.mesh);
}

// The inset along the midline as a share of it, at most `limit` metres.
double insetShare(const QuadFrame& q, double inset, double limit) {
  const double len = q.midlineLength();
  return len > 0 ? std::clamp(inset, 0.0, std::max(0.0, limit)) / len : 0.0;
}

template <class Shape>
class RidgedRoof final : public RoofPrimitive {
 public:
  RidgedRoof(const char* name, Shape shape) : name_(name), shape_(shape) {}
  const char* name() const override { return name_; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const auto q = convexQuad(in->footprint);
    if (!q) return flatSolid(in->footprint, in->params);
    return shape_(*q, in->footprint, in->params);
  }

 private:
  const char* name_;
  Shape shape_;
};

RoofMesh gabledShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  return ridged(q, fp, p, {0, 0.5, 1, 0.5});
}

RoofMesh hippedShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  const double h = insetShare(q, p.hipInset, q.midlineLength() / 2 - 1e-6);
  return ridged(q, fp, p, {h, 0.5, 1 - h, 0.5});
}

RoofMesh hippedOneSidedShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  const double h = insetShare(q, p.hipInset, q.midlineLength() - 1e-6);
  return ridged(q, fp, p, {0, 0.5, 1 - h, 0.5});
}

RoofMesh asymGabledShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  return ridged(q, fp, p, {0, 0.68, 1, 0.68});
}

// Gable walls cut at the knee height, small hips above them.
RoofMesh halfHippedShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  auto w = buildWallsAndBase(fp, p.groundZ, std::vector<double>(4, p.eaveZ));
  const double h = insetShare(q, p.hipInset, q.width() / 2 - 1e-6);
  const double f = std::clamp(p.halfHipFraction, 0.05, 0.95);
  const double zb = p.eaveZ + (p.ridgeZ - p.eaveZ) * f;
  const auto at = [&](double u, double v, double z) {
    const Point2 c = q.at(u, v);
    return addVertex(w.mesh, {c.x, c.y, z});
  };
  const auto r1 = at(h, 0.5, p.ridgeZ), r2 = at(1 - h, 0.5, p.ridgeZ);
  const auto k1 = at(0, 0.5 * f, zb), k2 = at(0, 1 - 0.5 * f, zb);
  const auto k3 = at(1, 0.5 * f, zb), k4 = at(1, 1 - 0.5 * f, zb);
  const auto& t = w.top;
  addFace(w.mesh, {k1, t[0], t[1], k3, r2, r1});
  addFace(w.mesh, {t[3], k2, r1, r2, k4, t[2]});
  addFace(w.mesh, {t[0], k1, k2, t[3]});
  addFace(w.mesh, {t[1], t[2], k4, k3});
  addFace(w.mesh, {k1, r1, k2});
  addFace(w.mesh, {k3, k4, r2});
  return std::move(w.mesh);
}

}  // namespace

const RoofPrimitive& gabled() {
  static const RidgedRoof p("Gabled", &gabledShape);
  return p;
}
const RoofPrimitive& hipped() {
  static const RidgedRoof p("Hipped", &hippedShape);
  return p;
}
const RoofPrimitive& hippedOneSided() {
  static const RidgedRoof p("HippedOneSided", &hippedOneSidedShape);
  return p;
}
const RoofPrimitive& asymGabled() {
  static const RidgedRoof p("AsymGabled", &asymGabledShape);
  return p;
}
const RoofPrimitive& halfHipped() {
  static const RidgedRoof p("HalfHipped", &halfHippedShape);
  return p;
}

}  // namespace veldra::lod2fit::primitives
