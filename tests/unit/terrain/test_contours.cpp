#include "terrain/Contours.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <cmath>
#include <map>

extern std::atomic<std::size_t> gLargestAlloc;  // largest_alloc.cpp

namespace veldra {
namespace {

constexpr double kPi = 3.14159265358979323846;

ContourLattice lattice(std::int32_t nc, std::int32_t nr, const std::function<double(double, double)>& f,
                       double cell = 1.0, double x0 = 0.0, double y0 = 0.0) {
  ContourLattice l;
  l.x0 = x0;
  l.y0 = y0;
  l.cell = cell;
  l.ncols = nc;
  l.nrows = nr;
  for (std::int32_t r = 0; r < nr; ++r)
    for (std::int32_t c = 0; c < nc; ++c) l.z.push_back(f(x0 + c * cell, y0 + r * cell));
  return l;
}

// 2 x 2 lattice from the corners a (SW), b (SE), c (NE), d (NW).
ContourLattice cellOf(double a, double b, double c, double d) {
  ContourLattice l;
  l.ncols = l.nrows = 2;
  l.z = {a, b, d, c};
  return l;
}

TEST(ContourRules, AllowedIntervals) {
  for (double ok : {0.25, 0.5, 1.0, 2.0, 0.25000001, 1.9999995}) EXPECT_TRUE(isAllowedContourInterval(ok)) << ok;
  for (double bad : {0.3, 0.0, -1.0, 5.0, 0.2500011, std::nan("")}) EXPECT_FALSE(isAllowedContourInterval(bad)) << bad;
  EXPECT_EQ(formatContourNumber(-12.5), "-12,50");
  EXPECT_EQ(formatContourNumber(1234567.0), "1,235e+06");
}

TEST(ContourRules, GridStepIsCoarsenedBelow3000Cells) {
  std::string msg;
  EXPECT_DOUBLE_EQ(contourGridStep({0, 0, 2999, 500}, 1.0, msg), 1.0);
  EXPECT_TRUE(msg.empty());
  EXPECT_DOUBLE_EQ(contourGridStep({0, 0, 100, 100}, -3.0, msg), 1.0);
  const double step = contourGridStep({0, 0, 1000, 5998}, 1.0, msg);
  EXPECT_DOUBLE_EQ(step, 2.0);
  EXPECT_NE(msg.find("Uzyto kroku 2,00 m"), std::string::npos) << msg;
  msg.clear();
  EXPECT_DOUBLE_EQ(contourGridStep({0, 0, 3000, 10}, 5.0, msg), 5.0);  // already coarse enough
  const double s2 = contourGridStep({0, 0, 10000, 10000}, 1.0, msg);
  const auto lat = buildContourLattice({0, 0, 10000, 10000}, s2, [](double, double) { return 1.0; });
  EXPECT_LE(lat.ncols, kMaxContourNodesPerAxis);
  EXPECT_GE(lat.ncols, kMaxContourNodesPerAxis - 1);
}

TEST(ContourLatticeBuild, NodesAndMissingHeights) {
  const auto l = buildContourLattice({100, 200, 104.5, 202}, 1.0, [](double x, double y) -> std::optional<double> {
    if (x == 102) return std::nullopt;
    return x + 10 * y;
  });
  EXPECT_EQ(l.ncols, 5);
  EXPECT_EQ(l.nrows, 3);
  EXPECT_DOUBLE_EQ(l.at(1, 2), 101 + 2020);
  EXPECT_TRUE(std::isnan(l.at(2, 1)));
  EXPECT_EQ(l.validCount(), 12u);
  EXPECT_TRUE(buildContourLattice({0, 0, 0.5, 10}, 1.0, [](double, double) { return 1.0; }).empty());
  EXPECT_TRUE(buildContourLattice({0, 0, 4000, 10}, 1.0, [](double, double) { return 1.0; }).empty());
}

TEST(ContourSmoothing, FlattensNoiseKeepsCliffsAndHoles) {
  auto l = lattice(9, 9, [](double x, double y) { return (x == 4 && y == 4) ? 100.05 : (x < 2 ? 110.0 : 100.0); });
  l.z[2] = std::nan("");
  smoothLattice(l);
  EXPECT_LT(std::fabs(l.at(4, 4) - 100.0), 0.03);  // a 5 cm bump is pulled down
  EXPECT_NEAR(l.at(1, 8), 110.0, 1e-9);          // a 10 m step is kept: the height weight vanishes
  EXPECT_NEAR(l.at(2, 8), 100.0, 1e-9);
  EXPECT_TRUE(std::isnan(l.at(2, 0)));
  auto narrow = lattice(2, 9, [](double x, double) { return x; });
  const auto before = narrow.z;
  smoothLattice(narrow);
  EXPECT_EQ(narrow.z, before);
}

TEST(ContourBuilder, LevelsExactlyOnAFlatLatticeGiveNothing) {
  std::string msg;
  EXPECT_TRUE(ContourBuilder::build(lattice(5, 5, [](double, double) { return 2.0; }), 1.0, msg).empty());
  EXPECT_TRUE(ContourBuilder::build(cellOf(0, 1, 1, 0), 0.0, msg).empty());
  EXPECT_TRUE(ContourBuilder::build(lattice(1, 5, [](double, double) { return 1.0; }), 1.0, msg).empty());
  EXPECT_TRUE(msg.empty());
  // Infinite heights are no heights: no level at infinity, no coordinates from them.
  auto inf = lattice(4, 4, [](double x, double) { return x; });
  inf.z[3] = std::numeric_limits<double>::infinity();
  inf.z[12] = -std::numeric_limits<double>::infinity();
  const auto cs = ContourBuilder::build(inf, 1.0, msg);
  EXPECT_EQ(cs.size(), 3u);  // levels 1 to 3, from the finite heights
  for (const auto& c : cs)
    for (const auto& p : c.points) EXPECT_TRUE(std::isfinite(p.x) && std::isfinite(p.y));
  EXPECT_TRUE(msg.empty());
}

TEST(ContourBuilder, SaddleIsResolvedByTheMeanOfTheCorners) {
  using End = std::pair<double, double>;
  const struct {
    ContourLattice cell;
    std::map<End, End> ends;   // first point -> second point of each piece
  } cases[] = {
      {cellOf(1, 0, 1, 0), {{{0.5, 0.0}, {1.0, 0.5}}, {{0.5, 1.0}, {0.0, 0.5}}}},   // south-east, north-west
      {cellOf(0, 1, 0, 1), {{{0.5, 0.0}, {0.0, 0.5}}, {{1.0, 0.5}, {0.5, 1.0}}}},   // south-west, east-north
  };
  for (const auto& c : cases) {
    std::string msg;
    const auto pieces = ContourBuilder::build(c.cell, 0.5, msg);
    ASSERT_EQ(pieces.size(), 2u);
    std::map<End, End> ends;
    for (const auto& piece : pieces) {
      EXPECT_DOUBLE_EQ(piece.level, 0.5);
      ASSERT_EQ(piece.points.size(), 2u);
      ends[{piece.points[0].x, piece.points[0].y}] = {piece.points[1].x, piece.points[1].y};
    }
    EXPECT_EQ(ends, c.ends);
  }
}

TEST(ContourBuilder, LimitsTruncateWithMessage) {
  auto bumps = lattice(60, 60, [](double x, double y) { return 10.0 * std::sin(x / 3.0) * std::cos(y / 3.0); });
  std::string msg = "Wczesniej.";
  ContourLimits lim;
  lim.maxContours = 7;
  auto cs = ContourBuilder::build(bumps, 1.0, msg, lim);
  EXPECT_EQ(cs.size(), 7u);
  EXPECT_EQ(msg, std::string("Wczesniej. ") + ContourBuilder::kTruncatedMessage);

  msg.clear();   // (the point budget has its own test below)
  lim = {};
  lim.maxLevels = 3;
  cs = ContourBuilder::build(bumps, 1.0, msg, lim);
  for (const auto& c : cs) EXPECT_LE(c.level, -7.0);  // only the three lowest levels
  EXPECT_EQ(msg, ContourBuilder::kTruncatedMessage);
}

TEST(ContourBuilder, NoisyLatticeStaysWithinThePointBudget) {
  // A checkerboard crosses the level in every cell: far more segments than points allowed.
  auto noise = lattice(500, 500, [](double x, double y) { return (static_cast<int>(x + y) % 2) ? 1.0 : 0.0; });
  ContourLimits lim;
  lim.maxPoints = 1000;
  std::string msg;
  gLargestAlloc = 0;
  const auto cs = ContourBuilder::build(noise, 0.5, msg, lim);
  EXPECT_LT(gLargestAlloc.load(), 1u << 20);
  EXPECT_EQ(msg, ContourBuilder::kTruncatedMessage);
  std::size_t pts = 0;
  for (const auto& c : cs) pts += c.points.size();
  EXPECT_GT(pts, 1000u);
  EXPECT_LT(pts, 1100u);
}

TEST(ContourBuilder, CancellationStopsBeforeTheNextLevel) {
  auto cone = lattice(30, 30, [](double x, double y) { return 20.0 - 0.5 * std::hypot(x - 15, y - 15); });
  int checks = 0;
  std::vector<std::pair<int, int>> reported;
  bool cancelled = false;
  std::string msg;
  const auto cs = ContourBuilder::build(
      cone, 1.0, msg, {}, [&] { return ++checks == 4; }, &cancelled,
      [&](int done, int total) { reported.emplace_back(done, total); });
  EXPECT_TRUE(cancelled);
  EXPECT_EQ(msg, "Poziomice: przerwano przez uzytkownika.");
  ASSERT_EQ(reported.size(), 3u);
  EXPECT_EQ(reported[2].first, 2);
  EXPECT_EQ(reported[0].second, 11);  // levels 10..20
  for (const auto& c : cs) EXPECT_LT(c.level, 13.0);

  std::atomic<bool> flag{true};
  cancelled = false;
  EXPECT_TRUE(ContourBuilder::build(cone, 1.0, msg, {}, [&] { return flag.load(); }, &cancelled).empty());
  EXPECT_TRUE(cancelled);
}

TEST(ContourLabels, PositionsAnglesAndText) {
  const struct {
    std::vector<Point2> points;
    bool index;
    std::vector<std::array<double, 3>> labels;   // x, y, angle
  } cases[] = {
      {{{40, 0}, {0, 0}}, true, {{20, 0, 0}}},                                              // pointing west
      {{{0, 0}, {0, 0}, {0, 60}, {0, 100}}, true, {{0, 25, kPi / 2}, {0, 75, kPi / 2}}},     // after a zero-length segment
      {{{0, 100}, {0, 0}}, true, {{0, 75, kPi / 2}, {0, 25, kPi / 2}}},                                     // south: -pi/2 brought to +pi/2
      {{{0, 0}, {-10, -10}}, true, {{-5, -5, kPi / 4}}},
      {{{0, 0}, {-10, -10}}, false, {}},                                                     // not an index contour
      {{{5, 5}, {5, 5}}, true, {}},
  };
  for (const auto& c : cases) {
    const auto ls = labelContour(Contour{12.5, c.index, c.points});
    ASSERT_EQ(ls.size(), c.labels.size());
    for (std::size_t i = 0; i < ls.size(); ++i) {
      EXPECT_NEAR(ls[i].x, c.labels[i][0], 1e-9);
      EXPECT_NEAR(ls[i].y, c.labels[i][1], 1e-9);
      EXPECT_NEAR(ls[i].angle, c.labels[i][2], 1e-12);
      EXPECT_EQ(ls[i].text, "12,50");
    }
  }
}

}  // namespace
}  // namespace veldra
