#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "terrain/Corridor.h"
#include "terrain/NdsmBuilding.h"
#include "terrain/SurfaceOverPolygon.h"

namespace veldra {
namespace {

// A 100 m x 100 m scene of 0.5 m cells: terrain rising 1 cm per metre
// eastwards from 100 m, a flat-roofed block 8 m over it, a deck at 110 m over
// the terrain and a culvert 0.5 m over it.
constexpr double kCell = 0.5;
double groundAt(double x, double) { return 100.0 + 0.01 * x; }
bool inBox(double x, double y, double x0, double y0, double x1, double y1) { return x >= x0 && x <= x1 && y >= y0 && y <= y1; }
double surfaceAt(double x, double y) {
  if (inBox(x, y, 20, 20, 40, 30)) return 108.0;
  if (inBox(x, y, 60, 40, 90, 50)) return 110.0;
  if (inBox(x, y, 60, 70, 90, 80)) return groundAt(x, y) + 0.5;
  return groundAt(x, y);
}

ElevationGrid gridOf(const std::function<double(double, double)>& f) {
  ElevationGrid g;
  g.ncols = g.nrows = 200;
  g.cellSize = kCell;
  for (int r = g.nrows - 1; r >= 0; --r)
    for (int c = 0; c < g.ncols; ++c) g.values.push_back(f((c + 0.5) * kCell, (r + 0.5) * kCell));
  return g;
}

const NdsmModel& scene() {
  static const NdsmModel m = [] {
    NdsmModel s;
    s.surface = gridOf(surfaceAt);
    s.ground = gridOf(groundAt);
    s.tried = s.covered = s.parsed = true;
    return s;
  }();
  return m;
}

std::vector<Point2> rect(double x0, double y0, double x1, double y1) { return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}}; }

struct BuildingCase {
  const char* name;
  std::vector<Point2> outline;
  bool flagged;
  double minCoverage, maxCoverage;
  std::size_t walls;
};

TEST(BuildingFromNdsm, RoofAtTheSurfaceMedianWallsDownToTheTerrain) {
  const BuildingCase cases[] = {
      {"block under a flat roof", rect(20.5, 20.5, 39.5, 29.5), false, 0.99, 1.0, 4},
      {"same outline given closed", [] { auto r = rect(20.5, 20.5, 39.5, 29.5); r.push_back(r[0]); return r; }(),
       false, 0.99, 1.0, 4},
      {"outline over open ground", rect(5, 60, 15, 68), true, 0.0, 0.0, 0},
      {"outline smaller than a step", rect(25.1, 25.1, 25.3, 25.3), false, 1.0, 1.0, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const NdsmShape s = buildingFromNdsm(c.outline, scene());
    ASSERT_EQ(s.faces.size(), 1 + c.walls);
    EXPECT_EQ(s.needsCorrection, c.flagged);
    EXPECT_GE(s.coverage, c.minCoverage);
    EXPECT_LE(s.coverage, c.maxCoverage);
    const double roof = s.faces[0][0].z;
    for (const Point3& p : s.faces[0]) EXPECT_EQ(p.z, roof);
    // The roof is a height the surface really has under the outline.
    const Point2 mid{(c.outline[0].x + c.outline[2].x) / 2, (c.outline[0].y + c.outline[2].y) / 2};
    EXPECT_NEAR(roof, surfaceAt(mid.x, mid.y), 0.06);
    for (std::size_t w = 1; w < s.faces.size(); ++w) {
      const auto& q = s.faces[w];
      ASSERT_EQ(q.size(), 4u);
      EXPECT_EQ(q[0].z, roof);
      EXPECT_EQ(q[1].z, roof);
      EXPECT_NEAR(q[2].z, groundAt(q[2].x, q[2].y), 1e-9);
      EXPECT_NEAR(q[3].z, groundAt(q[3].x, q[3].y), 1e-9);
    }
  }
}

TEST(BuildingFromNdsm, UnusableOutlinesGiveEmptyFlaggedResults) {
  const double nan = std::nan("");
  const std::vector<std::vector<Point2>> outlines = {
      {}, {{1, 1}, {2, 2}}, {{1, 1}, {2, 1}, {1, 1}},                      // fewer than 3 distinct points
      {{10, 10}, {nan, 10}, {10, 12}},                                       // not a number
      rect(500, 500, 510, 510),                                              // beyond the sheets
      rect(-1e7, -1e7, 1e7, 1e7),                                            // far too large to walk
  };
  for (const auto& o : outlines) {
    const NdsmShape s = buildingFromNdsm(o, scene());
    EXPECT_TRUE(s.faces.empty()) << o.size();
    EXPECT_TRUE(s.needsCorrection);
  }
}

TEST(CorridorPolygon, StripAroundTheCentreLine) {
  // Two points: a rectangle, left side first (north of an eastward line).
  const auto r = corridorPolygon({{0, 0}, {10, 0}}, {3, 3}, {2, 2});
  const std::vector<std::pair<double, double>> expected = {{0, 3}, {10, 3}, {10, -2}, {0, -2}};
  ASSERT_EQ(r.size(), expected.size());
  for (std::size_t i = 0; i < r.size(); ++i) {
    EXPECT_NEAR(r[i].x, expected[i].first, 1e-12);
    EXPECT_NEAR(r[i].y, expected[i].second, 1e-12);
  }
  // A bend: the corner point is offset along the bisector of the two legs.
  const auto bend = corridorPolygon({{0, 0}, {10, 0}, {10, 10}}, {1, 1, 1}, {1, 1, 1});
  EXPECT_NEAR(bend[1].x, 10 - std::sqrt(0.5), 1e-12);
  EXPECT_NEAR(bend[1].y, std::sqrt(0.5), 1e-12);
  // Median widths replace an outlier.
  const auto median = corridorPolygon({{0, 0}, {10, 0}, {20, 0}}, {1, 9, 1}, {2, 2, 2}, CorridorWidths::Median);
  EXPECT_NEAR(median[1].y, 1, 1e-12);
  EXPECT_TRUE(corridorPolygon({{5, 5}}, {1}, {1}).empty());
}

struct SurfaceCase {
  const char* name;
  std::vector<Point2> centre;
  bool road;
  bool flagged;
  std::size_t faces;   // 0: any number of triangles
};

TEST(SurfaceOverPolygon, DecksRibbonsAndTheirFallbacks) {
  const Bbox frame{0, 0, 50, 50};
  const SurfaceCase cases[] = {
      {"deck over the valley", {{62, 45}, {88, 45}}, false, false, 0},
      {"culvert: deck under 1 m", {{62, 75}, {88, 75}}, false, true, 1},
      {"road clipped to the frame", {{10, 10}, {70, 10}}, true, false, 0},
      {"road wholly outside the frame", {{60, 60}, {80, 60}}, true, true, 0},
      {"way of one point", {{10, 10}}, true, true, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto polygon = corridorPolygon(c.centre, {3, 3}, {3, 3});
    const NdsmShape s = surfaceOverPolygon(polygon, scene(), c.road ? roadSurface(frame) : bridgeSurface());
    EXPECT_EQ(s.needsCorrection, c.flagged);
    if (c.flagged && c.faces == 0) {
      EXPECT_TRUE(s.faces.empty());
      continue;
    }
    if (c.faces) {
      ASSERT_EQ(s.faces.size(), c.faces);
    } else {
      ASSERT_GT(s.faces.size(), 100u);
    }
    for (const auto& f : s.faces) {
      if (c.faces == 0) {
        ASSERT_EQ(f.size(), 3u);
      }
      for (const Point3& p : f) {
        const double expected = c.road ? groundAt(p.x, p.y) : surfaceAt(p.x, p.y);
        EXPECT_NEAR(p.z, c.faces ? f[0].z : expected, 1e-9);
        if (c.road) {
          EXPECT_TRUE(inBox(p.x, p.y, frame.minX, frame.minY, frame.maxX, frame.maxY));
        }
      }
    }
    if (c.faces) {
      EXPECT_NEAR(s.faces[0][0].z, surfaceAt(75, 75), 0.2);   // the culvert's own level
    }
  }
}

TEST(SurfaceOverPolygon, RibbonCoversTheCorridorInsideTheFrame) {
  // 6 m x 40 m of the road lie in the frame; a lattice from the box's corner
  // puts the far side on a lattice line, whose points count as outside, so at
  // most one row of cells is lost along it.
  const auto polygon = corridorPolygon({{10, 10}, {70, 10}}, {3, 3}, {3, 3});
  const NdsmShape s = surfaceOverPolygon(polygon, scene(), roadSurface({0, 0, 50, 50}));
  const double area = static_cast<double>(s.faces.size()) / 2 * kCell * kCell;
  EXPECT_LE(area, 40.0 * 6.0);
  EXPECT_GE(area, 40.0 * (6.0 - kCell));
}

}  // namespace
}  // namespace veldra
