// Every primitive on every kind of footprint builds flat faces between ground and ridge,
// plus the footprints no solid can stand on and the edge cases of the parameters.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>
#include <numbers>
#include <string>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/RoofPrimitive.h"

namespace veldra::lod2fit {
namespace {

std::vector<Point2> turned(std::vector<Point2> pts, double degrees, Point2 shift) {
  const double a = degrees * std::numbers::pi / 180;
  for (auto& p : pts) p = {shift.x + p.x * std::cos(a) - p.y * std::sin(a), shift.y + p.x * std::sin(a) + p.y * std::cos(a)};
  return pts;
}

std::vector<Point2> regular(int n, double r) {
  std::vector<Point2> out;
  for (int i = 0; i < n; ++i) out.push_back({r * std::cos(2 * std::numbers::pi * i / n), r * std::sin(2 * std::numbers::pi * i / n)});
  return out;
}

std::vector<Point2> star(int tips, double outer, double inner) {
  std::vector<Point2> out;
  for (int i = 0; i < 2 * tips; ++i) {
    const double r = i % 2 ? inner : outer, a = std::numbers::pi * i / tips;
    out.push_back({r * std::cos(a), r * std::sin(a)});
  }
  return out;
}

struct FootprintCase {
  const char* name;
  std::vector<Point2> corners;
};

const std::vector<FootprintCase>& footprints() {
  static const std::vector<FootprintCase> all{
      {"triangle", {{0, 0}, {9, 1}, {3, 7}}},
      {"rectangle", {{0, 0}, {12, 0}, {12, 8}, {0, 8}}},
      {"rectangle_clockwise_turned", turned({{0, 0}, {0, 8}, {12, 8}, {12, 0}}, 37, {0, 0})},
      {"square_national_grid", turned({{0, 0}, {10, 0}, {10, 10}, {0, 10}}, -20, {637412.25, 486215.5})},
      {"trapezoid_turned", turned({{0, 0}, {14, 0}, {11, 7}, {2, 6}}, 71, {5, -3})},
      {"narrow_deep", {{0, 0}, {4, 0}, {4, 15}, {0, 15}}},
      {"concave_quad", {{0, 0}, {10, 0}, {5, 3}, {0, 10}}},
      {"pentagon_turned", turned(regular(5, 6), 12, {100, 200})},
      {"l_shape", turned({{0, 0}, {12, 0}, {12, 5}, {5, 5}, {5, 11}, {0, 11}}, 150, {0, 0})},
      {"octagon", regular(8, 7)},
      {"u_shape", {{0, 0}, {15, 0}, {15, 10}, {11, 10}, {11, 4}, {4, 4}, {4, 10}, {0, 10}}},
      {"star_12", turned(star(6, 9, 4), 5, {0, 0})},
  };
  return all;
}

// Largest distance of a face corner from the face's own Newell plane; -1 for a bad index.
double worstOffPlane(const RoofMesh& m) {
  double worst = 0;
  for (const auto& f : m.faces) {
    for (const auto i : f)
      if (i >= m.vertices.size() || f.size() < 3) return -1;
    const Point3 o = m.vertices[f[0]];
    double nx = 0, ny = 0, nz = 0;
    for (std::size_t i = 0; i < f.size(); ++i) {
      const Point3 a = m.vertices[f[i]], b = m.vertices[f[(i + 1) % f.size()]];
      nx += ((a.y - o.y) - (b.y - o.y)) * ((a.z - o.z) + (b.z - o.z));
      ny += ((a.z - o.z) - (b.z - o.z)) * ((a.x - o.x) + (b.x - o.x));
      nz += ((a.x - o.x) - (b.x - o.x)) * ((a.y - o.y) + (b.y - o.y));
    }
    const double len = std::sqrt(nx * nx + ny * ny + nz * nz);
    for (const auto i : f) {
      const Point3 p = m.vertices[i];
      if (len > 0) worst = std::max(worst, std::abs((p.x - o.x) * nx + (p.y - o.y) * ny + (p.z - o.z) * nz) / len);
    }
  }
  return worst;
}

RoofParams someRoof() {
  RoofParams p;
  p.groundZ = 101.5;
  p.eaveZ = 107.2;
  p.ridgeZ = 111.9;
  p.dormerCount = 3;
  p.segments = 12;
  return p;
}

class EveryPrimitive : public ::testing::TestWithParam<std::tuple<std::size_t, std::size_t>> {};

// Closed, outward and free of self-intersections is judged by CGAL on the written model
// (interop roof-fit test); a triangulated file cannot show a bent face, so that is checked here.
TEST_P(EveryPrimitive, HasFlatFacesBetweenGroundAndRidge) {
  const RoofPrimitive& prim = *roofPrimitives()[std::get<0>(GetParam())];
  const FootprintCase& fp = footprints()[std::get<1>(GetParam())];
  const RoofMesh mesh = prim.build(someRoof(), fp.corners);
  SCOPED_TRACE(std::string(prim.name()) + " on " + fp.name);
  ASSERT_FALSE(mesh.faces.empty());
  const double offPlane = worstOffPlane(mesh);
  EXPECT_GE(offPlane, 0);
  EXPECT_LT(offPlane, 1e-6);
  for (const Point3& v : mesh.vertices) {
    EXPECT_GE(v.z, someRoof().groundZ - 1e-9);
    EXPECT_LE(v.z, someRoof().ridgeZ + 1e-9);
  }
}

INSTANTIATE_TEST_SUITE_P(Catalogue, EveryPrimitive,
                         ::testing::Combine(::testing::Range<std::size_t>(0, 25), ::testing::Range<std::size_t>(0, 12)),
                         [](const auto& param) {
                           return std::string(roofPrimitives()[std::get<0>(param.param)]->name()) + "_" +
                                  footprints()[std::get<1>(param.param)].name;
                         });

TEST(RoofCatalogue, HoldsTwentyFiveDistinctNamesAndFallsBackToFlat) {
  std::set<std::string> names;
  for (const RoofPrimitive* p : roofPrimitives()) names.insert(p->name());
  EXPECT_EQ(names.size(), 25u);
  EXPECT_STREQ(roofPrimitiveNamed("Gabled").name(), "Gabled");
  EXPECT_STREQ(roofPrimitiveNamed("gabled").name(), "Flat");
}

TEST(RoofFootprint, NoSolidStandsOnADegenerateOutline) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<const char*, std::vector<Point2>>> bad{
      {"empty", {}},
      {"two corners", {{0, 0}, {5, 0}}},
      {"three corners, one repeated", {{0, 0}, {5, 0}, {5, 0}, {0, 0}}},
      {"all on a line", {{0, 0}, {3, 0}, {7, 0}, {10, 0}}},
      {"bow tie", {{0, 0}, {10, 0}, {0, 8}, {10, 8}}},
      {"crossing pentagon", {{0, 0}, {10, 0}, {10, 10}, {12, -2}, {0, 10}}},
      {"not a number", {{0, 0}, {10, 0}, {10, nan}, {0, 8}}},
      {"more corners than are checked for crossings", regular(static_cast<int>(kMaxFootprintCorners) + 2, 50)},
  };
  for (const auto& [what, corners] : bad)
    for (const RoofPrimitive* p : roofPrimitives())
      EXPECT_TRUE(p->build(someRoof(), corners).faces.empty()) << what << " / " << p->name();
}

TEST(RoofFootprint, RepeatedAndStraightThroughCornersDoNotChangeTheSolid) {
  const std::vector<Point2> clean{{0, 0}, {12, 0}, {12, 8}, {0, 8}};
  const std::vector<Point2> noisy{{0, 0}, {6, 0}, {12, 0}, {12, 0}, {12, 8}, {0, 8}, {0, 4}, {0, 0}};
  for (const RoofPrimitive* p : roofPrimitives()) {
    const RoofMesh a = p->build(someRoof(), clean), b = p->build(someRoof(), noisy);
    EXPECT_EQ(a.faces, b.faces) << p->name();
    ASSERT_EQ(a.vertices.size(), b.vertices.size()) << p->name();
  }
}

double highest(const RoofMesh& m) {
  double z = -std::numeric_limits<double>::infinity();
  for (const Point3& v : m.vertices) z = std::max(z, v.z);
  return z;
}

TEST(RoofShapes, EdgeCasesOfTheParameters) {
  const std::vector<Point2> rect{{0, 0}, {10, 0}, {10, 6}, {0, 6}};
  RoofParams p = someRoof();
  // A gable asked of a six-corner footprint is flat at the eaves.
  const std::vector<Point2> six{{0, 0}, {10, 0}, {10, 6}, {6, 6}, {6, 9}, {0, 9}};
  EXPECT_DOUBLE_EQ(highest(roofPrimitiveNamed("Gabled").build(p, six)), p.eaveZ);
  EXPECT_DOUBLE_EQ(highest(roofPrimitiveNamed("Gabled").build(p, rect)), p.ridgeZ);
  // A ridge under the eaves is lifted just over them.
  RoofParams low = p;
  low.ridgeZ = p.eaveZ - 2;
  EXPECT_NEAR(highest(roofPrimitiveNamed("Gabled").build(low, rect)), p.eaveZ + 0.1, 1e-12);
  // A hip inset past the middle leaves the two ridge ends apart, in order, on the midline.
  RoofParams wide = p;
  wide.hipInset = 50;
  const RoofMesh hip = roofPrimitiveNamed("Hipped").build(wide, rect);
  std::vector<Point3> ridge;
  for (const Point3& v : hip.vertices)
    if (v.z == p.ridgeZ) ridge.push_back(v);
  ASSERT_EQ(ridge.size(), 2u);
  EXPECT_LT(ridge[0].x, ridge[1].x);
  EXPECT_NEAR(ridge[0].x, 5, 1e-5);
  EXPECT_NEAR(ridge[1].x, 5, 1e-5);
  EXPECT_DOUBLE_EQ(ridge[0].y, 3);
  // More segments than can be drawn are capped, not allocated.
  RoofParams huge = p;
  huge.segments = std::numeric_limits<std::int32_t>::max();
  for (const char* curved : {"Barrel", "Cone", "Dome", "Nave"})
    EXPECT_LT(roofPrimitiveNamed(curved).build(huge, rect).vertices.size(), 100000u) << curved;
}

}  // namespace
}  // namespace veldra::lod2fit
