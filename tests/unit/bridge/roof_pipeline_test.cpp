#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <tuple>
#include <utility>

#include "bridge/Lod2Rekon.h"
#include "bridge/RoofBody.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

// Closed when every directed edge is used once and its reverse once; the divergence
// theorem's volume is positive only when the faces look outward.
std::pair<bool, double> closedVolume(const std::vector<std::vector<Point3>>& faces) {
  std::map<std::pair<std::tuple<double, double, double>, std::tuple<double, double, double>>, int> edges;
  double volume = 0.0;
  for (const auto& f : faces) {
    for (std::size_t i = 0; i < f.size(); ++i) {
      const Point3& a = f[i];
      const Point3& b = f[(i + 1) % f.size()];
      ++edges[{{a.x, a.y, a.z}, {b.x, b.y, b.z}}];
      if (i >= 1 && i + 1 < f.size()) {
        const Point3& o = f[0];
        volume += (o.x * (a.y * b.z - a.z * b.y) - o.y * (a.x * b.z - a.z * b.x) + o.z * (a.x * b.y - a.y * b.x)) / 6;
      }
    }
  }
  bool closed = !edges.empty();
  for (const auto& [e, n] : edges) closed = closed && n == 1 && edges.count({e.second, e.first}) == 1;
  return {closed, volume};
}

TEST(RoofBody, ClosedOutwardBodyWhicheverWayTheOutlineRuns) {
  const std::vector<Point3> ccw = {{0, 0, 9}, {4, 0, 9}, {4, 3, 9}, {2, 5, 9}, {0, 3, 9}};
  const std::vector<Point3> cw(ccw.rbegin(), ccw.rend());
  for (const auto& roof : {ccw, cw}) {
    const auto [closed, volume] = closedVolume(roofBody(roof, 1.0));
    EXPECT_TRUE(closed);
    EXPECT_NEAR(volume, 16.0 * 8.0, 1e-9);   // area 16 m2, 8 m high
  }
  EXPECT_TRUE(roofBody(ccw, 9.0).empty());
  EXPECT_TRUE(roofBody({{0, 0, 9}, {1, 0, 9}}, 1.0).empty());
}

TEST(OrientFacesByParts, TurnsInwardFacesOfEachPartOutward) {
  // Two unit cubes apart, some faces listed the wrong way round.
  lod2fit::RoofMesh mesh;
  for (double off : {0.0, 5.0}) {
    const auto base = static_cast<std::uint32_t>(mesh.vertices.size());
    for (int k = 0; k < 8; ++k) mesh.vertices.push_back({off + (k & 1), double((k >> 1) & 1), double(k >> 2)});
    const std::vector<std::vector<std::uint32_t>> cube = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                          {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (std::size_t f = 0; f < cube.size(); ++f) {
      auto face = cube[f];
      if ((f + static_cast<std::size_t>(off)) % 2 == 0) std::reverse(face.begin(), face.end());
      for (auto& v : face) v += base;
      mesh.faces.push_back(face);
    }
  }
  orientFacesByParts(mesh);
  std::vector<std::vector<Point3>> faces;
  for (const auto& f : mesh.faces) {
    faces.emplace_back();
    for (auto v : f) faces.back().push_back(mesh.vertices[v]);
  }
  const auto [closed, volume] = closedVolume(faces);
  EXPECT_TRUE(closed);
  EXPECT_NEAR(volume, 2.0, 1e-9);
}

TEST(ReconstructOutlines, FewInsidePointsUseTheHighSurroundingsAndNoneGiveBrak) {
  testing::TempDir dir;
  testing::ScopedEnv diag("VELDRA_DIAG_DIR", dir.path().string());
  Building3D b;
  b.id = "b";
  b.footprint = {{0, 0}, {10, 0}, {10, 8}, {0, 8}, {0, 0}};
  auto cloudWith = [](int inside, int outsideHigh) {
    std::vector<CloudPoint> pts;
    for (int i = 0; i < 200; ++i) pts.push_back({-5.0 + 0.1 * i, -4.0, 100.0});   // ground
    for (int i = 0; i < inside; ++i) pts.push_back({1.0 + 0.4 * i, 1.0 + 0.3 * (i % 20), 108.0});
    for (int i = 0; i < outsideHigh; ++i) pts.push_back({11.0 + 0.01 * i, 1.0 + 0.2 * (i % 30), 108.0});
    return pts;
  };
  const struct {
    int inside, outsideHigh;
    const char* roofPoints;   // empty: skipped
  } rows[] = {{19, 40, "nDach=59 "}, {20, 40, "nDach=20 "}, {0, 7, ""}};
  for (const auto& r : rows) {
    const RekonOutcome o = reconstructOutlines({b}, cloudWith(r.inside, r.outsideHigh), {});
    const bool skipped = *r.roofPoints == 0;
    ASSERT_EQ(o.solids.size(), skipped ? 0u : 1u) << r.inside << "/" << r.outsideHigh;
    if (!skipped) {
      EXPECT_NE(o.indexLines[0].find(r.roofPoints), std::string::npos) << o.indexLines[0];
    }
    const std::string s = rekonSummary(1, 5, o);
    EXPECT_EQ(s.ends_with(" (brak)"), skipped) << s;
  }
}

}  // namespace
}  // namespace veldra
