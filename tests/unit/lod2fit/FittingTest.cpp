// Reading roofs from points: plane fits, the classifier's rule table on planes of known
// slope and direction, whole buildings sampled from known roofs (turned, on national
// grid coordinates), the distance score against a brute-force oracle, and bad input.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <random>

#include "lod2fit/Reconstruction.h"
#include "lod2fit/RoofFitting.h"
#include "lod2fit/RoofPrimitive.h"
#include "lod2fit/SurfaceDistance.h"
#include "lod2fit/XyzText.h"

namespace veldra::lod2fit {
namespace {

constexpr double kRad = std::numbers::pi / 180;

// Points on the plane of `slope` degrees whose downhill side faces `azimuth` degrees,
// over a square patch around (cx, cy) at height z0.
std::vector<Point3> patch(double slope, double azimuth, double cx, double cy, double z0, int n = 15) {
  std::vector<Point3> out;
  const double gx = std::cos(azimuth * kRad), gy = std::sin(azimuth * kRad), t = std::tan(slope * kRad);
  for (int i = 0; i < n; ++i)
    for (int j = 0; j < n; ++j) {
      const double x = cx + i * 0.3, y = cy + j * 0.3;
      out.push_back({x, y, z0 - t * ((x - cx) * gx + (y - cy) * gy)});
    }
  return out;
}

RoofTypeGuess classifyPatches(const std::vector<std::pair<double, double>>& slopeAzimuth) {
  std::vector<Point3> all;
  std::vector<RoofPlane> planes;
  double cx = 0;
  for (const auto& [s, a] : slopeAzimuth) {
    auto pts = patch(s, a, cx, 0, 10);
    planes.push_back(*fitPlaneLeastSquares(pts));
    all.insert(all.end(), pts.begin(), pts.end());
    cx += 20;
  }
  return classifyRoof(planes, all);
}

TEST(ClassifyRoof, RuleTableOnPlanesOfKnownSlopeAndDirection) {
  struct Row {
    std::vector<std::pair<double, double>> planes;
    const char* type;
    double confidence;
  } rows[] = {
      {{}, "Flat", 1.0},
      {{{2, 0}}, "Flat", 1.0},
      {{{25, 90}}, "Shed", 0.9},
      {{{30, 90}, {30, 270}}, "Gabled", 0.9},
      {{{20, 90}, {40, 270}}, "AsymGabled", 0.8},
      {{{30, 90}, {31, 100}}, "Shed", 0.9},   // alike planes merge
      {{{30, 0}, {30, 90}, {30, 180}, {30, 270}}, "Hipped", 0.35},
      {{{30, 0}, {30, 100}, {30, 220}}, "Hipped", 0.7},
      {{{30, 0}, {30, 90}}, "Hipped", 0.4},
  };
  for (const Row& r : rows) {
    const RoofTypeGuess g = classifyPatches(r.planes);
    EXPECT_EQ(g.type, r.type) << r.planes.size() << " planes";
    EXPECT_DOUBLE_EQ(g.confidence, r.confidence) << r.type;
  }
}

TEST(FitPlane, RecoversAPlaneAndRefusesWhatSpansNone) {
  const auto pts = patch(35, 200, 637000, 486000, 120);
  const auto pl = fitPlaneLeastSquares(pts);
  ASSERT_TRUE(pl);
  EXPECT_NEAR(std::acos(pl->nz) / kRad, 35, 1e-4);
  for (const Point3& p : pts) EXPECT_NEAR(pl->nx * p.x + pl->ny * p.y + pl->nz * p.z + pl->d, 0, 1e-6);
  EXPECT_FALSE(fitPlaneLeastSquares({{0, 0, 0}, {1, 1, 1}}));
  EXPECT_FALSE(fitPlaneLeastSquares({{0, 0, 0}, {1, 1, 1}, {2, 2, 5}}));    // one line in plan
  EXPECT_FALSE(fitPlaneLeastSquares({{3, 3, 0}, {3, 3, 1}, {3, 3, 5}, {3, 3, 7}}));   // one vertical line
}

// A building with a known roof: points every 0.29 m over the footprint (about 12 per m²),
// 5 cm of noise, then turned and moved onto national grid coordinates.
enum class Roof { Flat, Shed, ShedBack, Gabled, Asym, AsymBack, Hipped };
ReconstructionInput sampled(Roof roof, double turnDegrees, int firstCorner = 0) {
  const double w = 14, d = 9, ground = 180, eave = 186, rise = 3.5;
  std::mt19937 rng(7);
  std::normal_distribution<double> noise(0, 0.05);
  const double c = std::cos(turnDegrees * kRad), s = std::sin(turnDegrees * kRad);
  const auto place = [&](double x, double y) { return Point2{637000 + x * c - y * s, 486000 + x * s + y * c}; };
  ReconstructionInput in;
  const std::vector<Point2> corners{{0, 0}, {w, 0}, {w, d}, {0, d}};
  for (int i = 0; i < 4; ++i) {
    const Point2 p = corners[(firstCorner + i) % 4];
    in.footprint.push_back(place(p.x, p.y));
  }
  in.groundZ = ground;
  for (double x = 0.1; x < w; x += 0.29)
    for (double y = 0.1; y < d; y += 0.29) {
      double z = eave;
      const double across = 1 - std::abs(y - d / 2) / (d / 2);
      switch (roof) {
        case Roof::Flat: break;
        case Roof::Shed: z += rise * y / d; break;
        case Roof::Gabled: z += rise * across; break;
        case Roof::ShedBack: z += rise * (d - y) / d; break;
        case Roof::Asym: z += y < 0.68 * d ? rise * y / (0.68 * d) : rise * (d - y) / (0.32 * d); break;
        case Roof::AsymBack: z += y > 0.32 * d ? rise * (d - y) / (0.68 * d) : rise * y / (0.32 * d); break;
        case Roof::Hipped: z += rise * std::min({across, x / 2, (w - x) / 2}); break;   // hips 2 m long, as the template's inset
      }
      const Point2 p = place(x, y);
      in.points.push_back({p.x, p.y, z + noise(rng)});
    }
  return in;
}

TEST(ReconstructBuilding, KnownRoofsComeBackTurnedBackAndScored) {
  struct Row {
    Roof roof;
    double turn;
    const char* type;
    bool flagged;
    int firstCorner = 0;
  } rows[] = {
      {Roof::Flat, 0, "Flat", false},
      {Roof::Shed, 25, "Shed", false},
      {Roof::ShedBack, 25, "Shed", false},   // rising the other way: the points choose the way round
      {Roof::AsymBack, 150, "AsymGabled", false},
      {Roof::Gabled, 30, "Gabled", false, 1},   // outline listed from a short edge: the ridge still runs along
      {Roof::Asym, -40, "AsymGabled", false, 3},
      {Roof::Gabled, 30, "Gabled", false},
      {Roof::Gabled, -113, "Gabled", false},
      {Roof::Asym, 60, "AsymGabled", false},
      {Roof::Hipped, 10, "Hipped", true},   // four planes in two opposite pairs: never trusted
  };
  for (const Row& r : rows) {
    const ReconstructionInput in = sampled(r.roof, r.turn, r.firstCorner);
    const RoofFitResult res = reconstructBuilding(in);
    SCOPED_TRACE(r.type);
    EXPECT_EQ(res.type, r.type);
    EXPECT_EQ(res.needsCorrection, r.flagged);
    EXPECT_LT(res.meanDistance, 0.3);
    // The solid stands on the footprint: its lowest corners are the footprint's.
    std::size_t onFootprint = 0;
    for (const Point3& v : res.mesh.vertices)
      for (const Point2 f : in.footprint)
        onFootprint += v.z == in.groundZ && std::hypot(v.x - f.x, v.y - f.y) < 1e-6;
    EXPECT_EQ(onFootprint, 4u);
  }
}

TEST(ReconstructBuilding, BadInputGivesAFlaggedResultNotACrash) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Point2> rect{{0, 0}, {10, 0}, {10, 6}, {0, 6}};
  const auto above = [](int n) {
    std::vector<Point3> p;
    for (int i = 0; i < n; ++i) p.push_back({1 + (i % 7) * 1.2, 1 + (i / 7) * 0.9, 6 + 0.01 * i});
    return p;
  };
  std::vector<Point3> line;
  for (int i = 0; i < 60; ++i) line.push_back({5, 3, 3 + 0.1 * i});
  struct Row {
    const char* what;
    std::vector<Point3> points;
    std::vector<Point2> footprint;
    bool fixedHeights;   // too few roof points: eaves at ground + 0.1, ridge at ground + 3
    bool emptyMesh;
  } rows[] = {
      {"no points", {}, rect, true, false},
      {"7 points", above(7), rect, true, false},
      {"19 points", above(19), rect, false, false},
      {"one vertical line", line, rect, false, false},
      {"two corners", above(40), {{0, 0}, {10, 0}}, false, true},
      {"self-crossing", above(40), {{0, 0}, {10, 0}, {0, 6}, {10, 6}}, false, true},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.what);
    const RoofFitResult res = reconstructBuilding({r.points, r.footprint, 0.0, {}, ""});
    EXPECT_TRUE(std::isfinite(res.meanDistance));
    EXPECT_GT(res.params.ridgeZ, res.params.eaveZ);
    if (r.fixedHeights) {
      EXPECT_DOUBLE_EQ(res.params.eaveZ, 0.1);
      EXPECT_DOUBLE_EQ(res.params.ridgeZ, 3.0);
      EXPECT_TRUE(res.needsCorrection);
    }
    if (r.emptyMesh) {
      EXPECT_TRUE(res.mesh.faces.empty());
      EXPECT_EQ(res.meanDistance, 1e9);
      EXPECT_TRUE(res.needsCorrection);
    }
  }
  // Points without a height are left out: the answer is that of the others.
  ReconstructionInput in = sampled(Roof::Gabled, 30);
  const RoofFitResult clean = reconstructBuilding(in);
  for (int i = 0; i < 50; ++i) in.points.insert(in.points.begin() + i * 7, Point3{637005, 486004, nan});
  const RoofFitResult dirty = reconstructBuilding(in);
  EXPECT_EQ(dirty.type, clean.type);
  EXPECT_DOUBLE_EQ(dirty.meanDistance, clean.meanDistance);
}

TEST(RoofHeights, PercentilesOfThePointsAboveTheThreshold) {
  std::vector<Point3> pts;
  for (int i = 0; i < 100; ++i) pts.push_back({0, 0, 10.0 + i * 0.1});   // 10.0 .. 19.9
  const RoofHeights h = estimateRoofHeights(pts, 0.0);
  // Threshold max(0.4·z98, 2) ≈ 7.9: every point is roof; numpy.percentile(…, 10) = 10.99, (…, 95) = 19.405.
  ASSERT_TRUE(h.found);
  EXPECT_EQ(h.roofPoints.size(), 100u);
  EXPECT_NEAR(h.eaveZ, 10.99, 1e-9);
  EXPECT_NEAR(h.ridgeZ, 19.405, 1e-9);
  EXPECT_FALSE(estimateRoofHeights({pts.begin(), pts.begin() + 7}, 0.0).found);
}

TEST(DetectRoofPlanes, RepeatableAndEmptyOnPointsThatSpanNoRoof) {
  auto pts = patch(30, 90, 0, 0, 10, 20);
  const auto more = patch(30, 270, 0, 6, 10, 20);
  pts.insert(pts.end(), more.begin(), more.end());
  const auto a = detectRoofPlanes(pts), b = detectRoofPlanes(pts);
  ASSERT_EQ(a.size(), 2u);
  ASSERT_EQ(b.size(), 2u);
  EXPECT_EQ(a[0].d, b[0].d);
  std::vector<Point3> line;
  for (int i = 0; i < 200; ++i) line.push_back({2, 2, 0.05 * i});
  EXPECT_TRUE(detectRoofPlanes(line).empty());
  EXPECT_TRUE(detectRoofPlanes({pts.begin(), pts.begin() + 29}).empty());
}

// The distance to a triangle, against the nearest of 160 000 points spread over it.
double bruteDistance(Point3 p, Point3 k, Point3 l, Point3 m) {
  double best = std::numeric_limits<double>::infinity();
  const int n = 400;
  for (int i = 0; i <= n; ++i)
    for (int j = 0; i + j <= n; ++j) {
      const double u = double(i) / n, v = double(j) / n;
      const Point3 q{k.x + u * (l.x - k.x) + v * (m.x - k.x), k.y + u * (l.y - k.y) + v * (m.y - k.y),
                     k.z + u * (l.z - k.z) + v * (m.z - k.z)};
      best = std::min(best, std::hypot(p.x - q.x, p.y - q.y, p.z - q.z));
    }
  return best;
}

TEST(SurfaceDistance, PointToTriangleInEveryRegion) {
  const Point3 k{0, 0, 0}, l{10, 0, 0}, m{10, 0, 3};   // a wall triangle
  const Point3 tilted[3] = {{0, 0, 0}, {6, 1, 2}, {2, 5, 4}};
  for (const Point3 p : {Point3{3, 4, 1}, Point3{-2, -1, -1}, Point3{12, 1, -1}, Point3{11, -2, 5}, Point3{5, 2, -3},
                         Point3{5, 0, 10}, Point3{4, 0, 1}}) {
    EXPECT_NEAR(pointTriangleDistance(p, k, l, m), bruteDistance(p, k, l, m), 0.03) << p.x << " " << p.y << " " << p.z;
    EXPECT_NEAR(pointTriangleDistance(p, tilted[0], tilted[1], tilted[2]),
                bruteDistance(p, tilted[0], tilted[1], tilted[2]), 0.03);
  }
  EXPECT_DOUBLE_EQ(pointTriangleDistance({3, 4, 0}, {0, 0, 0}, {0, 0, 0}, {1, 1, 1}), 5.0);
}

TEST(SurfaceDistance, ConcaveRoofFacesDoNotCoverTheirNotch) {
  RoofParams p;
  const std::vector<Point2> u{{0, 0}, {15, 0}, {15, 10}, {11, 10}, {11, 4}, {4, 4}, {4, 10}, {0, 10}};
  const RoofMesh flat = roofPrimitiveNamed("Flat").build(p, u);
  // In the notch at roof height: 1 m from the inner wall at x = 11.
  EXPECT_NEAR(meanSurfaceDistance({{10, 8, p.eaveZ}}, flat), 1.0, 1e-9);
  EXPECT_EQ(meanSurfaceDistance({}, flat), 1e9);
  EXPECT_EQ(meanSurfaceDistance({{0, 0, 0}}, RoofMesh{}), 1e9);
}

TEST(XyzText, ReadsNumbersAndNamesTheBadLine) {
  struct Row {
    const char* text;
    XyzHeights heights;
    std::size_t points;
    bool ok;
  } rows[] = {
      {"1 2 3\n4\t5 6\r\n\n", XyzHeights::Required, 2, true},
      {"637000.5 486000.25 101.5", XyzHeights::Required, 1, true},
      {"1 2\n3 4 5\n", XyzHeights::Optional, 2, true},
      {"1 2\n", XyzHeights::Required, 0, false},
      {"1 2 3 4\n", XyzHeights::Required, 0, false},
      {"1 2 x\n", XyzHeights::Required, 0, false},
      {"1 2 nan\n", XyzHeights::Required, 0, false},
      {"1 2 1e999\n", XyzHeights::Required, 0, false},
      {"1 2 3abc\n", XyzHeights::Required, 0, false},
  };
  for (const Row& r : rows) {
    const XyzText t = parseXyzText(r.text, r.heights);
    EXPECT_EQ(t.points.size(), r.points) << r.text;
    EXPECT_EQ(t.error.empty(), r.ok) << r.text;
  }
  EXPECT_NE(parseXyzText("1 2 3\n\n1 2 y\n", XyzHeights::Required).error.find("wiersz 3"), std::string::npos);
  EXPECT_NE(parseXyzText("1 2 3\n1 2 3\n1 2 3\n", XyzHeights::Required, 2).error.find("wiersz 3"), std::string::npos);
}

}  // namespace
}  // namespace veldra::lod2fit
