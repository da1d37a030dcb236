#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "cloud/LazTileReader.h"
#include "unit/cloud/LasBuilder.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

using test::LasTestPoint;
using testing::TempDir;
using test::writeLasFile;

// Without a zone the accumulator keeps the input system: local = input - origin exactly.
CloudAccumulator plain(double voxel) { return CloudAccumulator(Bbox{0, 0, 100, 100}, 0, voxel); }

// The origin in the zone is held to PROJ by the palette's black-box test and the E57 download
// interop test.
TEST(CloudAccumulator, WhichPointsAreKept) {
  const double nan = std::nan(""), inf = INFINITY;
  struct Case {
    const char* what;
    double voxel, originX;
    std::vector<std::array<double, 3>> pts;
    std::vector<int> kept;
  };
  const Case cases[] = {
      {"frame is inclusive; outside, NaN and infinite are dropped", 0.0, 0.0,
       {{0, 0, 0}, {100, 100, 0}, {100.000001, 50, 0}, {50, -0.000001, 0}, {nan, 50, 0}, {50, 50, inf}}, {0, 1}},
      {"voxel size zero keeps every point", 0.0, 0.0, std::vector<std::array<double, 3>>(5, {10, 10, 10}), {0, 1, 2, 3, 4}},
      {"first point in a voxel wins", 0.5, 0.0, {{10.1, 10.1, 1.1}, {10.2, 10.2, 1.2}}, {0}},
      // 0.5 lies in voxel 1; z below zero floors to -1, -0.5 as well, -0.51 to -2.
      {"boundaries belong to the voxel above", 0.5, 0.0,
       {{0.49, 0, 0}, {0.5, 0, 0}, {0.99, 0, 0}, {0, 0, -0.01}, {0, 0, -0.5}, {0, 0, -0.51}}, {0, 1, 3, 5}},
      {"voxels are found in local coordinates", 1.0, 0.5, {{0.6, 0, 0}, {1.4, 0, 0}, {1.5, 0, 0}}, {0, 2}},
      {"huge heights saturate the voxel key", 0.2, 0.0, {{1, 1, 1e300}, {1, 1, -1e300}, {1, 1, 1e299}}, {0, 1}},
  };
  for (const Case& c : cases) {
    CloudAccumulator acc = plain(c.voxel);
    acc.setOrigin(c.originX, 0, 0);
    for (std::size_t i = 0; i < c.pts.size(); ++i) acc.addPoint(c.pts[i][0], c.pts[i][1], c.pts[i][2], uint8_t(i), 0, 0);
    std::vector<int> kept;
    for (const auto& p : acc.points()) kept.push_back(p.red);
    EXPECT_EQ(kept, c.kept) << c.what;
  }
}

class FeedAccumulator : public ::testing::Test {
 protected:
  TempDir dir;
  const double scale[3] = {0.01, 0.01, 0.01};
};

// A tile at exactly the limit and thinned points that do not count towards it are the cloud
// worker's test (PointLimitEndsTheDownloadWithItsMessage); here reading stops at the first point over.
TEST_F(FeedAccumulator, ThrowsAsSoonAsTheLimitIsPassed) {
  std::vector<LasTestPoint> pts;
  for (int i = 0; i < 10; ++i) pts.push_back({i * 100, 0, 0, 0, 2});
  const double offset[3] = {0, 0, 0};
  writeLasFile(dir.file("ten.las"), 0, pts, scale, offset);
  CloudAccumulator over = plain(0.0);
  LazTileReader r = LazTileReader::open(dir.file("ten.las"));
  EXPECT_THROW(feedAccumulator(r, 2180, over, 5), HardLimitExceeded);
  EXPECT_EQ(over.points().size(), 6u);
}

TEST_F(FeedAccumulator, ZoneTilesAreClippedWithAMarginThenClippedExactly) {
  // Frame near the 19.5 deg meridian in zone 7; the tile is delivered in zone 6.
  const Bbox frame{530000.0, 300000.0, 530100.0, 300100.0};
  auto inZone6 = [](double e, double n) { return pl1992ToPl2000(e, n, 2177); };
  const auto [e0, n0] = inZone6(530000.0, 300000.0);
  const double offset[3] = {std::floor(e0) - 1000, std::floor(n0) - 1000, 0};
  auto rec = [&](double e92, double n92, int32_t Z) {
    const auto [e, n] = inZone6(e92, n92);
    return LasTestPoint{int32_t(std::lround((e - offset[0]) * 100)), int32_t(std::lround((n - offset[1]) * 100)), Z, 0, 2};
  };
  writeLasFile(dir.file("z6.las"), 0,
               {rec(530050.0, 300050.0, 1),   // inside
                rec(529999.0, 300050.0, 2),   // 1 m west of the frame: inside the margin, outside the frame
                rec(529990.0, 300050.0, 3),   // 10 m west: outside the margin
                rec(530100.0 - 0.05, 300100.0 - 0.05, 4)},
               scale, offset);
  CloudAccumulator acc(frame, 2178, 0.0);
  LazTileReader r = LazTileReader::open(dir.file("z6.las"));
  feedAccumulator(r, 2177, acc);
  ASSERT_EQ(acc.points().size(), 2u);
  EXPECT_DOUBLE_EQ(acc.points()[0].z, 0.01);
  EXPECT_DOUBLE_EQ(acc.points()[1].z, 0.04);
  const auto [e, n] = pl1992ToPl2000(530050.0, 300050.0, 2178);
  EXPECT_NEAR(acc.points()[0].x, e - acc.originX(), 0.02);
  EXPECT_NEAR(acc.points()[0].y, n - acc.originY(), 0.02);
}

}  // namespace
}  // namespace veldra
