#include "terrain/TerrainPatches.h"

#include <gtest/gtest.h>

#include <cmath>
#include <tuple>

namespace veldra {
namespace {

TerrainSampler flat(double z = 100.0) {
  return [z](double, double) -> std::optional<double> { return z; };
}

TEST(TerrainPatches, WideFrameSplitsIntoTwoPatchesSharingAColumn) {
  const auto set = buildTerrainPatches({1000, 2000, 1300, 2100}, 1.0, flat());
  EXPECT_TRUE(set.message.empty());
  ASSERT_EQ(set.patches.size(), 2u);
  const auto& w = set.patches[0];
  const auto& e = set.patches[1];
  EXPECT_EQ(std::tuple(w.minX, w.maxX, e.minX, e.maxX), std::tuple(1000.0, 1151.0, 1151.0, 1300.0));
  EXPECT_EQ(std::tuple(w.points.size(), e.points.size()), std::tuple(152u * 101u, 150u * 101u));
  // Lattice order: rows from the south, west to east.
  EXPECT_EQ(std::tuple(w.points[152].y, e.points.back().x, e.points.back().y), std::tuple(2001.0, 1300.0, 2100.0));
}

TEST(TerrainPatches, LargeFrameIsClampedToFourByFourWithMessage) {
  const auto set = buildTerrainPatches({0, 0, 1000, 1000}, 1.0, flat());
  EXPECT_NE(set.message.find(">= 2 m"), std::string::npos) << set.message;
  ASSERT_EQ(set.patches.size(), 16u);
  double maxX = 0, maxY = 0;
  std::size_t points = 0;
  for (const auto& p : set.patches) {
    EXPECT_LE(p.maxX - p.minX, 200.0);
    maxX = std::max(maxX, p.maxX);
    maxY = std::max(maxY, p.maxY);
    points += p.points.size();
  }
  EXPECT_EQ(std::pair(maxX, maxY), std::pair(799.0, 799.0));  // 800 nodes per axis from the south-west corner
  EXPECT_EQ(points, 803u * 803u);  // three shared rows and columns are counted twice
  // The suggested step makes the same frame fit.
  EXPECT_TRUE(buildTerrainPatches({0, 0, 1000, 1000}, 2.0, flat()).message.empty());
}

TEST(TerrainPatches, HugeOrBrokenFramesStayBounded) {
  const auto huge = buildTerrainPatches({0, 0, 1e12, 1e12}, 1.0, flat());
  EXPECT_EQ(huge.patches.size(), 16u);
  EXPECT_FALSE(huge.message.empty());
  EXPECT_TRUE(buildTerrainPatches({0, 0, std::nan(""), 10}, 1.0, flat()).patches.empty());
  EXPECT_TRUE(buildTerrainPatches({10, 0, 0, 10}, 1.0, flat()).patches.empty());
  EXPECT_EQ(buildTerrainPatches({0, 0, 10, 10}, 0.0, flat()).patches.at(0).points.size(), 121u);   // 1 m step
}

TEST(TerrainPatches, NodesWithoutHeightAreLeftOutAndEmptyPatchesDropped) {
  // Heights only in the western half: the eastern patch has none and disappears.
  TerrainSampler west = [](double x, double) -> std::optional<double> {
    if (x <= 100) return x;
    return std::nullopt;
  };
  const auto set = buildTerrainPatches({0, 0, 300, 10}, 1.0, west);
  ASSERT_EQ(set.patches.size(), 1u);
  EXPECT_EQ(set.patches[0].points.size(), 101u * 11u);
  EXPECT_DOUBLE_EQ(set.patches[0].maxX, 151);  // the box still spans the whole patch
  EXPECT_DOUBLE_EQ(set.patches[0].points[100].z, 100.0);
}

}  // namespace
}  // namespace veldra
