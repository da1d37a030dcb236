#include "host/ExportGeometry.h"

#include "geo/FaceTriangulation.h"

#include <cmath>
#include <cstdlib>

namespace veldra {

namespace {

bool finite3(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

void addTriangle(TriangleSoup& s, std::uint32_t a, std::uint32_t b, std::uint32_t c) {
  if (a == b || b == c || a == c) return;
  const Point3 &p = s.vertices[a], &q = s.vertices[b], &r = s.vertices[c];
  if (!finite3(p) || !finite3(q) || !finite3(r)) return;
  const double ux = q.x - p.x, uy = q.y - p.y, uz = q.z - p.z;
  const double vx = r.x - p.x, vy = r.y - p.y, vz = r.z - p.z;
  const double nx = uy * vz - uz * vy, ny = uz * vx - ux * vz, nz = ux * vy - uy * vx;
  if (nx * nx + ny * ny + nz * nz < 1e-18) return;
  s.triangles.push_back({a, b, c});
}

std::uint32_t addVertex(TriangleSoup& s, const Point3& p) {
  s.vertices.push_back(p);
  return static_cast<std::uint32_t>(s.vertices.size() - 1);
}

// Rings of a memo without their closing points.
std::vector<std::vector<Point2>> ringsOf(const Memo& m, std::vector<std::vector<double>>* zs = nullptr) {
  std::vector<std::vector<Point2>> rings;
  for (std::size_t r = 1; r < m.ringEnds.size(); ++r) {
    const int begin = m.ringEnds[r - 1] + 1;
    int end = m.ringEnds[r];
    if (begin < 1 || end >= static_cast<int>(m.coords.size()) || end < begin) continue;
    const Point2& a = m.coords[static_cast<std::size_t>(begin)];
    const Point2& b = m.coords[static_cast<std::size_t>(end)];
    if (end > begin && a.x == b.x && a.y == b.y) --end;
    std::vector<Point2> ring(m.coords.begin() + begin, m.coords.begin() + end + 1);
    if (zs) {
      std::vector<double> z;
      for (int i = begin; i <= end; ++i)
        z.push_back(static_cast<std::size_t>(i) < m.z.size() ? m.z[static_cast<std::size_t>(i)] : 0.0);
      zs->push_back(std::move(z));
    }
    rings.push_back(std::move(ring));
  }
  return rings;
}

double signedArea(const std::vector<Point2>& r) {
  double a = 0;
  for (std::size_t i = 0, j = r.size() - 1; i < r.size(); j = i++) a += (r[j].x * r[i].y - r[i].x * r[j].y);
  return a / 2;
}

// Band between two polylines, advancing along the shorter diagonal.
void band(TriangleSoup& s, const std::vector<std::uint32_t>& a, const std::vector<std::uint32_t>& b) {
  std::size_t i = 0, j = 0;
  const auto d2 = [&](std::uint32_t p, std::uint32_t q) {
    const Point3 &u = s.vertices[p], &v = s.vertices[q];
    return (u.x - v.x) * (u.x - v.x) + (u.y - v.y) * (u.y - v.y);
  };
  while (i + 1 < a.size() || j + 1 < b.size()) {
    const bool advanceA =
        j + 1 >= b.size() || (i + 1 < a.size() && d2(a[i + 1], b[j]) <= d2(a[i], b[j + 1]));
    if (advanceA) {
      addTriangle(s, a[i], a[i + 1], b[j]);
      ++i;
    } else {
      addTriangle(s, a[i], b[j + 1], b[j]);
      ++j;
    }
  }
}

}  // namespace

bool fitsNumberFormat(const StoredElement& se, NumberFormat format) {
  // Headroom below the format's largest value for the sums and rotations the writers make
  // (origin shifts, level + thickness, anchors plus rotated sizes).
  const double limit = format == NumberFormat::Float32 ? 1e36 : 1e300;
  const auto fits = [limit](double v) { return std::fabs(v) <= limit; };   // false for NaN too
  const Element& e = se.element;
  for (double v : {e.level, e.thickness, e.textSize, e.angle, e.location.x, e.location.y, e.width, e.height})
    if (!fits(v)) return false;
  const Memo& m = se.memo;
  for (const Point2& p : m.coords)
    if (!fits(p.x) || !fits(p.y)) return false;
  for (double z : m.z)
    if (!fits(z)) return false;
  const auto fits3 = [&](const Point3& p) { return fits(p.x) && fits(p.y) && fits(p.z); };
  for (const MeshLevelLine& l : m.levelLines)
    for (const Point3& p : l.points)
      if (!fits3(p)) return false;
  for (const Point3& p : m.body.vertices)
    if (!fits3(p)) return false;
  return true;
}

int elementsNotFitting(const ProjectData& p, NumberFormat format) {
  int n = 0;
  for (const StoredElement& se : p.elements) n += fitsNumberFormat(se, format) ? 0 : 1;
  return n;
}

std::vector<std::array<std::uint32_t, 3>> triangulateRing(const std::vector<Point2>& ring) {
  std::vector<std::array<std::uint32_t, 3>> out;
  const std::size_t n = ring.size();
  if (n < 3) return out;
  std::vector<std::uint32_t> idx(n);
  const bool ccw = signedArea(ring) > 0;
  for (std::size_t i = 0; i < n; ++i) idx[i] = static_cast<std::uint32_t>(ccw ? i : n - 1 - i);
  const auto cross = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c) {
    return (ring[b].x - ring[a].x) * (ring[c].y - ring[a].y) - (ring[b].y - ring[a].y) * (ring[c].x - ring[a].x);
  };
  const auto inside = [&](std::uint32_t a, std::uint32_t b, std::uint32_t c, std::uint32_t p) {
    return cross(a, b, p) >= 0 && cross(b, c, p) >= 0 && cross(c, a, p) >= 0;
  };
  std::size_t guard = 0;
  while (idx.size() > 3 && guard < n * n + 8) {
    ++guard;
    bool clipped = false;
    for (std::size_t i = 0; i < idx.size(); ++i) {
      const std::uint32_t a = idx[(i + idx.size() - 1) % idx.size()], b = idx[i], c = idx[(i + 1) % idx.size()];
      if (cross(a, b, c) <= 0) continue;
      bool empty = true;
      for (std::uint32_t p : idx)
        if (p != a && p != b && p != c && inside(a, b, c, p)) {
          empty = false;
          break;
        }
      if (!empty) continue;
      out.push_back({a, b, c});
      idx.erase(idx.begin() + static_cast<std::ptrdiff_t>(i));
      clipped = true;
      break;
    }
    if (!clipped) break;   // not simple: the rest is fanned
  }
  for (std::size_t i = 1; i + 1 < idx.size(); ++i) out.push_back({idx[0], idx[i], idx[i + 1]});
  return out;
}

TriangleSoup elementTriangles(const StoredElement& se) {
  TriangleSoup s;
  const Element& e = se.element;
  const Memo& m = se.memo;
  switch (e.typeCode) {
    case static_cast<int>(ElementType::Mesh): {
      const double base = e.level;
      if (m.levelLines.size() >= 2) {
        std::vector<std::uint32_t> prev;
        for (const auto& line : m.levelLines) {
          std::vector<std::uint32_t> cur;
          for (const auto& p : line.points) cur.push_back(addVertex(s, {p.x, p.y, p.z + base}));
          if (!prev.empty()) band(s, prev, cur);
          prev = std::move(cur);
        }
      } else {
        std::vector<std::vector<double>> zs;
        const auto rings = ringsOf(m, &zs);
        if (rings.empty()) break;
        const std::uint32_t first = static_cast<std::uint32_t>(s.vertices.size());
        for (std::size_t i = 0; i < rings[0].size(); ++i)
          addVertex(s, {rings[0][i].x, rings[0][i].y, zs[0][i] + base});
        for (const auto& t : triangulateRing(rings[0])) addTriangle(s, first + t[0], first + t[1], first + t[2]);
      }
      break;
    }
    case static_cast<int>(ElementType::Slab): {
      // Top and bottom over the outer ring less its holes (courtyards), and
      // walls around every ring facing away from the solid.
      const auto rings = ringsOf(m);
      if (rings.empty() || rings[0].size() < 3) break;
      std::vector<Point2> pts = rings[0];
      std::vector<int> holeStarts;
      for (std::size_t r = 1; r < rings.size(); ++r) {
        if (rings[r].size() < 3) continue;
        holeStarts.push_back(static_cast<int>(pts.size()));
        pts.insert(pts.end(), rings[r].begin(), rings[r].end());
      }
      std::vector<std::array<std::uint32_t, 3>> tris;
      for (const Triangle& t : earClip(pts, bridgeHoles(pts, holeStarts)))
        tris.push_back({static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[1]), static_cast<std::uint32_t>(t[2])});
      if (tris.empty()) {   // not simple: the outer ring alone
        tris = triangulateRing(rings[0]);
        pts.resize(rings[0].size());
        holeStarts.clear();
      }
      const double top = e.level, bottom = e.level - e.thickness;
      const std::uint32_t t0 = static_cast<std::uint32_t>(s.vertices.size());
      for (const auto& p : pts) addVertex(s, {p.x, p.y, top});
      const std::uint32_t b0 = static_cast<std::uint32_t>(s.vertices.size());
      for (const auto& p : pts) addVertex(s, {p.x, p.y, bottom});
      for (const auto& t : tris) {
        addTriangle(s, t0 + t[0], t0 + t[1], t0 + t[2]);
        addTriangle(s, b0 + t[0], b0 + t[2], b0 + t[1]);
      }
      for (std::size_t r = 0; r <= holeStarts.size(); ++r) {
        const std::uint32_t begin = r == 0 ? 0 : static_cast<std::uint32_t>(holeStarts[r - 1]);
        const std::uint32_t end = r < holeStarts.size() ? static_cast<std::uint32_t>(holeStarts[r]) : static_cast<std::uint32_t>(pts.size());
        const std::vector<Point2> ring(pts.begin() + begin, pts.begin() + end);
        const std::uint32_t n = end - begin;
        const bool outward = (signedArea(ring) > 0) == (r == 0);
        for (std::uint32_t i = 0; i < n; ++i) {
          std::uint32_t a = begin + i, b = begin + (i + 1) % n;
          if (!outward) std::swap(a, b);
          addTriangle(s, b0 + a, b0 + b, t0 + b);
          addTriangle(s, b0 + a, t0 + b, t0 + a);
        }
      }
      break;
    }
    case static_cast<int>(ElementType::Morph): {
      const MorphBody& body = m.body;
      for (const auto& v : body.vertices) addVertex(s, v);
      const long ne = static_cast<long>(body.edges.size());
      for (const auto& poly : body.polygons) {
        std::vector<std::uint32_t> loop;
        bool ok = true;
        for (int ei : poly) {
          if (ei == 0 || std::labs(ei) > ne) {
            ok = false;
            break;
          }
          const auto& edge = body.edges[static_cast<std::size_t>(std::labs(ei) - 1)];
          const int start = ei > 0 ? edge.first : edge.second;
          if (start < 0 || static_cast<std::size_t>(start) >= body.vertices.size()) {
            ok = false;
            break;
          }
          loop.push_back(static_cast<std::uint32_t>(start));
        }
        if (!ok || loop.size() < 3) continue;
        // Cut in the polygon's plane: a fan would drop the corner of a
        // straight run as a zero-area triangle and open the body there.
        std::vector<Point3> ring;
        for (std::uint32_t v : loop) ring.push_back(body.vertices[v]);
        const Point3 n = newellNormal(ring);
        std::vector<Triangle> tris;
        if (n.x * n.x + n.y * n.y + n.z * n.z > 0) {
          std::vector<int> order(loop.size());
          for (std::size_t i = 0; i < loop.size(); ++i) order[i] = static_cast<int>(i);
          tris = earClip(toPlane(ring, n), order);
        }
        if (tris.empty())
          for (std::size_t i = 1; i + 1 < loop.size(); ++i) tris.push_back({0, static_cast<int>(i), static_cast<int>(i + 1)});
        for (const Triangle& t : tris)
          addTriangle(s, loop[static_cast<std::size_t>(t[0])], loop[static_cast<std::size_t>(t[1])], loop[static_cast<std::size_t>(t[2])]);
      }
      break;
    }
    default:
      break;
  }
  return s;
}

std::string layerNameOf(const ProjectData& p, int index) {
  for (const auto& l : p.layers)
    if (l.index == index) return l.name;
  return "0";
}

}  // namespace veldra
