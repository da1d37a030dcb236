// The LOD1 and LOD2 kinds inside "Import GIS": what is placed, what only other
// phases wanted, and geometry that cannot be moved. The LOD1 twin of a LOD2
// building and the heights are the black-box LOD1/LOD2 test's.
#include <gtest/gtest.h>

#include <limits>

#include "geo/Projections.h"
#include "host/MemoryHost.h"
#include "place/DataKinds.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

constexpr double kE = 637000, kN = 486000;
constexpr int kZone = 2178;

std::vector<Point2> square(double dx) { return {{kE + dx, kN}, {kE + dx + 8, kN}, {kE + dx + 8, kN + 8}, {kE + dx, kN + 8}}; }

Building3D block(const char* id, double dx) { return {id, square(dx), 100, 10, {}}; }

BuildingLod2 morph(const char* id, double dx) {
  BuildingLod2 b{id, {}, 0};
  const auto f = square(dx);
  const std::vector<Point2> down{f.rbegin(), f.rend()};
  b.surfaces.push_back({down, {100, 100, 100, 100}, {}});
  b.surfaces.push_back({f, {112, 112, 112, 112}, {}});
  for (std::size_t i = 0; i < 4; ++i) {
    const Point2 p = f[i], q = f[(i + 1) % 4];
    b.surfaces.push_back({{p, q, q, p}, {100, 100, 112, 112}, {}});
  }
  return b;
}

TEST(BuildingKinds, PlacementCountsAndDrops) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    std::vector<Building3D> lod1;
    bool placeLod1;
    std::vector<BuildingLod2> lod2;
    std::map<std::string, int> fetched, placed;
    int failures;
  } cases[] = {
      {"LOD1 only for other phases: counted, not placed", {block("a", 0)}, false, {}, {{"budynki3d", 1}}, {}, 0},
      {"a footprint that cannot be moved is a failure",
       {block("a", 0), {"n", {{nan, kN}, {kE, kN}, {kE, kN + 1}}, 100, 10, {}}}, true, {}, {{"budynki3d", 2}},
       {{"budynki3d", 1}}, 1},
      {"a LOD2 building without faces is degenerate, not a failure", {}, false, {morph("a", 0), {"e", {}, 0}},
       {{"budynkilod2", 2}}, {{"budynkilod2", 1}}, 0},
  };
  for (const auto& c : cases) {
    testing::TempDir diag;
    testing::ScopedEnv env{"VELDRA_DIAG_DIR", diag.path()};
    FetchedData d;
    d.buildings3d = c.lod1;
    d.placeBuildings3d = c.placeLod1;
    d.buildingsLod2 = c.lod2;
    EXPECT_EQ(fetchCounts(d), c.fetched) << c.name;
    const auto [E, N] = pl1992ToPl2000(kE, kN, kZone);
    MemoryHost host;
    const auto out = runImport(host, ProjectGeoref{E, N, 0, 0, 0, true}, kZone,
                               moveToZone(d, Bbox{kE - 100, kN - 100, kE + 100, kN + 100}, kZone), {},
                               [](DataType) { return std::string(); });
    ASSERT_FALSE(out.failed()) << c.name << ": " << out.result.error;
    EXPECT_EQ(out.result.counts, c.placed) << c.name;
    EXPECT_EQ(out.result.failures, c.failures) << c.name;
  }
}

}  // namespace
}  // namespace veldra
