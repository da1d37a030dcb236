#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "cloud/CloudGrid.h"

namespace veldra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Points at the centre of cell (i, j) of a grid with origin 0 and step 1.
struct Cell {
  int i, j;
  std::vector<double> z;
};
std::vector<CloudPoint> pointsIn(const std::vector<Cell>& cells) {
  std::vector<CloudPoint> out;
  for (const Cell& c : cells)
    for (double z : c.z) out.push_back(CloudPoint{c.i + 0.5, c.j + 0.5, z});
  return out;
}
// Every cell of columns [i0, i1] and rows [0, rows) at height z.
std::vector<Cell> block(int i0, int i1, int rows, double z) {
  std::vector<Cell> out;
  for (int i = i0; i <= i1; ++i)
    for (int j = 0; j < rows; ++j) out.push_back({i, j, {z}});
  return out;
}

struct Expect {
  int i, j;
  double height;  // NaN: no height
  int water;
};

TEST(CloudGrid, Rules) {
  struct Case {
    const char* name;
    double width, height;  // frame from (0, 0)
    std::vector<Cell> ground, water;
    WaterFlattening flattening;
    std::vector<Expect> expect;
    double waterLevel;  // NaN: none
  };
  const Case cases[] = {
      // Ground medians and hole filling are held to numpy in the interop test; here the water.
      {"one water point keeps the ground; two take their upper median", 3, 3,
       block(0, 3, 4, 50.0), {{1, 1, {40}}, {2, 2, {41, 42}}}, WaterFlattening::Off,
       {{1, 1, 50, 0}, {2, 2, 42, 1}}, kNaN},
      {"water medians fill a cell the ground left empty", 6, 0,
       {{0, 0, {5}}}, {{6, 0, {3, 1, 2}}}, WaterFlattening::Off,
       {{6, 0, 2, 1}, {3, 0, kNaN, 0}}, kNaN},
      {"flattening: water cells and empty cells take the median of all water heights", 6, 0,
       {{0, 0, {5}}, {1, 0, {6}}}, {{5, 0, {3, 1}}, {6, 0, {2}}}, WaterFlattening::On,
       {{0, 0, 5, 0}, {3, 0, 2, 1}, {5, 0, 2, 1}, {6, 0, 2, 1}}, 2},
      {"past the last covered cell (a frame beyond the LiDAR tiles) no lake is made", 6, 0,
       {{0, 0, {5}}, {1, 0, {6}}}, {{2, 0, {3, 1}}}, WaterFlattening::On,
       {{2, 0, 3, 1}, {3, 0, kNaN, 0}, {6, 0, kNaN, 0}}, 3},
      {"no water point: nothing to flatten to, empty cells stay empty", 6, 0,
       {{0, 0, {5}}}, {}, WaterFlattening::On,
       {{0, 0, 5, 0}, {3, 0, kNaN, 0}}, kNaN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const CloudGrid g =
        buildCloudGrid(Bbox{0, 0, c.width, c.height}, pointsIn(c.ground), 1.0, pointsIn(c.water), c.flattening);
    ASSERT_FALSE(g.empty());
    for (const Expect& e : c.expect) {
      SCOPED_TRACE(testing::Message() << "cell " << e.i << "," << e.j);
      EXPECT_THAT(g.height(e.i, e.j), ::testing::NanSensitiveDoubleEq(e.height));
      EXPECT_EQ(g.waterFlags[static_cast<std::size_t>(e.j * g.nx + e.i)], e.water);
    }
    EXPECT_THAT(g.waterLevel, ::testing::NanSensitiveDoubleEq(c.waterLevel));
    // The counters agree with the cells themselves.
    std::uint64_t valid = 0, water = 0;
    for (std::size_t k = 0; k < g.heights.size(); ++k) {
      valid += !std::isnan(g.heights[k]);
      water += g.waterFlags[k];
    }
    EXPECT_EQ(valid, g.validCells + (c.flattening == WaterFlattening::On ? g.flatCells - g.waterCells : 0));
    EXPECT_EQ(water, c.flattening == WaterFlattening::On ? g.flatCells : g.waterCells);
  }
}


// Heights of a plane: bilinear sampling must reproduce it exactly. Where a corner is missing the
// nearest corner with a height answers, the first one on a tie.
TEST(CloudGrid, Sampling) {
  auto plane = [](double x, double y) { return 100 + 0.5 * x - 0.25 * y; };
  std::vector<Cell> full;
  for (int i = 0; i <= 4; ++i)
    for (int j = 0; j <= 4; ++j) full.push_back({i, j, {plane(i, j)}});
  const CloudGrid g = buildCloudGrid(Bbox{0, 0, 4, 4}, pointsIn(full), 1.0, {}, WaterFlattening::Off);
  for (auto [x, y] : {std::pair{0.0, 0.0}, {1.25, 2.75}, {3.99, 0.5}, {2.5, 3.5}}) {
    ASSERT_TRUE(sampleCloudGrid(g, x, y));
    EXPECT_NEAR(*sampleCloudGrid(g, x, y), plane(x, y), 1e-4) << x << "," << y;  // heights kept as floats
  }

  // Two diagonal cells: the other two have only two neighbours each and stay empty.
  const CloudGrid sparse =
      buildCloudGrid(Bbox{0, 0, 1, 1}, pointsIn({{0, 0, {10}}, {1, 1, {20}}}), 1.0, {}, WaterFlattening::Off);
  struct Probe {
    double x, y;
    std::optional<double> z;
  };
  const Probe probes[] = {{0.6, 0.3, 10}, {0.8, 0.6, 20}, {0.5, 0.5, 10}, {-0.01, 0.5, std::nullopt},
                          {0.5, 2.0, std::nullopt}, {kNaN, 0.5, std::nullopt}};
  for (const Probe& p : probes) EXPECT_EQ(sampleCloudGrid(sparse, p.x, p.y), p.z) << p.x << "," << p.y;

  const CloudGrid lake = buildCloudGrid(Bbox{0, 0, 3, 0}, pointsIn({{0, 0, {5}}}), 1.0,
                                        pointsIn({{2, 0, {1.5, 1.5}}}), WaterFlattening::On);
  EXPECT_EQ(sampleCloudWater(lake, 2.5, 0.5), 1.5);
  EXPECT_EQ(sampleCloudWater(lake, 0.5, 0.5), std::nullopt);
  EXPECT_EQ(sampleCloudWater(lake, 9.5, 0.5), std::nullopt);
  EXPECT_EQ(sampleCloudWater(sparse, 0.5, 0.5), std::nullopt);
}

// Frames or steps that would need an absurd grid give an empty one instead of an allocation;
// points that are not finite are ignored.
TEST(CloudGrid, BadInput) {
  for (const Bbox& f : {Bbox{0, 0, 1e9, 10}, Bbox{0, 0, kNaN, 10}, Bbox{10, 0, 0, 10}})
    EXPECT_TRUE(buildCloudGrid(f, {}, 1.0, {}, WaterFlattening::Off).empty()) << f.maxX;
  const CloudGrid g = buildCloudGrid(Bbox{0, 0, 3, 3}, {{kNaN, 1, 5}, {1, 1, kNaN}, {1.5, 1.5, 7}}, 0.0, {},
                                     WaterFlattening::Off);
  EXPECT_EQ(g.step, 1.0);
  EXPECT_EQ(g.validCells, 1u);
  EXPECT_EQ(g.height(1, 1), 7);
  EXPECT_EQ(sampleCloudGrid(CloudGrid{}, 0, 0), std::nullopt);
}

}  // namespace
}  // namespace veldra
