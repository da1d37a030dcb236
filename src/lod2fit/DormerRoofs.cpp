// A gabled main roof with dormers on its front (lower y) slope. Each dormer is a
// small closed solid of its own standing on the eave level, inside the main body,
// and reaching out through the slope; it is placed in the footprint's frame, so it
// follows a turned footprint. Footprints the main gable cannot carry get the Flat
// roof, without dormers.
#include <algorithm>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Primitives.h"

namespace veldra::lod2fit::primitives {

namespace {

// A dormer's box in the frame (u across the width, v up the front slope, 0.5 at the
// ridge) and its heights as shares of the main roof's rise.
struct DormerShape {
  double u0, u1, v0, v1;
  double eaveShare, topShare;
};

RoofMesh dormer(const QuadFrame& q, const RoofParams& main, const DormerShape& d, const RoofPrimitive& body) {
  RoofParams p = main;
  const double rise = main.ridgeZ - main.eaveZ;
  p.groundZ = main.eaveZ;
  p.eaveZ = main.eaveZ + d.eaveShare * rise;
  p.ridgeZ = main.eaveZ + d.topShare * rise;
  // A shed dormer rises up the main slope, across its axis.
  p.axisX = q.p[3].y - q.p[0].y;
  p.axisY = q.p[0].x - q.p[3].x;
  return body.build(p, {q.at(d.u1, d.v0), q.at(d.u1, d.v1), q.at(d.u0, d.v1), q.at(d.u0, d.v0)});
}

class Dormers final : public RoofPrimitive {
 public:
  enum class Kind { Shed, Gabled };
  Dormers(const char* name, Kind kind) : name_(name), kind_(kind) {}
  const char* name() const override { return name_; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const auto q = convexQuad(in->footprint);
    if (!q) return flatSolid(in->footprint, in->params);
    RoofMesh mesh = gabled().build(in->params, in->footprint);
    const double width = q->width();
    if (width <= 0) return mesh;
    if (kind_ == Kind::Shed) {
      // One wide dormer rising gently from its front at 0.14 of the half depth; its back,
      // at 0.9 of the half depth, ends under the main slope.
      const double half = std::min(in->params.dormerWidth, 0.9 * width) / width / 2;
      appendMesh(mesh, dormer(*q, in->params, {0.5 - half, 0.5 + half, 0.5 * 0.14, 0.5 * 0.9, 0.3, 0.56}, shed()));
      return mesh;
    }
    // Dormers spread evenly along the width; each at most 1/1.4 of its share of it, so
    // neighbours keep a gap. The front stands at 0.13 of the half depth, the back at 0.95 of
    // it; walls up to 0.3 of the main rise, the ridge 0.1 of it under the main ridge, so the
    // dormer's back ends under the main slope.
    const int count = std::clamp(in->params.dormerCount, 1, 64);
    const double dw = std::min(in->params.dormerWidth, width / count / 1.4) / width;
    for (int i = 0; i < count; ++i) {
      const double c = (i + 1.0) / (count + 1.0);
      appendMesh(mesh, dormer(*q, in->params, {c - 0.5 * dw, c + 0.5 * dw, 0.5 * 0.13, 0.5 * 0.95, 0.3, 1 - 0.1},
                              gabled()));
    }
    return mesh;
  }

 private:
  const char* name_;
  Kind kind_;
};

}  // namespace

const RoofPrimitive& shedDormer() {
  static const Dormers p("ShedDormer", Dormers::Kind::Shed);
  return p;
}
const RoofPrimitive& gabledDormer() {
  static const Dormers p("GabledDormer", Dormers::Kind::Gabled);
  return p;
}

}  // namespace veldra::lod2fit::primitives
