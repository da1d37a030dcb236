#include "geo/FaceTriangulation.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>

namespace veldra {

namespace {

double cross(const Point2& o, const Point2& a, const Point2& b) {
  return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

double loopArea(const std::vector<Point2>& pts, const std::vector<int>& loop) {
  double s = 0;
  for (std::size_t i = 0; i < loop.size(); ++i) {
    const Point2& a = pts[static_cast<std::size_t>(loop[i])];
    const Point2& b = pts[static_cast<std::size_t>(loop[(i + 1) % loop.size()])];
    s += a.x * b.y - b.x * a.y;
  }
  return s / 2;
}

bool samePoint(const Point2& a, const Point2& b) { return a.x == b.x && a.y == b.y; }

// Inside or on the border of the counter-clockwise triangle (a, b, c).
bool inTriangle(const Point2& p, const Point2& a, const Point2& b, const Point2& c) {
  return cross(a, b, p) >= 0 && cross(b, c, p) >= 0 && cross(c, a, p) >= 0;
}

int sign(double v) { return v > 0 ? 1 : (v < 0 ? -1 : 0); }

// Segments p-q and r-s cross at a point inside both.
bool properlyCross(const Point2& p, const Point2& q, const Point2& r, const Point2& s) {
  const int d1 = sign(cross(p, q, r)), d2 = sign(cross(p, q, s));
  const int d3 = sign(cross(r, s, p)), d4 = sign(cross(r, s, q));
  return d1 * d2 < 0 && d3 * d4 < 0;
}

// Rings this long are fanned rather than clipped: clipping is cubic at worst.
constexpr std::size_t kMaxClipPoints = 4096;

}  // namespace

Point3 newellNormal(const std::vector<Point3>& r) {
  Point3 n;
  for (std::size_t i = 0; i < r.size(); ++i) {
    const Point3& a = r[i];
    const Point3& b = r[(i + 1) % r.size()];
    n.x += (a.y - b.y) * (a.z + b.z);
    n.y += (a.z - b.z) * (a.x + b.x);
    n.z += (a.x - b.x) * (a.y + b.y);
  }
  return n;
}

std::vector<Point2> toPlane(const std::vector<Point3>& points, const Point3& normal) {
  const double len = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
  const Point3 n{normal.x / len, normal.y / len, normal.z / len};
  // u: perpendicular to n, built from the axis n leans on least; v = n x u.
  Point3 axis{1, 0, 0};
  if (std::fabs(n.y) < std::fabs(n.x) && std::fabs(n.y) <= std::fabs(n.z)) axis = {0, 1, 0};
  else if (std::fabs(n.z) < std::fabs(n.x) && std::fabs(n.z) < std::fabs(n.y)) axis = {0, 0, 1};
  Point3 u{n.y * axis.z - n.z * axis.y, n.z * axis.x - n.x * axis.z, n.x * axis.y - n.y * axis.x};
  const double ul = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
  u = {u.x / ul, u.y / ul, u.z / ul};
  const Point3 v{n.y * u.z - n.z * u.y, n.z * u.x - n.x * u.z, n.x * u.y - n.y * u.x};
  std::vector<Point2> out;
  out.reserve(points.size());
  for (const Point3& p : points) out.push_back({p.x * u.x + p.y * u.y + p.z * u.z, p.x * v.x + p.y * v.y + p.z * v.z});
  return out;
}

FaceShape classifyFace(const std::vector<Point3>& ring, const Point3& normal) {
  const double len = std::sqrt(normal.x * normal.x + normal.y * normal.y + normal.z * normal.z);
  Point3 c;
  for (const Point3& p : ring) c.x += p.x, c.y += p.y, c.z += p.z;
  const double k = static_cast<double>(ring.size());
  c = {c.x / k, c.y / k, c.z / k};
  for (const Point3& p : ring) {
    const double d = ((p.x - c.x) * normal.x + (p.y - c.y) * normal.y + (p.z - c.z) * normal.z) / len;
    if (std::fabs(d) > kPlanarTolerance) return FaceShape::NonPlanar;
  }
  const auto pts = toPlane(ring, normal);
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const Point2& a = pts[(i + pts.size() - 1) % pts.size()];
    const Point2& b = pts[i];
    const Point2& d = pts[(i + 1) % pts.size()];
    const double scale = std::hypot(b.x - a.x, b.y - a.y) * std::hypot(d.x - b.x, d.y - b.y);
    if (cross(a, b, d) < -1e-9 * scale) return FaceShape::PlanarConcave;
  }
  return FaceShape::PlanarConvex;
}

namespace {

std::vector<Triangle> clipCorners(const std::vector<Point2>& pts, std::vector<int> loop) {
  std::vector<Triangle> out;
  const auto P = [&](int i) -> const Point2& { return pts[static_cast<std::size_t>(i)]; };
  while (loop.size() > 3) {
    bool clipped = false;
    const std::size_t n = loop.size();
    for (std::size_t i = 0; i < n && !clipped; ++i) {
      const int a = loop[(i + n - 1) % n], b = loop[i], c = loop[(i + 1) % n];
      if (cross(P(a), P(b), P(c)) <= 0) continue;
      bool empty = true;
      for (int q : loop) {
        if (q == a || q == b || q == c) continue;
        if (samePoint(P(q), P(a)) || samePoint(P(q), P(b)) || samePoint(P(q), P(c))) continue;
        if (inTriangle(P(q), P(a), P(b), P(c))) {
          empty = false;
          break;
        }
      }
      if (!empty) continue;
      out.push_back({a, b, c});
      loop.erase(loop.begin() + static_cast<std::ptrdiff_t>(i));
      clipped = true;
    }
    if (!clipped) return {};
  }
  if (cross(P(loop[0]), P(loop[1]), P(loop[2])) > 0) out.push_back({loop[0], loop[1], loop[2]});
  return out;
}

}  // namespace

std::vector<Triangle> earClip(const std::vector<Point2>& pts, std::vector<int> loop) {
  if (loop.size() < 3 || loop.size() > kMaxClipPoints) return {};
  if (loopArea(pts, loop) < 0) std::reverse(loop.begin(), loop.end());
  const auto P = [&](int i) -> const Point2& { return pts[static_cast<std::size_t>(i)]; };
  // Points lying on the straight run between their neighbours are set aside:
  // clipping around them can strand a run of them with no triangle, and a
  // neighbouring face that uses them would then meet an open edge. They come
  // back as a fan inside the one triangle on their run.
  std::map<std::pair<int, int>, std::vector<int>> onEdge;   // kept edge -> points set aside, in order
  bool removed = true;
  while (removed && loop.size() > 3) {
    removed = false;
    for (std::size_t i = 0; i < loop.size() && loop.size() > 3; ++i) {
      const std::size_t n = loop.size();
      const int a = loop[(i + n - 1) % n], b = loop[i], c = loop[(i + 1) % n];
      const Point2 &A = P(a), &B = P(b), &C = P(c);
      const double len = std::hypot(C.x - A.x, C.y - A.y);
      const double along = (B.x - A.x) * (C.x - A.x) + (B.y - A.y) * (C.y - A.y);
      if (len == 0 || std::fabs(cross(A, B, C)) > 1e-9 * len * len || along <= 0 || along >= len * len) continue;
      std::vector<int> run = onEdge[{a, b}];
      run.push_back(b);
      const auto& tail = onEdge[{b, c}];
      run.insert(run.end(), tail.begin(), tail.end());
      onEdge.erase({a, b});
      onEdge.erase({b, c});
      onEdge[{a, c}] = std::move(run);
      loop.erase(loop.begin() + static_cast<std::ptrdiff_t>(i));
      removed = true;
    }
  }
  std::vector<Triangle> tris = clipCorners(pts, loop);
  if (tris.empty()) return {};
  std::vector<Triangle> out;
  while (!tris.empty()) {
    const Triangle t = tris.back();
    tris.pop_back();
    bool split = false;
    for (int k = 0; k < 3 && !split; ++k) {
      const int x = t[static_cast<std::size_t>(k)], y = t[static_cast<std::size_t>((k + 1) % 3)],
                z = t[static_cast<std::size_t>((k + 2) % 3)];
      const auto it = onEdge.find({x, y});
      if (it == onEdge.end() || it->second.empty()) continue;
      std::vector<int> chain = {x};
      chain.insert(chain.end(), it->second.begin(), it->second.end());
      chain.push_back(y);
      onEdge.erase(it);
      for (std::size_t i = 0; i + 1 < chain.size(); ++i) tris.push_back({chain[i], chain[i + 1], z});
      split = true;
    }
    if (!split) out.push_back(t);
  }
  return out;
}

std::vector<int> bridgeHoles(const std::vector<Point2>& pts, const std::vector<int>& holeStarts) {
  const int total = static_cast<int>(pts.size());
  const int outerEnd = holeStarts.empty() ? total : holeStarts[0];
  std::vector<int> loop(static_cast<std::size_t>(outerEnd));
  std::iota(loop.begin(), loop.end(), 0);
  if (loopArea(pts, loop) < 0) std::reverse(loop.begin(), loop.end());
  struct Hole {
    std::vector<int> ring;
    int right = 0;   // position in ring of the vertex furthest in +x
  };
  std::vector<Hole> holes;
  for (std::size_t h = 0; h < holeStarts.size(); ++h) {
    const int begin = holeStarts[h];
    const int end = h + 1 < holeStarts.size() ? holeStarts[h + 1] : total;
    if (end - begin < 3) continue;
    Hole hole;
    for (int i = begin; i < end; ++i) hole.ring.push_back(i);
    if (loopArea(pts, hole.ring) > 0) std::reverse(hole.ring.begin(), hole.ring.end());   // clockwise
    for (std::size_t i = 0; i < hole.ring.size(); ++i)
      if (pts[static_cast<std::size_t>(hole.ring[i])].x > pts[static_cast<std::size_t>(hole.ring[static_cast<std::size_t>(hole.right)])].x)
        hole.right = static_cast<int>(i);
    holes.push_back(std::move(hole));
  }
  const auto px = [&](const Hole& h) { return pts[static_cast<std::size_t>(h.ring[static_cast<std::size_t>(h.right)])].x; };
  std::sort(holes.begin(), holes.end(), [&](const Hole& a, const Hole& b) { return px(a) > px(b); });
  for (std::size_t k = 0; k < holes.size(); ++k) {
    const Hole& hole = holes[k];
    const int h = hole.ring[static_cast<std::size_t>(hole.right)];
    const Point2& H = pts[static_cast<std::size_t>(h)];
    // Candidates nearest first; the first whose bridge crosses no edge wins.
    std::vector<std::size_t> order(loop.size());
    std::iota(order.begin(), order.end(), 0);
    const auto d2 = [&](std::size_t i) {
      const Point2& p = pts[static_cast<std::size_t>(loop[i])];
      return (p.x - H.x) * (p.x - H.x) + (p.y - H.y) * (p.y - H.y);
    };
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return d2(a) < d2(b); });
    const auto crossesAny = [&](const Point2& P, const std::vector<int>& ring) {
      for (std::size_t i = 0; i < ring.size(); ++i) {
        const Point2& r = pts[static_cast<std::size_t>(ring[i])];
        const Point2& s = pts[static_cast<std::size_t>(ring[(i + 1) % ring.size()])];
        if (properlyCross(H, P, r, s)) return true;
      }
      return false;
    };
    std::size_t chosen = order.empty() ? 0 : order[0];
    for (std::size_t i : order) {
      const Point2& P = pts[static_cast<std::size_t>(loop[i])];
      bool blocked = crossesAny(P, loop);
      for (std::size_t j = k; j < holes.size() && !blocked; ++j) blocked = crossesAny(P, holes[j].ring);
      if (!blocked) {
        chosen = i;
        break;
      }
    }
    std::vector<int> insert = {h};
    const std::size_t m = hole.ring.size();
    for (std::size_t i = 1; i <= m; ++i) insert.push_back(hole.ring[(static_cast<std::size_t>(hole.right) + i) % m]);
    insert.push_back(loop[chosen]);
    loop.insert(loop.begin() + static_cast<std::ptrdiff_t>(chosen) + 1, insert.begin(), insert.end());
  }
  return loop;
}

FanCheck checkQuasiFan(const std::vector<Triangle>& tris) {
  FanCheck f;
  std::map<int, int> degree;
  for (const Triangle& t : tris)
    for (int v : t) f.maxDegree = std::max(f.maxDegree, ++degree[v]);
  const int T = static_cast<int>(tris.size());
  f.quasiFan = T > 4 && f.maxDegree >= (T * 6) / 10;
  return f;
}

namespace {

void makeCcw(const std::vector<Point2>& pts, Triangle& t) {
  const auto P = [&](int i) -> const Point2& { return pts[static_cast<std::size_t>(i)]; };
  if (cross(P(t[0]), P(t[1]), P(t[2])) < 0) std::swap(t[1], t[2]);
}

double inCircle(const Point2& a, const Point2& b, const Point2& c, const Point2& d) {
  const double ax = a.x - d.x, ay = a.y - d.y, bx = b.x - d.x, by = b.y - d.y, cx = c.x - d.x, cy = c.y - d.y;
  return (ax * ax + ay * ay) * (bx * cy - cx * by) - (bx * bx + by * by) * (ax * cy - cx * ay) +
         (cx * cx + cy * cy) * (ax * by - bx * ay);
}

int opposite(const Triangle& t, int a, int b) {
  for (int v : t)
    if (v != a && v != b) return v;
  return -1;
}

}  // namespace

int flipEdges(const std::vector<Point2>& pts, std::vector<Triangle>& tris) {
  const auto P = [&](int i) -> const Point2& { return pts[static_cast<std::size_t>(i)]; };
  for (Triangle& t : tris) makeCcw(pts, t);
  const int budget = 4 * static_cast<int>(tris.size()) + 8;
  int flips = 0;
  while (flips < budget) {
    std::map<std::pair<int, int>, std::vector<std::size_t>> edges;
    for (std::size_t i = 0; i < tris.size(); ++i)
      for (int k = 0; k < 3; ++k) {
        const int u = tris[i][static_cast<std::size_t>(k)], w = tris[i][static_cast<std::size_t>((k + 1) % 3)];
        edges[{std::min(u, w), std::max(u, w)}].push_back(i);
      }
    bool flipped = false;
    for (const auto& [edge, owners] : edges) {
      if (owners.size() != 2) continue;
      const auto [a0, b0] = edge;
      int a = a0, b = b0;
      const int c = opposite(tris[owners[0]], a, b), d = opposite(tris[owners[1]], a, b);
      if (c < 0 || d < 0 || c == d) continue;
      const bool convex = sign(cross(P(a), P(b), P(c))) * sign(cross(P(a), P(b), P(d))) < 0 &&
                          sign(cross(P(c), P(d), P(a))) * sign(cross(P(c), P(d), P(b))) < 0;
      if (!convex) continue;
      if (cross(P(a), P(b), P(c)) < 0) std::swap(a, b);
      if (inCircle(P(a), P(b), P(c), P(d)) <= 1e-9) continue;
      tris[owners[0]] = {edge.first, c, d};
      tris[owners[1]] = {edge.second, d, c};
      makeCcw(pts, tris[owners[0]]);
      makeCcw(pts, tris[owners[1]]);
      ++flips;
      flipped = true;
      break;
    }
    if (!flipped) break;
  }
  return flips;
}

}  // namespace veldra
