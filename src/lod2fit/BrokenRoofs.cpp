// Roofs whose slopes break: Mansard and BerlinRoof (steep lower slopes up to the
// break height, flatter ones above), and FiveSidedGabled (a short ridge over any
// convex footprint, joined to every eave).
#include <algorithm>
#include <cmath>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Primitives.h"

namespace veldra::lod2fit::primitives {

namespace {

struct Break {
  double z;       // break height
  double inset;   // metres in from the eaves, on the depth
};

Break breakOf(const QuadFrame& q, const RoofParams& p) {
  const double depth = q.depth();
  const double inset = std::clamp(depth / 2 * p.breakInsetFraction, 0.0, depth / 2 - 1e-6);
  return {p.eaveZ + (p.ridgeZ - p.eaveZ) * std::clamp(p.breakHeightFraction, 0.0, 1.0), inset};
}

// Steep slopes on all four sides up to the break ring, a hipped roof above it.
RoofMesh mansardShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  auto w = buildWallsAndBase(fp, p.groundZ, std::vector<double>(4, p.eaveZ));
  const Break br = breakOf(q, p);
  const double width = q.width(), depth = q.depth();
  const double ui = std::min(br.inset, width / 2 - 1e-6) / width, vi = br.inset / depth;
  const double ua = std::min(depth / 2, width / 2 - 1e-6) / width;   // hips at 45 degrees in plan on a rectangle
  const auto at = [&](double u, double v, double z) {
    const Point2 c = q.at(u, v);
    return addVertex(w.mesh, {c.x, c.y, z});
  };
  const std::uint32_t b[4] = {at(ui, vi, br.z), at(1 - ui, vi, br.z), at(1 - ui, 1 - vi, br.z), at(ui, 1 - vi, br.z)};
  const auto rA = at(ua, 0.5, p.ridgeZ), rB = at(1 - ua, 0.5, p.ridgeZ);
  const auto& t = w.top;
  for (std::size_t i = 0; i < 4; ++i) addFace(w.mesh, {t[i], t[(i + 1) % 4], b[(i + 1) % 4], b[i]});
  addFace(w.mesh, {b[0], b[1], rB, rA});
  addFace(w.mesh, {b[2], b[3], rA, rB});
  addFace(w.mesh, {b[3], b[0], rA});
  addFace(w.mesh, {b[1], b[2], rB});
  return std::move(w.mesh);
}

// Steep slopes on the long sides only; gable walls at both ends.
RoofMesh berlinShape(const QuadFrame& q, const std::vector<Point2>& fp, const RoofParams& p) {
  auto w = buildWallsAndBase(fp, p.groundZ, std::vector<double>(4, p.eaveZ));
  const Break br = breakOf(q, p);
  const double vi = br.inset / q.depth();
  const auto at = [&](double u, double v, double z) {
    const Point2 c = q.at(u, v);
    return addVertex(w.mesh, {c.x, c.y, z});
  };
  const auto b0 = at(0, vi, br.z), b1 = at(1, vi, br.z), b2 = at(1, 1 - vi, br.z), b3 = at(0, 1 - vi, br.z);
  const auto rA = at(0, 0.5, p.ridgeZ), rB = at(1, 0.5, p.ridgeZ);
  const auto& t = w.top;
  addFace(w.mesh, {t[0], t[1], b1, b0});
  addFace(w.mesh, {b0, b1, rB, rA});
  addFace(w.mesh, {b3, rA, rB, b2});
  addFace(w.mesh, {t[3], b3, b2, t[2]});
  addFace(w.mesh, {t[0], b0, rA, b3, t[3]});
  addFace(w.mesh, {t[1], t[2], b2, rB, b1});
  return std::move(w.mesh);
}

template <RoofMesh (*Shape)(const QuadFrame&, const std::vector<Point2>&, const RoofParams&)>
class QuadRoof final : public RoofPrimitive {
 public:
  explicit QuadRoof(const char* name) : name_(name) {}
  const char* name() const override { return name_; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const auto q = convexQuad(in->footprint);
    return q ? Shape(*q, in->footprint, in->params) : flatSolid(in->footprint, in->params);
  }

 private:
  const char* name_;
};

double turn(Point2 o, Point2 a, Point2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }

// A ridge along x through the middle of the footprint's box (0.5 of its depth), 0.22 of
// the box width to each side of its centre but no longer than 0.45 of the depth. Each eave
// corner leans on the nearer ridge end; the two edges where that changes carry the long
// slopes. Footprints on which some face would fold over (concave ones, ones the ridge
// leaves) get the Flat roof.
class FiveSidedGabled final : public RoofPrimitive {
 public:
  const char* name() const override { return "FiveSidedGabled"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const auto& fp = in->footprint;
    const Box2 box = boundingBox(fp);
    const double cx = (box.x0 + box.x1) / 2, cy = box.y0 + 0.5 * (box.y1 - box.y0);
    const double half = std::min(0.22 * (box.x1 - box.x0), 0.45 * (box.y1 - box.y0));
    const Point2 ra{cx - half, cy}, rb{cx + half, cy};
    const std::size_t n = fp.size();
    const auto end = [&](std::size_t i) { return fp[i % n].x < cx ? ra : rb; };
    int switches = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const Point2 a = fp[i], b = fp[(i + 1) % n], ea = end(i), eb = end(i + 1);
      bool folds = turn(a, b, eb) <= 0;
      if (ea.x != eb.x) {
        ++switches;
        folds = folds || turn(b, eb, ea) <= 0 || turn(eb, ea, a) <= 0 || turn(ea, a, b) <= 0;
      }
      if (folds) return flatSolid(fp, in->params);
    }
    if (switches != 2) return flatSolid(fp, in->params);
    const RoofParams& p = in->params;
    auto w = buildWallsAndBase(fp, p.groundZ, std::vector<double>(n, p.eaveZ));
    const auto rA = addVertex(w.mesh, {ra.x, ra.y, p.ridgeZ});
    const auto rB = addVertex(w.mesh, {rb.x, rb.y, p.ridgeZ});
    const auto idx = [&](std::size_t i) { return fp[i % n].x < cx ? rA : rB; };
    for (std::size_t i = 0; i < n; ++i) {
      const auto a = w.top[i], b = w.top[(i + 1) % n], ea = idx(i), eb = idx(i + 1);
      if (ea == eb) addFace(w.mesh, {a, b, ea});
      else addFace(w.mesh, {a, b, eb, ea});
    }
    return std::move(w.mesh);
  }
};

}  // namespace

const RoofPrimitive& mansard() {
  static const QuadRoof<&mansardShape> p("Mansard");
  return p;
}
const RoofPrimitive& berlinRoof() {
  static const QuadRoof<&berlinShape> p("BerlinRoof");
  return p;
}
const RoofPrimitive& fiveSidedGabled() {
  static const FiveSidedGabled p;
  return p;
}

}  // namespace veldra::lod2fit::primitives
