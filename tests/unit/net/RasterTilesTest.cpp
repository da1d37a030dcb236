#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/RasterTiles.h"
#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using testing::ok;

const std::string kPng = std::string("\x89PNG\r\n\x1a\n", 8) + "IHDR";
const std::string kJpeg = std::string("\xff\xd8\xff\xe0", 4);
const std::string kXmlError =
    "<?xml version=\"1.0\"?><ServiceExceptionReport><ServiceException>too big</ServiceException>"
    "</ServiceExceptionReport>";

using testing::param;

struct RasterTest : testing::ScriptedNetTest {
  std::vector<RasterTile> out;
  std::vector<std::string> reports;
  RasterFetchResult fetch(const Bbox& frame, double density, DataType type = DataType::Rastry, int epsg = 2180) {
    return fetchRasterTiles(client, frame, "http://wms.test/ows?map=x", "Raster", density, type, epsg, out,
                            [&](const std::string& l) { reports.push_back(l); });
  }
};

TEST(RasterSignature, PngAndJpegNeedTheirMinimumLength) {
  EXPECT_FALSE(isPngOrJpeg(std::string("\x89PNG\r\n\x1a\n", 8)));
  EXPECT_TRUE(isPngOrJpeg(std::string("\x89PNG\r\n\x1a\n\x00", 9)));
  EXPECT_FALSE(isPngOrJpeg(std::string("\xff\xd8\xff", 3)));
  EXPECT_TRUE(isPngOrJpeg(kJpeg));
  EXPECT_FALSE(isPngOrJpeg(kXmlError));
  EXPECT_FALSE(isPngOrJpeg(""));
}

TEST_F(RasterTest, WideFrameIsClampedToFourByFourWithNotice) {
  transport.answer = [](const std::string&) { return ok(kJpeg); };
  const auto r = fetch({500000, 400000, 501000, 401000}, 0.05, DataType::Gesut);
  EXPECT_EQ(r.notice, "Kadr bardzo szeroki - rastry ograniczone do 16 platek (ok. 1:217).");
  EXPECT_EQ(r.tiles, 16);
  EXPECT_EQ(transport.urls.size(), 16u);
  ASSERT_EQ(out.size(), 16u);
  EXPECT_EQ(out[0].type, DataType::Gesut);
  // Tiles cover the frame row by row from the south-west, edge to edge.
  EXPECT_DOUBLE_EQ(out[0].maxX, 500250);
  EXPECT_DOUBLE_EQ(out[1].minX, 500250);
  EXPECT_DOUBLE_EQ(out[15].maxX, 501000);
  EXPECT_DOUBLE_EQ(out[15].maxY, 401000);
}

TEST_F(RasterTest, XmlAnswerWithStatus200IsRetriedAtHalfTheWidth) {
  transport.script = {ok(kXmlError), {404, "", "", false}, ok(kPng)};
  const auto r = fetch({500000, 400000, 501024, 400512}, 0.25);
  EXPECT_EQ(r.tiles, 1);
  ASSERT_EQ(transport.urls.size(), 3u);
  EXPECT_EQ(param(transport.urls[0], "WIDTH"), "4096");
  EXPECT_EQ(param(transport.urls[1], "WIDTH"), "2048");
  EXPECT_EQ(param(transport.urls[2], "WIDTH"), "1024");
  EXPECT_EQ(param(transport.urls[2], "HEIGHT"), "512");
}

TEST_F(RasterTest, RetriesStopBelow512PixelsAndTheTileIsSkipped) {
  transport.answer = [](const std::string&) { return ok(kXmlError); };
  EXPECT_EQ(fetch({500000, 400000, 501024, 400512}, 0.25).tiles, 0);
  EXPECT_EQ(transport.urls.size(), 4u);   // 4096, 2048, 1024, 512
  EXPECT_TRUE(out.empty());

  transport.urls.clear();
  EXPECT_EQ(fetch({500000, 400000, 500300, 400300}, 0.25).tiles, 0);
  ASSERT_EQ(transport.urls.size(), 2u);   // 1200, 600; 300 is too small
}

TEST_F(RasterTest, NarrowFrameGetsItsFirstRequestAtTheMinimumWidth) {
  transport.answer = [](const std::string&) { return ok(kPng); };
  EXPECT_EQ(fetch({500000, 400000, 500050, 400050}, 0.25).tiles, 1);
  ASSERT_EQ(transport.urls.size(), 1u);
  EXPECT_EQ(param(transport.urls[0], "WIDTH"), "256");
  EXPECT_EQ(param(transport.urls[0], "HEIGHT"), "256");

  // A narrow tall frame: the height is capped like the width.
  transport.urls.clear();
  EXPECT_EQ(fetch({500000, 400000, 500010, 404000}, 0.25).tiles, 4);
  ASSERT_EQ(transport.urls.size(), 4u);
  EXPECT_EQ(param(transport.urls[0], "WIDTH"), "256");
  EXPECT_EQ(param(transport.urls[0], "HEIGHT"), "4096");
}

// A PL-2000 request's box (the moved corners of the frame) is held to PROJ by the black-box
// raster-phase table.
TEST_F(RasterTest, DegenerateFrameOrDensityAsksNothing) {
  EXPECT_EQ(fetch({500000, 400000, 500000, 400100}, 0.25).tiles, 0);
  EXPECT_EQ(fetch({500000, 400000, 500100, 400100}, 0.0).tiles, 0);
  EXPECT_EQ(fetch({500000, 400000, 500100, 400100}, -1.0).tiles, 0);
  EXPECT_TRUE(transport.urls.empty());
  EXPECT_TRUE(reports.empty());
}

}  // namespace
}  // namespace veldra
