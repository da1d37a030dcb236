#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>

#include "cloud/FrameCloud.h"
#include "cloud/GroundCellModel.h"
#include "cloud/PointGridIndex.h"
#include "cloud/RoofFromCloud.h"
#include "geo/Projections.h"
#include "unit/TestSupport.h"
#include "unit/cloud/LasBuilder.h"

namespace veldra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

CloudPoint pt(double x, double y, double z, uint8_t cls) { return {x, y, z, 0, 0, 0, cls}; }

TEST(GroundCellModel, LowestOfTheCellThenOfItsNeighboursThenZero) {
  // Cells of 2 m from (100, 200): ground in cell (0,0) at 10 and 11, in cell (3,0) at 12.
  const std::vector<CloudPoint> pts = {pt(100, 200, 11, 2), pt(101, 201, 10, 2), pt(107, 200.5, 12, 2),
                                       pt(103, 201, 1, 6)};   // not ground: ignored for heights
  const GroundCellModel m = buildGroundCellModel(pts, 2.0);
  const struct {
    double x, y, want;
  } rows[] = {
      {101.9, 201.9, 10},   // its own cell, lowest point
      {103.0, 201.0, 10},   // empty cell beside (0,0)
      {105.0, 201.0, 12},   // empty cell next to (3,0)
      {140.0, 240.0, 0},    // nothing around
      {kNaN, 201.0, 0},
  };
  for (const auto& r : rows) EXPECT_DOUBLE_EQ(m.groundHeightAt(r.x, r.y), r.want) << r.x << "," << r.y;
  EXPECT_FALSE(m.groundNear(140, 240));
}

TEST(PointGridIndex, GivesThePointsOfTheCellsAroundABoxAndNothingForFarOrBrokenBoxes) {
  std::vector<CloudPoint> pts;
  for (int i = 0; i < 10; ++i) pts.push_back(pt(1000 + 10.0 * i + 5, 5000, 0, 1));   // one per 10 m column
  pts.push_back(pt(kNaN, 5000, 0, 1));
  const PointGridIndex index(pts);
  const struct {
    Bbox box;
    std::size_t want;
  } rows[] = {
      {{1041, 4999, 1043, 5001}, 3},    // column 4 and one either side
      {{990, 4999, 1001, 5001}, 1},     // left of the first column: it alone
      {{-1e300, -1e300, 1e300, 1e300}, 10},
      {{9e6, 9e6, 9e6 + 1, 9e6 + 1}, 0},
      {{kNaN, 0, 1, 1}, 0},
  };
  for (const auto& r : rows) EXPECT_EQ(index.around(r.box).size(), r.want) << r.box.minX;
}

// A 10 x 10 m outline over flat ground at 100: roof points, one per chosen 1 m cell.
struct RoofCase {
  const char* name;
  int coveredCells;      // of the 100
  int pointsPerCell;
  bool flagged;
};

TEST(RoofFromCloud, MedianWhenWellCoveredElseHighestAndFlagged) {
  const std::vector<Point2> outline = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};
  std::vector<CloudPoint> ground;
  for (int i = -2; i < 14; i += 2)
    for (int j = -2; j < 14; j += 2) ground.push_back(pt(i, j, 100, 2));
  const GroundCellModel model = buildGroundCellModel(ground, 2.0);
  const RoofCase rows[] = {
      {"full cover", 100, 1, false},
      {"60 percent", 60, 1, false},
      {"59 percent", 59, 1, true},
      {"59 percent, many points", 59, 3, true},
  };
  for (const RoofCase& c : rows) {
    std::vector<CloudPoint> pts = ground;
    std::vector<double> zs;
    for (int k = 0; k < c.coveredCells; ++k)
      for (int r = 0; r < c.pointsPerCell; ++r) {
        const double z = 108.0 + 0.01 * ((k * 37) % 100);
        pts.push_back(pt(k % 10 + 0.5, k / 10 + 0.5, z, 6));
        zs.push_back(z);
      }
    pts.push_back(pt(5.5, 5.5, 101.0, 6));     // vegetation under 3 m: not roof
    pts.push_back(pt(20.5, 5.5, 130.0, 6));    // outside the outline
    const CloudRoofResult res = roofFromCloud(outline, pts, model);
    std::sort(zs.begin(), zs.end());
    const double want = c.flagged ? zs.back() : zs[zs.size() / 2];
    ASSERT_EQ(res.polygons.size(), 1u) << c.name;
    EXPECT_EQ(res.needsCorrection, c.flagged) << c.name;
    EXPECT_NEAR(res.coverage, c.coveredCells / 100.0, 1e-12) << c.name;
    for (const Point3& v : res.polygons[0]) EXPECT_DOUBLE_EQ(v.z, want) << c.name;
  }
}

TEST(RoofFromCloud, BadOutlinesAndHeights) {
  const GroundCellModel noGround = buildGroundCellModel({}, 2.0);
  std::vector<CloudPoint> nanRoof;
  for (int k = 0; k < 50; ++k) nanRoof.push_back(pt(k % 10 + 0.5, k / 10 + 0.5, kNaN, 6));
  const std::vector<Point2> square = {{0, 0}, {10, 0}, {10, 10}, {0, 10}};

  EXPECT_TRUE(roofFromCloud({{0, 0}, {1, 1}}, nanRoof, noGround).polygons.empty());
  EXPECT_TRUE(roofFromCloud({{0, 0}, {kNaN, 1}, {1, 0}}, nanRoof, noGround).needsCorrection);
  // Only NaN heights: no roof point, ground+3 over no ground at all.
  const CloudRoofResult nan = roofFromCloud(square, nanRoof, noGround);
  ASSERT_EQ(nan.polygons.size(), 1u);
  EXPECT_TRUE(nan.needsCorrection);
  EXPECT_DOUBLE_EQ(nan.polygons[0][0].z, 3.0);
  // No ground near: every point 3 m above 0 is a roof point.
  std::vector<CloudPoint> low;
  for (int k = 0; k < 100; ++k) low.push_back(pt(k % 10 + 0.5, k / 10 + 0.5, 5.0, 6));
  const CloudRoofResult r = roofFromCloud(square, low, noGround);
  EXPECT_FALSE(r.needsCorrection);
  EXPECT_DOUBLE_EQ(r.polygons[0][0].z, 5.0);
  // An outline of continental size is refused instead of counting its cells.
  EXPECT_TRUE(roofFromCloud({{0, 0}, {1e7, 0}, {1e7, 1e7}}, low, noGround).polygons.empty());
}

TEST(FrameCloud, TilesInAPl2000ZoneArriveInPl1992) {
  testing::TempDir dir;
  const Bbox frame{636000, 486000, 636100, 486100};
  const double scale[3] = {0.001, 0.001, 0.001};
  std::vector<Point2> wanted;
  std::vector<test::LasTestPoint> pts;
  const auto [oe, on] = pl1992ToPl2000(frame.minX, frame.minY, 2178);
  const double offset[3] = {std::floor(oe) - 500, std::floor(on) - 500, 0};
  for (int i = 0; i < 40; ++i) {
    const double e = frame.minX - 20 + 3.5 * i, n = frame.minY + 2.5 * i;   // some left of the frame
    const auto [x, y] = pl1992ToPl2000(e, n, 2178);
    test::LasTestPoint p;
    p.X = static_cast<int32_t>(std::lround((x - offset[0]) / scale[0]));
    p.Y = static_cast<int32_t>(std::lround((y - offset[1]) / scale[1]));
    p.Z = 1000 * i;
    pts.push_back(p);
    if (e >= frame.minX && e <= frame.maxX) wanted.push_back({e, n});
  }
  const std::string path = dir.file("zone7.las");
  test::writeLasFile(path, 0, pts, scale, offset);
  std::vector<CloudPoint> out;
  EXPECT_TRUE(appendTilePoints(path, 2178, frame, 1000, out));
  ASSERT_EQ(out.size(), wanted.size());
  for (std::size_t k = 0; k < out.size(); ++k) {
    EXPECT_NEAR(out[k].x, wanted[k].x, 0.01);
    EXPECT_NEAR(out[k].y, wanted[k].y, 0.01);
  }
  std::vector<CloudPoint> capped;
  EXPECT_FALSE(appendTilePoints(path, 2178, frame, 3, capped));
  EXPECT_EQ(capped.size(), 3u);
  std::vector<CloudPoint> none;
  EXPECT_TRUE(appendTilePoints(dir.file("missing.las"), 2180, frame, 10, none));
  EXPECT_TRUE(none.empty());
}

}  // namespace
}  // namespace veldra
