#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "terrain/Corridor.h"
#include "terrain/NdsmBuilding.h"
#include "terrain/SurfaceOverPolygon.h"

namespace veldra {
namespace {

// A 100 m x 100 m scene of 0.5 m cells: terrain rising 1 cm per metre
// eastwards from 100 m, a flat roof at 108 m, a deck at 110 m and a culvert
// 0.5 m over the terrain.
constexpr double kCell = 0.5;
double groundAt(double x, double) { return 100.0 + 0.01 * x; }
bool inBox(const Point3& p, double x0, double y0, double x1, double y1) {
  return p.x >= x0 && p.x <= x1 && p.y >= y0 && p.y <= y1;
}
double surfaceAt(double x, double y) {
  if (inBox({x, y, 0}, 20, 20, 40, 30)) return 108.0;
  if (inBox({x, y, 0}, 60, 40, 90, 50)) return 110.0;
  return groundAt(x, y) + (inBox({x, y, 0}, 60, 70, 90, 80) ? 0.5 : 0.0);
}

const NdsmModel& scene() {
  static const NdsmModel m = [] {
    auto grid = [](const std::function<double(double, double)>& f) {
      ElevationGrid g;
      g.ncols = g.nrows = 200;
      g.cellSize = kCell;
      for (int r = g.nrows - 1; r >= 0; --r)
        for (int c = 0; c < g.ncols; ++c) g.values.push_back(f((c + 0.5) * kCell, (r + 0.5) * kCell));
      return g;
    };
    return NdsmModel{grid(surfaceAt), grid(groundAt), true, true, true};
  }();
  return m;
}

std::vector<Point2> rect(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }
std::vector<Point2> closed(std::vector<Point2> r) { r.push_back(r[0]); return r; }

TEST(BuildingFromNdsm, RoofAtTheSurfaceMedianWallsDownToTheTerrain) {
  const struct {
    const char* name;
    std::vector<Point2> outline;
    bool flagged;
    double coverage;
    std::size_t walls;
  } cases[] = {
      {"flat roof 8 m over the terrain", rect(20.5, 20.5, 39.5, 29.5), false, 1.0, 4},
      {"same outline given closed", closed(rect(20.5, 20.5, 39.5, 29.5)), false, 1.0, 4},
      {"outline over open ground", rect(5, 60, 15, 68), true, 0.0, 0},
      {"outline smaller than a step", rect(25.1, 25.1, 25.3, 25.3), false, 1.0, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const NdsmShape s = buildingFromNdsm(c.outline, scene());
    ASSERT_EQ(s.faces.size(), 1 + c.walls);
    EXPECT_EQ(s.needsCorrection, c.flagged);
    EXPECT_NEAR(s.coverage, c.coverage, 0.01);
    const double roof = s.faces[0][0].z;
    for (const Point3& p : s.faces[0]) EXPECT_EQ(p.z, roof);
    EXPECT_NEAR(roof, surfaceAt((c.outline[0].x + c.outline[2].x) / 2, (c.outline[0].y + c.outline[2].y) / 2), 0.06);
    for (std::size_t w = 1; w < s.faces.size(); ++w) {
      const auto& q = s.faces[w];
      ASSERT_EQ(q.size(), 4u);
      EXPECT_EQ(std::pair(q[0].z, q[1].z), std::pair(roof, roof));
      for (const Point3& p : {q[2], q[3]}) EXPECT_NEAR(p.z, groundAt(p.x, p.y), 1e-9);
    }
  }
}

TEST(BuildingFromNdsm, UnusableOutlinesGiveEmptyFlaggedResults) {
  const std::vector<std::vector<Point2>> outlines = {
      {}, {{1, 1}, {2, 2}}, {{1, 1}, {2, 1}, {1, 1}},   // fewer than 3 distinct points
      {{10, 10}, {std::nan(""), 10}, {10, 12}},
      rect(500, 500, 510, 510),                        // beyond the sheets
      rect(-1e7, -1e7, 1e7, 1e7),                      // far too large to walk
  };
  for (const auto& o : outlines) {
    const NdsmShape s = buildingFromNdsm(o, scene());
    EXPECT_TRUE(s.faces.empty() && s.needsCorrection) << o.size();
  }
}

TEST(CorridorPolygon, StripAroundTheCentreLine) {
  const struct {
    std::vector<Point2> centre;
    std::vector<double> left, right;
    CorridorWidths widths;
    std::vector<Point2> expected;
  } cases[] = {
      // Left side first (north of an eastward line), then the right side back.
      {{{0, 0}, {10, 0}}, {3, 3}, {2, 2}, CorridorWidths::AsGiven, {{0, 3}, {10, 3}, {10, -2}, {0, -2}}},
      // A bend offsets its corner along the bisector of the two legs.
      {{{0, 0}, {10, 0}, {10, 10}}, {1, 1, 1}, {0, 0, 0}, CorridorWidths::AsGiven,
       {{0, 1}, {10 - std::sqrt(0.5), std::sqrt(0.5)}, {9, 10}, {10, 10}, {10, 0}, {0, 0}}},
      {{{0, 0}, {10, 0}, {20, 0}}, {1, 9, 1}, {0, 0, 0}, CorridorWidths::Median,
       {{0, 1}, {10, 1}, {20, 1}, {20, 0}, {10, 0}, {0, 0}}},
      {{{5, 5}}, {1}, {1}, CorridorWidths::AsGiven, {}},
  };
  for (const auto& c : cases) {
    const auto r = corridorPolygon(c.centre, c.left, c.right, c.widths);
    ASSERT_EQ(r.size(), c.expected.size());
    for (std::size_t i = 0; i < r.size(); ++i) {
      EXPECT_NEAR(r[i].x, c.expected[i].x, 1e-12) << i;
      EXPECT_NEAR(r[i].y, c.expected[i].y, 1e-12) << i;
    }
  }
}

TEST(SurfaceOverPolygon, DecksRibbonsAndTheirFallbacks) {
  const Bbox frame{0, 0, 50, 50};
  const struct {
    const char* name;
    std::vector<Point2> centre;
    bool road, flagged;
    std::size_t faces;   // 0: triangles
  } cases[] = {
      {"deck over the valley", {{62, 45}, {88, 45}}, false, false, 0},
      {"culvert: deck under 1 m", {{62, 75}, {88, 75}}, false, true, 1},
      {"road clipped to the frame", {{10, 10}, {70, 10}}, true, false, 0},
      {"road wholly outside the frame", {{60, 60}, {80, 60}}, true, true, 0},
      {"way of one point", {{10, 10}}, true, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const NdsmShape s =
        surfaceOverPolygon(corridorPolygon(c.centre, {3, 3}, {3, 3}), scene(), c.road ? roadSurface(frame) : bridgeSurface());
    EXPECT_EQ(s.needsCorrection, c.flagged);
    if (c.flagged && c.faces == 0) {
      EXPECT_TRUE(s.faces.empty());
      continue;
    }
    ASSERT_EQ(s.faces.size() > 100, c.faces == 0);
    for (const auto& f : s.faces)
      for (const Point3& p : f) {
        // Triangles carry the sampled grid's heights; the culvert is one slab at its own level.
        const double expected = c.faces ? surfaceAt(75, 75) : c.road ? groundAt(p.x, p.y) : surfaceAt(p.x, p.y);
        EXPECT_NEAR(p.z, expected, c.faces ? 0.2 : 1e-9);
        EXPECT_TRUE(!c.road || inBox(p, frame.minX, frame.minY, frame.maxX, frame.maxY));
      }
  }
  // 6 m x 40 m of that road lie in the frame; the far side lies on a lattice line, whose points
  // count as outside, so at most one row of cells is lost along it.
  const double area = static_cast<double>(
      surfaceOverPolygon(corridorPolygon({{10, 10}, {70, 10}}, {3, 3}, {3, 3}), scene(), roadSurface(frame)).faces.size()) *
                      kCell * kCell / 2;
  EXPECT_LE(area, 40.0 * 6.0);
  EXPECT_GE(area, 40.0 * (6.0 - kCell));
}

}  // namespace
}  // namespace veldra
