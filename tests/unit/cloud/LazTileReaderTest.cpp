#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

#include "cloud/LazTileReader.h"
#include "unit/cloud/LasBuilder.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

using test::LasTestPoint;
using testing::TempDir;
using test::writeLasFile;

const double kUnitScale[3] = {0.01, 0.01, 0.01};
const double kOffset[3] = {560000.0, 240000.0, 0.0};

// Whole records of formats 1 to 3 are read by the black-box lazinfo test and the E57 read-back
// interop test; here records too short for the colour or the class of their format.
TEST(DecodeCloudPoint, ShortRecordsFallBackToGreyAndNoClass) {
  std::vector<uint8_t> rec(34, 0);
  rec[12] = 0x34;  // intensity 0xAB34
  rec[13] = 0xAB;
  rec[15] = 0x82;  // ground with the withheld flag, kept whole
  const double scale[3] = {1, 1, 1}, offset[3] = {0, 0, 0};
  CloudPoint c = decodeCloudPoint(rec.data(), cloudRecordLayout(3, 33), scale, offset);
  EXPECT_EQ(std::tuple(c.red, c.green, c.blue, c.classification), std::tuple(0xAB, 0xAB, 0xAB, 0x82));
  c = decodeCloudPoint(rec.data(), cloudRecordLayout(0, 15), scale, offset);
  EXPECT_EQ(c.classification, 0);
}

TEST(LazTileReader, UnusableFilesAreNotOkAndContributeNothing) {
  TempDir dir;
  writeLasFile(dir.file("empty.las"), 1, {}, kUnitScale, kOffset);
  std::ofstream(dir.file("junk.las")) << "this is not a point cloud";
  const Bbox everything{-1e12, -1e12, 1e12, 1e12};
  for (const char* name : {"empty.las", "junk.las", "missing.las"}) {
    SCOPED_TRACE(name);
    LazTileReader r = LazTileReader::open(dir.file(name));
    EXPECT_FALSE(r.ok());
    CloudPoint p;
    EXPECT_FALSE(readCloudPoint(r, p));
    EXPECT_TRUE(loadPointsInFrame({dir.file(name)}, everything).empty());
    GroundWaterContext ctx;
    ctx.frame = everything;
    EXPECT_NO_THROW(loadGroundAndWater(r, ctx));
    EXPECT_EQ(ctx.total, 0);
  }
  EXPECT_FALSE(LazTileReader::open(dir.file("junk.las")).error().empty());
}

TEST(LoadGroundAndWater, KeepsClasses2And9InsideTheFrame) {
  TempDir dir;
  // Offsets put the points at E 560000 + X/100, N 240000 + Y/100.
  std::vector<LasTestPoint> pts = {
      {0, 0, 100, 0, 2},          // ground on the frame's corner (inclusive)
      {500, 500, 200, 0, 9},      // water
      {500, 500, 300, 0, 0x82},   // withheld ground: neither
      {500, 500, 400, 0, 1},      // unclassified
      {-1, 0, 500, 0, 2},         // ground 1 cm outside
      {1000, 1000, 600, 0, 2},    // ground on the opposite corner
  };
  writeLasFile(dir.file("gw.las"), 1, pts, kUnitScale, kOffset);
  GroundWaterContext ctx;
  ctx.tile.epsg = 2180;
  ctx.frame = {560000.0, 240000.0, 560010.0, 240010.0};
  LazTileReader r = LazTileReader::open(dir.file("gw.las"));
  loadGroundAndWater(r, ctx);
  EXPECT_EQ(ctx.total, 6);
  EXPECT_EQ(ctx.groundTotal, 3);
  ASSERT_EQ(ctx.ground.size(), 2u);
  EXPECT_DOUBLE_EQ(ctx.ground[0].z, 1.0);
  EXPECT_DOUBLE_EQ(ctx.ground[1].z, 6.0);
  ASSERT_EQ(ctx.water.size(), 1u);
  EXPECT_EQ(ctx.water[0].classification, 9);
}

TEST(LoadPointsInFrame, AllClassesInOrderAcrossTiles) {
  TempDir dir;
  writeLasFile(dir.file("a.las"), 0, {{0, 0, 1, 0, 5}, {2000, 0, 2, 0, 2}}, kUnitScale, kOffset);
  writeLasFile(dir.file("b.las"), 0, {{1000, 1000, 3, 0, 0x82}}, kUnitScale, kOffset);
  const Bbox frame{560000.0, 240000.0, 560010.0, 240010.0};
  auto pts = loadPointsInFrame({dir.file("a.las"), dir.file("missing.las"), dir.file("b.las")}, frame);
  ASSERT_EQ(pts.size(), 2u);
  EXPECT_DOUBLE_EQ(pts[0].z, 0.01);
  EXPECT_DOUBLE_EQ(pts[1].z, 0.03);
  EXPECT_EQ(pts[1].classification, 0x82);
}

}  // namespace
}  // namespace veldra
