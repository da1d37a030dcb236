// Roofs over any footprint: Flat, Shed, Tent.
#include <algorithm>
#include <cmath>
#include <limits>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Primitives.h"

namespace veldra::lod2fit::primitives {

namespace {

class Flat final : public RoofPrimitive {
 public:
  const char* name() const override { return "Flat"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    return in ? flatSolid(in->footprint, in->params) : RoofMesh{};
  }
};

class Shed final : public RoofPrimitive {
 public:
  const char* name() const override { return "Shed"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const RoofParams& p = in->params;
    double ax = p.axisX, ay = p.axisY;
    const double len = std::hypot(ax, ay);
    if (len < 1e-12) ax = 1, ay = 0;
    else ax /= len, ay /= len;
    // The roof rises across the axis.
    const double sx = -ay, sy = ax;
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    for (const Point2 q : in->footprint) {
      lo = std::min(lo, sx * q.x + sy * q.y);
      hi = std::max(hi, sx * q.x + sy * q.y);
    }
    const double span = hi - lo < 1e-12 ? 1.0 : hi - lo;
    std::vector<double> heights;
    for (const Point2 q : in->footprint) heights.push_back(p.eaveZ + (sx * q.x + sy * q.y - lo) / span * (p.ridgeZ - p.eaveZ));
    auto w = buildWallsAndBase(in->footprint, p.groundZ, heights);
    w.mesh.faces.push_back(w.top);
    return std::move(w.mesh);
  }
};

class Tent final : public RoofPrimitive {
 public:
  const char* name() const override { return "Tent"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const auto& fp = in->footprint;
    Point2 c{0, 0};
    for (const Point2 q : fp) c.x += q.x / static_cast<double>(fp.size()), c.y += q.y / static_cast<double>(fp.size());
    // The apex must see every edge from inside, or the roof faces would fold over each other.
    for (std::size_t i = 0; i < fp.size(); ++i) {
      const Point2 a = fp[i], b = fp[(i + 1) % fp.size()];
      if ((a.x - c.x) * (b.y - c.y) - (a.y - c.y) * (b.x - c.x) <= 0) return flatSolid(fp, in->params);
    }
    auto w = buildWallsAndBase(fp, in->params.groundZ, std::vector<double>(fp.size(), in->params.eaveZ));
    const auto apex = addVertex(w.mesh, {c.x, c.y, in->params.ridgeZ});
    for (std::size_t i = 0; i < fp.size(); ++i) w.mesh.faces.push_back({w.top[i], w.top[(i + 1) % fp.size()], apex});
    return std::move(w.mesh);
  }
};

}  // namespace

const RoofPrimitive& flat() {
  static const Flat instance;
  return instance;
}
const RoofPrimitive& shed() {
  static const Shed instance;
  return instance;
}
const RoofPrimitive& tent() {
  static const Tent instance;
  return instance;
}

}  // namespace veldra::lod2fit::primitives
