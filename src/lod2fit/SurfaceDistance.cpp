#include "lod2fit/SurfaceDistance.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "geo/FaceTriangulation.h"

namespace veldra::lod2fit {

namespace {

Point3 sub(Point3 a, Point3 b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }
double dot(Point3 a, Point3 b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
Point3 crossP(Point3 a, Point3 b) { return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x}; }
double norm(Point3 a) { return std::sqrt(dot(a, a)); }
Point3 along(Point3 o, Point3 d, double t) { return {o.x + d.x * t, o.y + d.y * t, o.z + d.z * t}; }

// Triangles of a face: a fan when it is convex; cut into ears when it is not, since a
// fan over a concave outline covers ground outside it and would pull far points close.
std::vector<std::array<Point3, 3>> faceTriangles(const RoofMesh& mesh, const std::vector<std::uint32_t>& face) {
  std::vector<Point3> ring;
  for (const auto i : face) ring.push_back(mesh.vertices[i]);
  std::vector<std::array<Point3, 3>> out;
  const Point3 n = newellNormal(ring);
  if (ring.size() > 3 && classifyFace(ring, n) == FaceShape::PlanarConcave) {
    std::vector<int> loop;
    for (int i = 0; i < static_cast<int>(ring.size()); ++i) loop.push_back(i);
    const auto tris = earClip(toPlane(ring, n), loop);
    for (const Triangle& t : tris) out.push_back({ring[t[0]], ring[t[1]], ring[t[2]]});
    if (!out.empty()) return out;
  }
  for (std::size_t j = 2; j < ring.size(); ++j) out.push_back({ring[0], ring[j - 1], ring[j]});
  return out;
}

}  // namespace

double pointTriangleDistance(Point3 p, Point3 k, Point3 l, Point3 m) {
  const Point3 ab = sub(l, k), ac = sub(m, k), ap = sub(p, k);
  if (norm(crossP(ab, ac)) < 1e-12) return norm(ap);
  // Closest point by the regions of the triangle's corners, sides and face.
  const double d1 = dot(ab, ap), d2 = dot(ac, ap);
  if (d1 <= 0 && d2 <= 0) return norm(ap);
  const Point3 bp = sub(p, l);
  const double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0 && d4 <= d3) return norm(bp);
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0 && d1 >= 0 && d3 <= 0) return norm(sub(p, along(k, ab, d1 / (d1 - d3))));
  const Point3 cp = sub(p, m);
  const double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0 && d5 <= d6) return norm(cp);
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0 && d2 >= 0 && d6 <= 0) return norm(sub(p, along(k, ac, d2 / (d2 - d6))));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0)
    return norm(sub(p, along(l, sub(m, l), (d4 - d3) / ((d4 - d3) + (d5 - d6)))));
  const Point3 n = crossP(ab, ac);
  return std::abs(dot(ap, n)) / norm(n);
}

double meanSurfaceDistance(const std::vector<Point3>& points, const RoofMesh& mesh) {
  std::vector<std::array<Point3, 3>> tris;
  for (const auto& face : mesh.faces)
    if (face.size() >= 3) {
      const auto t = faceTriangles(mesh, face);
      tris.insert(tris.end(), t.begin(), t.end());
    }
  if (points.empty() || tris.empty()) return 1e9;
  const std::size_t step = points.size() > 5000 ? points.size() / 5000 : 1;
  double sum = 0;
  std::size_t count = 0;
  for (std::size_t i = 0; i < points.size(); i += step) {
    double best = std::numeric_limits<double>::infinity();
    for (const auto& t : tris) best = std::min(best, pointTriangleDistance(points[i], t[0], t[1], t[2]));
    sum += best;
    ++count;
  }
  return sum / static_cast<double>(count);
}

}  // namespace veldra::lod2fit
