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

// The origin in the zone, and tiles of another zone clipped to the frame, are held to PROJ
// through the palette's black-box test and the E57 download interop test.
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

TEST_F(FeedAccumulator, ThrowsOnceTheLimitIsPassed) {
  std::vector<LasTestPoint> pts;
  for (int i = 0; i < 10; ++i) pts.push_back({i * 100, 0, 0, 0, 2});
  const double offset[3] = {0, 0, 0};
  writeLasFile(dir.file("ten.las"), 0, pts, scale, offset);

  CloudAccumulator exact = plain(0.0);
  LazTileReader r = LazTileReader::open(dir.file("ten.las"));
  EXPECT_NO_THROW(feedAccumulator(r, 2180, exact, 10));
  EXPECT_EQ(exact.points().size(), 10u);

  CloudAccumulator over = plain(0.0);
  r = LazTileReader::open(dir.file("ten.las"));
  EXPECT_THROW(feedAccumulator(r, 2180, over, 5), HardLimitExceeded);
  EXPECT_EQ(over.points().size(), 6u);

  // Dropped points do not count towards the limit.
  CloudAccumulator thinned = plain(100.0);
  r = LazTileReader::open(dir.file("ten.las"));
  EXPECT_NO_THROW(feedAccumulator(r, 2180, thinned, 5));
  EXPECT_EQ(thinned.points().size(), 1u);
}

}  // namespace
}  // namespace veldra
