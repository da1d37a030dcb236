#include "place/Solids.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <numeric>
#include <tuple>

#include "host/MemoryHost.h"
#include "geo/FaceTriangulation.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

double triArea(const std::vector<Point2>& p, const Triangle& t) {
  const Point2 &a = p[static_cast<std::size_t>(t[0])], &b = p[static_cast<std::size_t>(t[1])],
               &c = p[static_cast<std::size_t>(t[2])];
  return ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / 2;
}

double shoelace(const std::vector<Point2>& p) {
  double s = 0;
  for (std::size_t i = 0; i < p.size(); ++i) s += p[i].x * p[(i + 1) % p.size()].y - p[(i + 1) % p.size()].x * p[i].y;
  return std::fabs(s) / 2;
}

double coveredArea(const std::vector<Point2>& p, const std::vector<Triangle>& tris) {
  double sum = 0;
  for (const auto& t : tris) sum += triArea(p, t);
  return sum;
}

std::vector<Point2> comb(int teeth) {   // a concave ring
  std::vector<Point2> r = {{0, 0}, {2.0 * teeth, 0}};
  for (int i = teeth; i > 0; --i) r.insert(r.end(), {{2.0 * i, 3}, {2.0 * i - 1, 3}, {2.0 * i - 1, 1}});
  r.push_back({0, 3});
  return r;
}

// Every triangle counter-clockwise and their areas add up to the ring's: a
// clipping that overlaps or leaves gaps fails one or the other.
TEST(EarClip, CoversConcaveRingsExactly) {
  const std::vector<std::vector<Point2>> rings = {
      {{0, 0}, {4, 0}, {4, 4}, {2, 1}, {0, 4}},                     // arrow
      comb(5),
      {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {3, 3}, {0, 3}},             // collinear run
      {{0, 4}, {2, 1}, {4, 4}, {4, 0}, {0, 0}},                     // clockwise arrow
  };
  for (const auto& r : rings) {
    std::vector<int> loop(r.size());
    std::iota(loop.begin(), loop.end(), 0);
    const auto tris = earClip(r, loop);
    ASSERT_FALSE(tris.empty()) << r.size();
    for (const auto& t : tris) EXPECT_GT(triArea(r, t), 0);
    EXPECT_NEAR(coveredArea(r, tris), shoelace(r), 1e-9) << r.size();
  }
}

TEST(EarClip, HolesBridgedAndCovered) {
  // 10 x 10 square with two 2 x 2 holes.
  std::vector<Point2> p = {{0, 0}, {10, 0}, {10, 10}, {0, 10}, {2, 2}, {4, 2}, {4, 4}, {2, 4}, {6, 6}, {8, 6}, {8, 8}, {6, 8}};
  const auto loop = bridgeHoles(p, {4, 8});
  EXPECT_NEAR(coveredArea(p, earClip(p, loop)), 100 - 8, 1e-9);
}

TEST(FaceShape, PlanarConvexConcaveNonPlanar) {
  struct Case {
    std::vector<Point3> ring;
    FaceShape shape;
  } cases[] = {
      {{{0, 0, 0}, {4, 0, 0}, {4, 0, 3}, {0, 0, 3}}, FaceShape::PlanarConvex},        // a wall
      {{{0, 0, 0}, {4, 0, 0}, {4, 4, 0}, {2, 1, 0}, {0, 4, 0}}, FaceShape::PlanarConcave},
      {{{0, 0, 0}, {4, 0, 0}, {4, 4, 0.5}, {0, 4, 0}}, FaceShape::NonPlanar},
  };
  for (const auto& c : cases) EXPECT_EQ(classifyFace(c.ring, newellNormal(c.ring)), c.shape);
}

TEST(FlipEdges, FanOfAConvexRingImprovesAndEnds) {
  // A fan over an elliptic ring is the worst quasi-fan; flips must remove it
  // and stop within budget, leaving the covered area unchanged.
  for (int n : {12, 40}) {
    std::vector<Point2> p;
    for (int i = 0; i < n; ++i) p.push_back({3 * std::cos(2 * M_PI * i / n), std::sin(2 * M_PI * i / n)});
    std::vector<Triangle> tris;
    for (int i = 1; i + 1 < n; ++i) tris.push_back({0, i, i + 1});
    ASSERT_TRUE(checkQuasiFan(tris).quasiFan);
    const int flips = flipEdges(p, tris);
    EXPECT_GT(flips, 0);
    EXPECT_LE(flips, 4 * static_cast<int>(tris.size()) + 8);
    EXPECT_FALSE(checkQuasiFan(tris).quasiFan) << n;
    EXPECT_NEAR(coveredArea(p, tris), shoelace(p), 1e-9);
  }
  // Cocircular points: no flip qualifies forever (the in-circle margin ends it).
  std::vector<Point2> sq = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
  std::vector<Triangle> t2 = {{0, 1, 2}, {0, 2, 3}};
  EXPECT_EQ(flipEdges(sq, t2), 0);
}

// ---- morphs and slabs in the stand-in host ----------------------------------------

std::vector<SolidFace> box(double w, double d, double h, bool closeRings = false) {
  const Point3 v[8] = {{0, 0, 0}, {w, 0, 0}, {w, d, 0}, {0, d, 0}, {0, 0, h}, {w, 0, h}, {w, d, h}, {0, d, h}};
  const int f[6][4] = {{0, 3, 2, 1}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}};
  std::vector<SolidFace> out;
  for (const auto& q : f) {
    SolidFace face;
    for (int i : q) face.points.push_back(v[i]);
    if (closeRings) face.points.push_back(face.points.front());
    out.push_back(face);
  }
  return out;
}

// Closed and outward: every edge is walked once in each direction.
bool closedOriented(const MorphBody& b) {
  std::map<std::pair<int, int>, int> walked;
  for (const auto& poly : b.polygons)
    for (int e : poly) {
      const auto& ed = b.edges[static_cast<std::size_t>(std::abs(e) - 1)];
      ++walked[e > 0 ? ed : std::make_pair(ed.second, ed.first)];
    }
  for (const auto& [e, n] : walked)
    if (n != 1 || walked.count({e.second, e.first}) == 0) return false;
  return true;
}

class SolidsHost : public ::testing::Test {
 protected:
  veldra::testing::TempDir diag;
  veldra::testing::ScopedEnv diagEnv{"VELDRA_DIAG_DIR", diag.path().string()};
  MemoryHost host;
  int layer = 0;
  void SetUp() override { layer = host.addAttribute(AttributeKind::Layer, Attribute{0, "GIS_TEST"}); }
  const StoredElement& last() { return host.elementAt(host.elementCount() - 1); }
};

TEST_F(SolidsHost, FallbackOrder) {
  struct Case {
    int refusals;
    MorphAttempt expected;
  } cases[] = {{0, MorphAttempt::Clean}, {1, MorphAttempt::Triangulated}, {2, MorphAttempt::Soup}, {3, MorphAttempt::Failed}};
  for (const auto& c : cases) {
    host.clearRefusals();
    if (c.refusals) host.addRefusal({.code = kHostErrBadIndex, .typeCode = 45, .times = c.refusals});
    MorphStats stats;
    const auto o = createMorphWithFallback(host, box(2, 3, 4), layer, 0, stats, "B1");
    EXPECT_EQ(o.attempt, c.expected) << c.refusals;
    if (c.expected == MorphAttempt::Failed) {
      EXPECT_EQ(o.code, kHostErrBadIndex);
      continue;
    }
    EXPECT_EQ(last().info, "B1");
    EXPECT_EQ(last().memo.body.vertices.size(), c.expected == MorphAttempt::Soup ? 24u : 8u);
    EXPECT_EQ(closedOriented(last().memo.body), c.expected != MorphAttempt::Soup);
  }
}

TEST_F(SolidsHost, ClosedAndOpenFacesAgreeAndBadFacesAreDropped) {
  MorphStats s;
  ASSERT_EQ(createMorph(host, box(2, 3, 4, true), layer, {}, 1, s, "a"), kHostOk);
  const MorphBody closed = last().memo.body;
  ASSERT_EQ(createMorph(host, box(2, 3, 4, false), layer, {}, 1, s, "b"), kHostOk);
  EXPECT_EQ(last().memo.body.polygons, closed.polygons);
  auto faces = box(2, 3, 4);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  faces.push_back({{{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, {}});              // collinear: no area
  faces.push_back({{{0, 0, 0}, {0, 0, 0}, {1, 0, 0}}, {}});              // repeated point
  faces.push_back({{{nan, 0, 0}, {1, 0, 0}, {1, 1, 0}}, {}});            // NaN point
  faces[2].points.insert(faces[2].points.begin() + 1, faces[2].points[1]);   // repeat inside a wall
  ASSERT_EQ(createMorph(host, faces, layer, {}, 1, s, "c"), kHostOk);
  EXPECT_TRUE(closedOriented(last().memo.body));
  EXPECT_EQ(last().memo.body.polygons.size(), 6u);
}

TEST_F(SolidsHost, Lod1SlabsDuplicatesHolesAndFailures) {
  const auto id = [](Point2 p) { return p; };
  std::vector<Building3D> b(4);
  b[0] = {"dup", {{0, 0}, {5, 0}, {5, 5}, {0, 5}, {0, 0}}, 100, 10, {}};
  b[1] = {"yard", {{0, 0}, {30, 0}, {30, 30}, {0, 30}, {0, 0}}, 100, 12, {{{10, 10}, {20, 10}, {20, 20}, {10, 20}}}};
  b[2] = {"flat", {{0, 0}, {5, 0}, {5, 5}}, 100, 0, {}};
  b[3] = {"line", {{0, 0}, {5, 0}}, 100, 3, {}};
  const auto r = placeLod1Buildings(host, b, {"dup"}, layer, 90, id);
  EXPECT_EQ(std::tie(r.placed, r.duplicates, r.failures), std::tuple(1, 1, 2));
  ASSERT_EQ(host.elementCount(8), 1u);
  EXPECT_EQ(last().memo.ringCount(), 2);
  EXPECT_DOUBLE_EQ(last().element.level - last().element.thickness, 10);   // bottom: ground - offset
  EXPECT_EQ(host.reportLines().size(), 1u);
}

TEST_F(SolidsHost, OtherSolidsMaterialsOnDemand) {
  const std::size_t before = host.attributes(AttributeKind::SurfaceMaterial).size();
  std::vector<SolidInput> in = {{"r1", box(1, 1, 1), false}, {"r2", box(1, 1, 1), false}, {"e", {}, true}};
  auto r = placeSolids(host, SolidKind::Bridges, in, layer, 3);
  EXPECT_EQ(std::tie(r.created, r.degenerate), std::tuple(2, 1));
  EXPECT_EQ(host.attributes(AttributeKind::SurfaceMaterial).size(), before + 1);   // the normal one only
  in.push_back({"f", box(1, 1, 1), true});
  r = placeSolids(host, SolidKind::Bridges, in, layer, 4);
  EXPECT_EQ(r.flagged, 1);
  const auto& mats = host.attributes(AttributeKind::SurfaceMaterial);
  ASSERT_EQ(mats.size(), before + 2);
  EXPECT_EQ(last().element.surfaceMaterial, mats.back().index);
  EXPECT_GT(mats.back().r, mats.back().g);
}

TEST(BuildingZOffset, ReferenceOrder) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    bool terrain;
    bool surveyRead;
    double survey;
    double expected;
  } cases[] = {{true, true, 200, 150}, {false, true, 200, 200}, {false, true, 0, 7}, {false, true, nan, 7},
               {false, false, 200, 7}};
  for (const auto& c : cases) EXPECT_EQ(buildingZOffset(c.terrain, 150, c.surveyRead, c.survey, 7), c.expected);
}

}  // namespace
}  // namespace veldra
