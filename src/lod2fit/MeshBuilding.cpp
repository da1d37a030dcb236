#include "lod2fit/MeshBuilding.h"

#include <algorithm>
#include <cmath>

namespace veldra::lod2fit {

namespace {

// A micrometre: corners closer than this are one corner, and face corners off
// their plane by less are in it (coordinates may be national grid metres).
constexpr double kSameCorner = 1e-6;
constexpr double kOffPlane = 1e-6;
// Sine of the angle under which a corner is taken for a point on a straight edge.
constexpr double kStraight = 1e-9;

double cross(Point2 o, Point2 a, Point2 b) { return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x); }
double dist(Point2 a, Point2 b) { return std::hypot(a.x - b.x, a.y - b.y); }

bool segmentsMeet(Point2 a, Point2 b, Point2 c, Point2 d) {
  const double d1 = cross(c, d, a), d2 = cross(c, d, b), d3 = cross(a, b, c), d4 = cross(a, b, d);
  if (((d1 > 0 && d2 < 0) || (d1 < 0 && d2 > 0)) && ((d3 > 0 && d4 < 0) || (d3 < 0 && d4 > 0))) return true;
  const auto onSegment = [](Point2 p, Point2 q, Point2 r) {   // r on pq, given collinear
    return std::min(p.x, q.x) <= r.x && r.x <= std::max(p.x, q.x) && std::min(p.y, q.y) <= r.y &&
           r.y <= std::max(p.y, q.y);
  };
  return (d1 == 0 && onSegment(c, d, a)) || (d2 == 0 && onSegment(c, d, b)) || (d3 == 0 && onSegment(a, b, c)) ||
         (d4 == 0 && onSegment(a, b, d));
}

}  // namespace

double polygonArea(const std::vector<Point2>& polygon) {
  double a = 0;
  const std::size_t n = polygon.size();
  for (std::size_t i = 0; i < n; ++i) {
    const Point2 p = polygon[i], q = polygon[(i + 1) % n];
    a += (p.x - polygon[0].x) * (q.y - polygon[0].y) - (q.x - polygon[0].x) * (p.y - polygon[0].y);
  }
  return a / 2;
}

std::optional<std::vector<Point2>> usableFootprint(const std::vector<Point2>& footprint) {
  if (footprint.size() > kMaxFootprintCorners + 1) return std::nullopt;   // one more: a closing corner
  std::vector<Point2> pts;
  for (const Point2 p : footprint) {
    if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::nullopt;
    if (pts.empty() || dist(pts.back(), p) > kSameCorner) pts.push_back(p);
  }
  while (pts.size() > 1 && dist(pts.front(), pts.back()) <= kSameCorner) pts.pop_back();
  // Drop straight-through corners until none is left: removing one can straighten its neighbour.
  for (bool changed = true; changed && pts.size() >= 3;) {
    changed = false;
    for (std::size_t i = 0; i < pts.size() && pts.size() >= 3; ++i) {
      const Point2 a = pts[(i + pts.size() - 1) % pts.size()], b = pts[i], c = pts[(i + 1) % pts.size()];
      const double len = dist(a, b) * dist(b, c);
      if (len <= 0 || std::abs(cross(a, b, c)) <= kStraight * len) {
        pts.erase(pts.begin() + static_cast<std::ptrdiff_t>(i));
        changed = true;
        break;
      }
    }
  }
  const std::size_t n = pts.size();
  if (n < 3 || n > kMaxFootprintCorners) return std::nullopt;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      if (j == i + 1 || (i == 0 && j == n - 1)) continue;   // neighbours share a corner
      if (segmentsMeet(pts[i], pts[(i + 1) % n], pts[j], pts[(j + 1) % n])) return std::nullopt;
    }
  if (polygonArea(pts) < 0) std::reverse(pts.begin() + 1, pts.end());
  return pts;
}

std::optional<RoofParams> buildableParams(const RoofParams& params) {
  for (const double v : {params.groundZ, params.eaveZ, params.ridgeZ, params.axisX, params.axisY, params.hipInset,
                         params.breakHeightFraction, params.breakInsetFraction, params.halfHipFraction,
                         params.dormerWidth})
    if (!std::isfinite(v)) return std::nullopt;
  RoofParams p = params;
  p.eaveZ = std::max(p.eaveZ, p.groundZ + 0.1);
  p.ridgeZ = std::max(p.ridgeZ, p.eaveZ + 0.1);
  return p;
}

std::optional<BuildInput> prepareBuild(const RoofParams& params, const std::vector<Point2>& footprint) {
  auto fp = usableFootprint(footprint);
  auto p = buildableParams(params);
  if (!fp || !p) return std::nullopt;
  return BuildInput{std::move(*fp), *p};
}

std::uint32_t addVertex(RoofMesh& mesh, Point3 p) {
  mesh.vertices.push_back(p);
  return static_cast<std::uint32_t>(mesh.vertices.size() - 1);
}

void addFace(RoofMesh& mesh, const std::vector<std::uint32_t>& face) {
  if (face.size() > 3) {
    // Newell's normal, from the first corner so that large coordinates cancel.
    const Point3 o = mesh.vertices[face[0]];
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0; i < face.size(); ++i) {
      const Point3 a = mesh.vertices[face[i]], b = mesh.vertices[face[(i + 1) % face.size()]];
      nx += (a.y - o.y - (b.y - o.y)) * (a.z - o.z + b.z - o.z);
      ny += (a.z - o.z - (b.z - o.z)) * (a.x - o.x + b.x - o.x);
      nz += (a.x - o.x - (b.x - o.x)) * (a.y - o.y + b.y - o.y);
    }
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    bool planar = len > 0;
    for (std::size_t i = 1; planar && i < face.size(); ++i) {
      const Point3 p = mesh.vertices[face[i]];
      planar = std::abs((p.x - o.x) * nx + (p.y - o.y) * ny + (p.z - o.z) * nz) / len <= kOffPlane;
    }
    if (!planar) {
      for (std::size_t j = 2; j < face.size(); ++j) mesh.faces.push_back({face[0], face[j - 1], face[j]});
      return;
    }
  }
  mesh.faces.push_back(face);
}

void appendMesh(RoofMesh& mesh, const RoofMesh& part) {
  const auto shift = static_cast<std::uint32_t>(mesh.vertices.size());
  mesh.vertices.insert(mesh.vertices.end(), part.vertices.begin(), part.vertices.end());
  for (auto face : part.faces) {
    for (auto& i : face) i += shift;
    mesh.faces.push_back(std::move(face));
  }
}

WallsAndBase buildWallsAndBase(const std::vector<Point2>& footprint, double groundZ, const std::vector<double>& heights) {
  WallsAndBase out;
  const std::size_t n = footprint.size();
  if (n < 3 || heights.size() != n) return out;
  for (const Point2 p : footprint) addVertex(out.mesh, {p.x, p.y, groundZ});
  for (std::size_t i = 0; i < n; ++i) out.top.push_back(addVertex(out.mesh, {footprint[i].x, footprint[i].y, heights[i]}));
  // The base is seen from below: listed against the footprint's turning.
  std::vector<std::uint32_t> base;
  for (std::size_t i = n; i-- > 0;) base.push_back(static_cast<std::uint32_t>(i));
  out.mesh.faces.push_back(std::move(base));
  const auto u = [](std::size_t i) { return static_cast<std::uint32_t>(i); };
  for (std::size_t i = 0; i < n; ++i)
    addFace(out.mesh, {u(i), u((i + 1) % n), u(n + (i + 1) % n), u(n + i)});
  return out;
}

RoofMesh flatSolid(const std::vector<Point2>& footprint, const RoofParams& params) {
  auto w = buildWallsAndBase(footprint, params.groundZ, std::vector<double>(footprint.size(), params.eaveZ));
  if (!w.top.empty()) w.mesh.faces.push_back(w.top);
  return std::move(w.mesh);
}

Point2 QuadFrame::at(double u, double v) const {
  const Point2 a{p[0].x + (p[1].x - p[0].x) * u, p[0].y + (p[1].y - p[0].y) * u};
  const Point2 b{p[3].x + (p[2].x - p[3].x) * u, p[3].y + (p[2].y - p[3].y) * u};
  return {a.x + (b.x - a.x) * v, a.y + (b.y - a.y) * v};
}
double QuadFrame::width() const { return dist(p[0], p[1]); }
double QuadFrame::depth() const { return dist(p[0], p[3]); }
double QuadFrame::midlineLength() const { return dist(at(0, 0.5), at(1, 0.5)); }

std::optional<QuadFrame> convexQuad(const std::vector<Point2>& usable) {
  if (usable.size() != 4) return std::nullopt;
  for (std::size_t i = 0; i < 4; ++i)
    if (cross(usable[i], usable[(i + 1) % 4], usable[(i + 2) % 4]) <= 0) return std::nullopt;
  return QuadFrame{{usable[0], usable[1], usable[2], usable[3]}};
}

Box2 boundingBox(const std::vector<Point2>& points) {
  if (points.empty()) return {};
  Box2 b{points[0].x, points[0].y, points[0].x, points[0].y};
  for (const Point2 p : points) {
    b.x0 = std::min(b.x0, p.x);
    b.y0 = std::min(b.y0, p.y);
    b.x1 = std::max(b.x1, p.x);
    b.y1 = std::max(b.y1, p.y);
  }
  return b;
}

std::vector<Point2> rectangle(double x0, double y0, double x1, double y1, RidgeAlong ridge) {
  if (ridge == RidgeAlong::Y) return {{x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}};
  return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

}  // namespace veldra::lod2fit
