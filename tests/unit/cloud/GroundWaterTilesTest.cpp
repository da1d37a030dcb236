#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

#include "cloud/GroundWaterTiles.h"
#include "geo/Projections.h"
#include "unit/TestSupport.h"
#include "unit/cloud/LasBuilder.h"

namespace veldra {
namespace {

// Four tiles of a 200 m frame, one per quadrant, the last in PL-2000 zone 7, and a path that
// does not open; ground, water and dropped classes mixed.
GroundWaterContext loadFourTiles(const testing::TempDir& dir, const Bbox& frame) {
  std::vector<LidarTile> tiles;
  std::vector<std::string> paths;
  std::mt19937 rng(15);
  std::uniform_real_distribution<double> in(0, 100);
  for (int q = 0; q < 4; ++q) {
    const int epsg = q == 3 ? 2178 : 2180;
    const double scale[3] = {0.01, 0.01, 0.01};
    const double e0 = frame.minX + 100 * (q % 2), n0 = frame.minY + 100 * (q / 2);
    const auto [oe, on] = epsg == 2180 ? std::pair{e0, n0} : pl1992ToPl2000(e0, n0, epsg);
    const double offset[3] = {std::floor(oe) - 200, std::floor(on) - 200, 0};
    std::vector<test::LasTestPoint> pts;
    for (int i = 0; i < 3000; ++i) {
      const double e = e0 + in(rng), n = n0 + in(rng);
      const auto [x, y] = epsg == 2180 ? std::pair{e, n} : pl1992ToPl2000(e, n, epsg);
      test::LasTestPoint p;
      p.X = static_cast<int32_t>(std::lround((x - offset[0]) / scale[0]));
      p.Y = static_cast<int32_t>(std::lround((y - offset[1]) / scale[1]));
      p.Z = static_cast<int32_t>(10000 + rng() % 500);
      p.classification = static_cast<uint8_t>(i % 7 == 0 ? 9 : (i % 5 == 0 ? 5 : 2));
      pts.push_back(p);
    }
    paths.push_back(dir.file("tile" + std::to_string(q) + ".las"));
    test::writeLasFile(paths.back(), 0, pts, scale, offset);
    tiles.push_back({"t" + std::to_string(q), "", 0, epsg});
  }
  tiles.insert(tiles.begin() + 2, LidarTile{"missing", "", 0, 2180});
  paths.insert(paths.begin() + 2, dir.file("missing.las"));

  GroundWaterLoader loader(frame, defaultGroundWaterThreads(tiles.size()));
  for (std::size_t i = 0; i < tiles.size(); ++i) loader.add(tiles[i], paths[i]);
  return loader.finish();
}

bool samePoints(const std::vector<CloudPoint>& a, const std::vector<CloudPoint>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const CloudPoint& p, const CloudPoint& q) {
    return p.x == q.x && p.y == q.y && p.z == q.z && p.classification == q.classification;
  });
}

// The height grid is built on one thread from these points, so the points decide it.
TEST(GroundWaterLoader, FourTilesGiveTheSamePointsOnOneAndFourThreads) {
  testing::TempDir dir;
  const Bbox frame{636000, 486000, 636200, 486200};
  const auto loadOn = [&](const char* threads) {
    testing::ScopedEnv env("VELDRA_THREADS", threads);
    return loadFourTiles(dir, frame);
  };
  const GroundWaterContext one = loadOn("1"), four = loadOn("4");
  ASSERT_GT(one.ground.size(), 8000u);
  EXPECT_EQ(four.total, one.total);
  EXPECT_TRUE(samePoints(four.ground, one.ground));
  EXPECT_TRUE(samePoints(four.water, one.water));
}

}  // namespace
}  // namespace veldra
