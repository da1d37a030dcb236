// Curved roofs drawn with straight pieces: Barrel over a four-corner footprint,
// Cone and Dome over the circle in the footprint's box, Nave (a gabled hall with a
// half-round apse at its west end) over the footprint's box.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Primitives.h"

namespace veldra::lod2fit::primitives {

namespace {

// `segments` comes from outside: more pieces than this draw nothing finer and only cost memory.
constexpr int kMaxSegments = 256;
int segmentsOf(const RoofParams& p, int least) { return std::clamp(p.segments, least, std::max(least, kMaxSegments)); }

// A sine arch across the depth, run along the width; the ends are vertical walls.
class Barrel final : public RoofPrimitive {
 public:
  const char* name() const override { return "Barrel"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const auto q = convexQuad(in->footprint);
    const RoofParams& p = in->params;
    if (!q) return flatSolid(in->footprint, p);
    auto w = buildWallsAndBase(in->footprint, p.groundZ, std::vector<double>(4, p.eaveZ));
    const int n = segmentsOf(p, 2);
    std::vector<std::uint32_t> west{w.top[0]}, east{w.top[1]};
    for (int k = 1; k < n; ++k) {
      const double t = static_cast<double>(k) / n;
      const double z = p.eaveZ + std::sin(t * std::numbers::pi) * (p.ridgeZ - p.eaveZ);
      const Point2 a = q->at(0, t), b = q->at(1, t);
      west.push_back(addVertex(w.mesh, {a.x, a.y, z}));
      east.push_back(addVertex(w.mesh, {b.x, b.y, z}));
    }
    west.push_back(w.top[3]);
    east.push_back(w.top[2]);
    for (int k = 0; k < n; ++k) addFace(w.mesh, {west[k], east[k], east[k + 1], west[k + 1]});
    addFace(w.mesh, west);
    std::vector<std::uint32_t> eastEnd{w.top[1], w.top[2]};
    for (int k = n - 1; k >= 1; --k) eastEnd.push_back(east[k]);
    addFace(w.mesh, eastEnd);
    return std::move(w.mesh);
  }
};

struct Circle {
  double cx, cy, r;
};
Circle inscribed(const std::vector<Point2>& fp) {
  const Box2 b = boundingBox(fp);
  return {(b.x0 + b.x1) / 2, (b.y0 + b.y1) / 2, std::min(b.x1 - b.x0, b.y1 - b.y0) / 2};
}
std::vector<Point2> ring(const Circle& c, double r, int k) {
  std::vector<Point2> out;
  for (int i = 0; i < k; ++i) {
    const double a = i * 2 * std::numbers::pi / k;
    out.push_back({c.cx + r * std::cos(a), c.cy + r * std::sin(a)});
  }
  return out;
}

class Cone final : public RoofPrimitive {
 public:
  const char* name() const override { return "Cone"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const RoofParams& p = in->params;
    const Circle c = inscribed(in->footprint);
    const int k = segmentsOf(p, 3);
    auto w = buildWallsAndBase(ring(c, c.r, k), p.groundZ, std::vector<double>(k, p.eaveZ));
    const auto apex = addVertex(w.mesh, {c.cx, c.cy, p.ridgeZ});
    for (int i = 0; i < k; ++i) addFace(w.mesh, {w.top[i], w.top[(i + 1) % k], apex});
    return std::move(w.mesh);
  }
};

class Dome final : public RoofPrimitive {
 public:
  const char* name() const override { return "Dome"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const RoofParams& p = in->params;
    const Circle c = inscribed(in->footprint);
    const int k = segmentsOf(p, 3);
    const int m = std::max(6, segmentsOf(p, 3) / 2);
    auto w = buildWallsAndBase(ring(c, c.r, k), p.groundZ, std::vector<double>(k, p.eaveZ));
    std::vector<std::uint32_t> below = w.top;
    for (int j = 1; j < m; ++j) {
      const double phi = j * (std::numbers::pi / 2) / m;
      const double z = p.eaveZ + (p.ridgeZ - p.eaveZ) * std::sin(phi);
      std::vector<std::uint32_t> above;
      for (const Point2 q : ring(c, c.r * std::cos(phi), k)) above.push_back(addVertex(w.mesh, {q.x, q.y, z}));
      for (int i = 0; i < k; ++i) addFace(w.mesh, {below[i], below[(i + 1) % k], above[(i + 1) % k], above[i]});
      below = std::move(above);
    }
    const auto top = addVertex(w.mesh, {c.cx, c.cy, p.ridgeZ});
    for (int i = 0; i < k; ++i) addFace(w.mesh, {below[i], below[(i + 1) % k], top});
    return std::move(w.mesh);
  }
};

// The hall spans the box; its ridge runs along x at mid-depth and ends over the apse's
// centre, where the apse's half cone meets it.
class Nave final : public RoofPrimitive {
 public:
  const char* name() const override { return "Nave"; }
  RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const override {
    const auto in = prepareBuild(params, footprint);
    if (!in) return {};
    const RoofParams& p = in->params;
    if (in->footprint.size() != 4) return flatSolid(in->footprint, p);
    const Box2 b = boundingBox(in->footprint);
    const double cy = (b.y0 + b.y1) / 2, r = (b.y1 - b.y0) / 2;
    const int n = segmentsOf(p, 4);
    // Outline: the east corners, then the apse from the north-west corner round to the south-west one.
    std::vector<Point2> outline{{b.x1, b.y0}, {b.x1, b.y1}};
    for (int k = 0; k <= n; ++k) {
      const double a = std::numbers::pi / 2 + k * std::numbers::pi / n;
      outline.push_back({b.x0 + r * std::cos(a), cy + r * std::sin(a)});
    }
    outline[2] = {b.x0, b.y1};   // exact corners where the apse meets the hall's walls
    outline.back() = {b.x0, b.y0};
    auto w = buildWallsAndBase(outline, p.groundZ, std::vector<double>(outline.size(), p.eaveZ));
    const auto r0 = addVertex(w.mesh, {b.x0, cy, p.ridgeZ});
    const auto r1 = addVertex(w.mesh, {b.x1, cy, p.ridgeZ});
    const auto& t = w.top;
    const auto sw = t.back(), se = t[0], ne = t[1], nw = t[2];
    addFace(w.mesh, {sw, se, r1, r0});
    addFace(w.mesh, {ne, nw, r0, r1});
    addFace(w.mesh, {se, ne, r1});
    for (std::size_t k = 2; k + 1 < t.size(); ++k) addFace(w.mesh, {t[k], t[k + 1], r0});
    return std::move(w.mesh);
  }
};

}  // namespace

const RoofPrimitive& barrel() {
  static const Barrel p;
  return p;
}
const RoofPrimitive& cone() {
  static const Cone p;
  return p;
}
const RoofPrimitive& dome() {
  static const Dome p;
  return p;
}
const RoofPrimitive& nave() {
  static const Nave p;
  return p;
}

}  // namespace veldra::lod2fit::primitives
