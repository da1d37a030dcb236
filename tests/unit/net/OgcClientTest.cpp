#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "formats/GmlParser.h"
#include "geo/Projections.h"
#include "net/OgcClient.h"
#include "unit/net/OgcTestSupport.h"

namespace veldra {
namespace {

using testing::collection;
using testing::emptyCollection;
using testing::exceptionReport;
using testing::memberSquare;
using testing::ok;

using testing::has;
using testing::param;

// ---------------------------------------------------------------------------
// Addresses

TEST(GetFeatureUrl, AxisOrderVersionAndPaging) {
  const Bbox f{500000, 600000, 500500, 600300};
  const std::string northFirst = "&BBOX=600000%2C500000%2C600300%2C500500%2Curn%3Aogc%3Adef%3Acrs%3AEPSG%3A%3A2180";
  EXPECT_EQ(buildGetFeatureUrl("https://h.example/wfs", "ms:dzialki", f, 1000, 0, true, false, 2180),
            "https://h.example/wfs?service=WFS&version=2.0.0&request=GetFeature&typenames=ms%3Adzialki&COUNT=1000" +
                northFirst);
  EXPECT_EQ(buildGetFeatureUrl("https://h.example/cgi?map=x", "ms:dzialki", f, 1000, 2000, false, false, 0),
            "https://h.example/cgi?map=x&service=WFS&version=2.0.0&request=GetFeature&typenames=ms%3Adzialki"
            "&COUNT=1000&STARTINDEX=2000"
            "&BBOX=500000%2C600000%2C500500%2C600300%2Curn%3Aogc%3Adef%3Acrs%3AEPSG%3A%3A2180");
  // WFS 1.1.0: other parameter names, no paging, always PL-1992.
  EXPECT_EQ(buildGetFeatureUrl("http://h.example/ows", "dzialki", f, 1000, 7, true, true, 4326),
            "http://h.example/ows?service=WFS&version=1.1.0&request=GetFeature&typename=dzialki&maxFeatures=1000" +
                northFirst);
}

TEST(GetFeatureUrl, TenSignificantDigits) {
  Bbox f{123456.789012, 456789.123456, 123457.5, 456790.25};
  EXPECT_EQ(param(buildGetFeatureUrl("https://h/w", "t", f, 5, 0, false, false, 2180), "BBOX"),
            "123456.789%2C456789.1235%2C123457.5%2C456790.25%2Curn%3Aogc%3Adef%3Acrs%3AEPSG%3A%3A2180");
}

TEST(GetFeatureUrl, Pl2000ZoneConvertsTheFrameAndNamesTheSystem) {
  Bbox f{650000, 500000, 650500, 500300};
  std::string url = buildGetFeatureUrl("https://h/w", "t", f, 1000, 0, true, false, 2178);
  ASSERT_TRUE(has(url, "&COUNT=1000&SRSNAME=EPSG%3A2178&BBOX=")) << url;
  std::string box = param(url, "BBOX");
  const std::string tail = "%2Curn%3Aogc%3Adef%3Acrs%3AEPSG%3A%3A2178";
  ASSERT_EQ(box.substr(box.size() - tail.size()), tail);
  // minN, minE, maxN, maxE around all four corners, as PROJ gives them
  // (cs2cs EPSG:2180 EPSG:2178): two corners would cut 14 m strips off the frame.
  const double proj[4] = {5801336.726, 7513817.011, 5801650.540, 7514325.289};
  double v[4];
  ASSERT_EQ(std::sscanf(box.c_str(), "%lf%%2C%lf%%2C%lf%%2C%lf", &v[0], &v[1], &v[2], &v[3]), 4) << box;
  for (int i = 0; i < 4; ++i) EXPECT_NEAR(v[i], proj[i], 0.01) << i;
}

// ---------------------------------------------------------------------------
// Frame tests

GisFeature squareAt(double x, double y, double size) {
  GisFeature f;
  f.polygons.push_back({{{x, y}, {x + size, y}, {x + size, y + size}, {x, y + size}, {x, y}}, {}});
  return f;
}

TEST(FeatureTouchesFrame, PointOuterRingAndLineVerticesBordersIncluded) {
  Bbox frame{100, 100, 200, 200};
  GisFeature p;
  p.hasPoint = true;
  p.point = {200, 150};  // on the east border
  EXPECT_TRUE(featureTouchesFrame(p, frame));
  p.point = {200.001, 150};
  EXPECT_FALSE(featureTouchesFrame(p, frame));

  EXPECT_TRUE(featureTouchesFrame(squareAt(190, 190, 50), frame));   // one corner inside
  EXPECT_FALSE(featureTouchesFrame(squareAt(300, 300, 50), frame));
  // A ring that encloses the frame has no vertex in it.
  EXPECT_FALSE(featureTouchesFrame(squareAt(0, 0, 1000), frame));

  GisFeature holeOnly = squareAt(0, 0, 1000);
  holeOnly.polygons[0].holes.push_back({{150, 150}, {160, 150}, {160, 160}, {150, 150}});
  EXPECT_FALSE(featureTouchesFrame(holeOnly, frame));

  GisFeature line;
  line.lines.push_back({{0, 0}, {100, 100}, {300, 300}});
  EXPECT_TRUE(featureTouchesFrame(line, frame));  // the corner vertex
  line.lines[0][1] = {99.9, 100};
  EXPECT_FALSE(featureTouchesFrame(line, frame));

  EXPECT_FALSE(anyVertexInFrame({}, frame));
  EXPECT_TRUE(anyVertexInFrame({line, p, squareAt(120, 120, 1)}, frame));
}

TEST(RemoveDuplicateFeatures, DropsOnlyExactRepeatsAndKeepsOrder) {
  GisFeature a = squareAt(0, 0, 10);
  a.attributes["ID"] = "a";
  GisFeature b = squareAt(0, 0, 10);
  b.attributes["ID"] = "b";  // same shape, other attributes
  GisFeature c = squareAt(0, 0, 10.000001);
  c.attributes["ID"] = "a";  // same attributes, other shape
  auto out = removeDuplicateFeatures({a, b, a, c, b});
  ASSERT_EQ(out.size(), 3u);
  EXPECT_EQ(out[0].attributes["ID"], "a");
  EXPECT_EQ(out[1].attributes["ID"], "b");
  EXPECT_EQ(out[2].polygons[0].outer[1].x, 10.000001);
}

TEST(ExceptionReports, RecognisedByTheDocumentElementOnly) {
  EXPECT_TRUE(isOgcExceptionReport(exceptionReport()));
  EXPECT_TRUE(isOgcExceptionReport("<!-- x --><ServiceExceptionReport version=\"1.1.1\"><ServiceException>"
                                   "LayerNotDefined</ServiceException></ServiceExceptionReport>"));
  for (const std::string& other : {emptyCollection(), collection("<wfs:member><ms:ExceptionReport/></wfs:member>"),
                                    std::string(), std::string("ExceptionReport")})
    EXPECT_FALSE(isOgcExceptionReport(other)) << other;
}

TEST(FeatureCollectionMerger, MembersGoBeforeTheLastClosingTagOfTheBase) {
  FeatureCollectionMerger m;
  m.add("");
  m.add(exceptionReport());
  m.add(emptyCollection());
  // Not a collection of members: contributes nothing once a base exists.
  m.add("<wfs:FeatureCollection xmlns:wfs=\"w\"></wfs:FeatureCollection>");
  m.add(collection(memberSquare("a", 0, 0)));
  m.add(collection(memberSquare("b", 0, 0)) + "<!-- </wfs:FeatureCollection> -->");
  m.add(collection(memberSquare("c", 0, 0)).substr(0, 200));  // cut short: no closing tag
  m.add("<wfs:FeatureCollectionX><wfs:member/></wfs:FeatureCollectionX>");
  std::string text = m.take();
  auto f = GmlParser::parseFeatureCollection(text, DataType::Budynki);
  ASSERT_EQ(f.size(), 2u) << text;
  EXPECT_EQ(f[0].attributes["ID"], "a");
  EXPECT_EQ(f[1].attributes["ID"], "b");
  EXPECT_EQ(m.take(), "");  // taken once

  m.add(exceptionReport());
  EXPECT_EQ(m.take(), exceptionReport());
}

// ---------------------------------------------------------------------------
// Capabilities scans

TEST(ScanLayerPair, FirstCurrentNameWinsOverArchivalOnes) {
  const char* caps = R"(<wfs:WFS_Capabilities><FeatureTypeList>
    <FeatureType><Name>ms:dzialki_archiwalne</Name></FeatureType>
    <FeatureType><Name>ms:dzialki</Name></FeatureType>
    <FeatureType><Name>ms:dzialki_inne</Name></FeatureType>
    <FeatureType><Name>ms:budynki_hist</Name></FeatureType>
  </FeatureTypeList></wfs:WFS_Capabilities>)";
  LayerPair p = scanLayerPair(caps);
  EXPECT_EQ(p.parcels, "ms:dzialki");
  EXPECT_EQ(p.buildings, "ms:budynki_hist");  // only a secondary one: kept
}

TEST(ScanLayerPair, ClassificationAndTextRules) {
  // Parcel-like and building-like at once counts as parcels; prefixed tags
  // count; names with a blank or "/" and self-closing tags are ignored;
  // letters keep their case; white space around the text is trimmed.
  const char* caps =
      "<wfs:Name>Budynki i dzialki</wfs:Name><Name/><Name>a/budynek</Name>"
      "<wfs:Name>\n\t EGB_DzialkaBudynek \r\n</wfs:Name><Title>dzialki</Title>"
      "<x:Name>EGB_Budynek</x:Name><Name>EGB_OpisBudynku</Name>";
  LayerPair p = scanLayerPair(caps);
  EXPECT_EQ(p.parcels, "EGB_DzialkaBudynek");
  EXPECT_EQ(p.buildings, "EGB_Budynek");
  EXPECT_EQ(scanLayerPair("<Name>ewid:działki</Name>").parcels, "ewid:działki");
  EXPECT_EQ(scanLayerPair("<Name>Parcels</Name><Name>buildings</Name>").buildings, "buildings");
  LayerPair none = scanLayerPair("<Name>drogi</Name><Name>dzialki");
  EXPECT_EQ(none.parcels, "");  // a text without a following "<" has no end
}

TEST(GesutAndBdot500, NetworkTypesAndLayerChoices) {
  const char* wfsCaps = "<Name>gesut:PrzewodWodociagowy</Name><Name>gesut:urzadzenie</Name>"
                        "<Name>gesut:przewod_gazowy</Name><Name>gesut:PrzewodWodociagowy</Name>";
  EXPECT_EQ(gesutWfsTypes(wfsCaps),
            (std::vector<std::string>{"gesut:PrzewodWodociagowy", "gesut:przewod_gazowy"}));

  const char* wmsCaps =
      "<Name>WMS</Name><Name>default</Name><Name>WFS</Name><Name>OGC:WMS</Name><Name>GESUT</Name><Name>siec wodociagowa</Name>"
      "<Name>przewod_elektro</Name><Name>strefa_przewodu</Name><Name>Uzbrojenie</Name><Name>urzadzenia</Name>"
      "<Name>bdot500_budowle</Name><Name>OT_Ogrodzenia</Name><Name>komunikacja</Name><Name>wody</Name>"
      "<Name>nmz_skarpy</Name><Name>bdot_strefa</Name><Name>dzialki</Name><Name>przewod_elektro</Name>";
  EXPECT_EQ(wmsLayerChoice(wmsCaps, DataType::Gesut),
            (std::vector<std::string>{"GESUT", "przewod_elektro", "Uzbrojenie", "urzadzenia"}));
  EXPECT_EQ(wmsLayerChoice(wmsCaps, DataType::Bdot500),
            (std::vector<std::string>{"bdot500_budowle", "OT_Ogrodzenia", "komunikacja", "wody", "nmz_skarpy"}));
  EXPECT_EQ(wmsLayerChoice(wmsCaps, DataType::Mpzp),
            (std::vector<std::string>{"GESUT", "przewod_elektro", "strefa_przewodu", "Uzbrojenie", "urzadzenia",
                                      "bdot500_budowle", "OT_Ogrodzenia", "komunikacja", "wody", "nmz_skarpy",
                                      "bdot_strefa", "dzialki"}));
  EXPECT_TRUE(wmsLayerChoice("<Name>dzialki</Name>", DataType::Gesut).empty());
}

// ---------------------------------------------------------------------------
// Client

class Ogc : public testing::OgcTest {
 protected:
  OgcClient ogc{client};
};

TEST_F(Ogc, ResolveLayersCachesAnswersButNotFailures) {
  int status = 503;
  transport.answer = [&](const std::string& url) {
    EXPECT_EQ(url, "https://egib.example/wfs?service=WFS&request=GetCapabilities");
    return TransportResponse{status, "<Name>ms:dzialki</Name><Name>ms:budynki</Name>", "", status == 200};
  };
  LayerPair p;
  EXPECT_FALSE(ogc.resolveLayers("https://egib.example/wfs", p));
  EXPECT_EQ(transport.urls.size(), 2u);  // one retry after a 5xx
  status = 200;
  ASSERT_TRUE(ogc.resolveLayers("https://egib.example/wfs", p));
  EXPECT_EQ(std::tie(p.parcels, p.buildings), std::make_tuple("ms:dzialki", "ms:budynki"));
  LayerPair again;
  EXPECT_TRUE(ogc.resolveLayers("https://egib.example/wfs", again));
  EXPECT_EQ(again.buildings, "ms:budynki");
  EXPECT_EQ(transport.urls.size(), 3u);

  // A service listing neither is remembered too, and answers false.
  transport.answer = [](const std::string&) { return ok("<Name>drogi</Name>"); };
  EXPECT_FALSE(ogc.resolveLayers("https://other.example/wfs?map=1", p));
  EXPECT_FALSE(ogc.resolveLayers("https://other.example/wfs?map=1", p));
  EXPECT_EQ(transport.urls.size(), 4u);
  EXPECT_EQ(transport.urls.back(), "https://other.example/wfs?map=1&service=WFS&request=GetCapabilities");
}

TEST_F(Ogc, TilesRunColumnByColumnAndTheLastIsClipped) {
  transport.answer = [](const std::string&) { return ok(emptyCollection()); };
  std::vector<std::pair<int, int>> reports;
  auto progress = [&](int d, int t) { reports.emplace_back(d, t); };
  ogc.getFeaturesTiled("https://h/wfs", "t", {500000, 600000, 501200, 600300}, progress, false, false, 0);
  ASSERT_EQ(transport.urls.size(), 3u);
  const std::string crs = "%2Curn%3Aogc%3Adef%3Acrs%3AEPSG%3A%3A2180";
  EXPECT_EQ(param(transport.urls[0], "BBOX"), "500000%2C600000%2C500500%2C600300" + crs);
  EXPECT_EQ(param(transport.urls[1], "BBOX"), "500500%2C600000%2C501000%2C600300" + crs);
  EXPECT_EQ(param(transport.urls[2], "BBOX"), "501000%2C600000%2C501200%2C600300" + crs);
  EXPECT_EQ(reports, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));

  transport.urls.clear();
  ogc.getFeaturesTiled("https://h/wfs", "t", {500000, 600000, 501000, 601000}, nullptr, false, false, 0);
  ASSERT_EQ(transport.urls.size(), 4u);
  EXPECT_EQ(param(transport.urls[0], "BBOX").substr(0, 33), "500000%2C600000%2C500500%2C600500");
  EXPECT_EQ(param(transport.urls[1], "BBOX").substr(0, 33), "500000%2C600500%2C500500%2C601000");
  EXPECT_EQ(param(transport.urls[2], "BBOX").substr(0, 33), "500500%2C600000%2C501000%2C600500");
}

TEST_F(Ogc, DegenerateAndOversizedFramesMakeNoRequest) {
  transport.answer = [](const std::string&) { return ok(emptyCollection()); };
  for (const Bbox& f : {Bbox{500000, 600000, 500000, 600300}, Bbox{500000, 600000, 499000, 600300},
                        Bbox{500000, NAN, 500100, 600300}, Bbox{0, 0, 100000, 100000}}) {
    EXPECT_EQ(ogc.getFeaturesTiled("https://h/wfs", "t", f, nullptr, true, false, 0), "");
  }
  EXPECT_TRUE(transport.urls.empty());
  // A frame of zero height is still one row of tiles.
  ogc.getFeaturesTiled("https://h/wfs", "t", {500000, 600000, 500100, 600000}, nullptr, true, false, 0);
  EXPECT_EQ(transport.urls.size(), 1u);
}

// Two tiles side by side: frame 1000 x 300 m.
const Bbox kTwoTiles{500000, 600000, 501000, 600300};
bool firstTile(const std::string& url) { return has(url, "BBOX=600000%2C500000%2C"); }

TEST_F(Ogc, LaterTilesAreMergedIntoTheFirstWhateverItHeld) {
  const struct {
    std::string first;
    std::size_t features, cached;
  } cases[] = {
      {collection(memberSquare("a", 500100, 600100) + memberSquare("b", 500200, 600100)), 3, 2},
      {emptyCollection(), 1, 2},   // an empty first tile does not shut out later ones
      {exceptionReport(), 1, 1},   // nor does an error, which is not cached
  };
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    transport.answer = [&](const std::string& url) {
      return ok(firstTile(url) ? c.first : collection(memberSquare("c", 500600, 600100)));
    };
    const std::size_t before = cacheFolder.files().size();
    const std::string text =
        ogc.getFeaturesTiled("https://h/wfs", "t" + std::to_string(i), kTwoTiles, nullptr, true, false, 0);
    auto features = GmlParser::parseFeatureCollection(text, DataType::Budynki);
    ASSERT_EQ(features.size(), c.features) << i;
    EXPECT_EQ(features.back().attributes["ID"], "c") << i;
    EXPECT_EQ(text.find("</wfs:FeatureCollection>"), text.rfind("</wfs:FeatureCollection>")) << i;
    EXPECT_EQ(cacheFolder.files().size() - before, c.cached) << i;
  }
  // Nothing but errors: the report is kept for whoever wants to show it.
  transport.answer = [](const std::string&) { return ok(exceptionReport()); };
  const std::string text = ogc.getFeaturesTiled("https://h/wfs", "t9", kTwoTiles, nullptr, true, false, 0);
  EXPECT_TRUE(isOgcExceptionReport(text));
  EXPECT_TRUE(GmlParser::parseFeatureCollection(text, DataType::Budynki).empty());
}

TEST_F(Ogc, FailedTilesContributeNothingAndAreNotCachedGoodOnesAre) {
  int calls = 0;
  transport.answer = [&](const std::string& url) {
    ++calls;
    if (firstTile(url)) return TransportResponse{500, "<html>err</html>", "", false};
    return ok(collection(memberSquare("c", 500600, 600100)));
  };
  std::string text = ogc.getFeaturesTiled("https://h/wfs", "t", kTwoTiles, nullptr, true, false, 0);
  EXPECT_EQ(GmlParser::parseFeatureCollection(text, DataType::Budynki).size(), 1u);
  EXPECT_EQ(calls, 3);  // 500 once repeated, then the second tile
  EXPECT_EQ(cacheFolder.files().size(), 1u);
  EXPECT_EQ(ogc.getFeaturesTiled("https://h/wfs", "t", kTwoTiles, nullptr, true, false, 0), text);
  EXPECT_EQ(calls, 5);  // only the failed tile is asked again; the other comes from the cache
}

TEST_F(Ogc, Wfs110FeatureMembersAreMergedToo) {
  auto member11 = [](const std::string& id, double x, double y) {
    return "<gml:featureMember><ms:dz fid=\"" + id + "\"><ms:geom><gml:Point srsName=\"EPSG:2180\"><gml:pos>" +
           std::to_string(y) + " " + std::to_string(x) + "</gml:pos></gml:Point></ms:geom></ms:dz></gml:featureMember>";
  };
  transport.answer = [&](const std::string& url) {
    std::string m = firstTile(url) ? member11("a", 500100, 600100) : member11("b", 500600, 600100);
    return ok("<wfs:FeatureCollection xmlns:wfs=\"http://www.opengis.net/wfs\" xmlns:gml=\"http://www.opengis.net/gml\" "
              "xmlns:ms=\"m\">" + m + "</wfs:FeatureCollection>");
  };
  std::string text = ogc.getFeaturesTiled("https://h/wfs", "t", kTwoTiles, nullptr, true, true, 0);
  auto f = GmlParser::parseFeatureCollection(text, DataType::Dzialki);
  ASSERT_EQ(f.size(), 2u);
  EXPECT_EQ(f[1].attributes["gml_id"], "b");
}

// One tile; which variant asked is read off the address.
const Bbox kOneTile{500000, 600000, 500300, 600300};
int strategyOf(const std::string& url) {
  if (has(url, "version=1.1.0")) return 3;
  if (has(url, "SRSNAME=")) return 4;
  if (has(url, "&BBOX=6")) return 1;  // the frames used here: x 5xxxxx, y 6xxxxx
  if (has(url, "&BBOX=5")) return 2;
  return 0;  // no frame: hits or the whole layer
}

TEST_F(Ogc, VariantsRunInTheOrder1243ThenTheHitsCount) {
  transport.answer = [](const std::string& url) {
    if (strategyOf(url) == 0) return ok("<wfs:FeatureCollection numberMatched=\"unknown\"/>");
    return ok(emptyCollection());
  };
  EXPECT_TRUE(ogc.fetchFeatures("https://h/wfs", "ms:dzialki", kOneTile, DataType::Dzialki, nullptr).empty());
  std::vector<int> asked;
  for (const auto& url : transport.urls) asked.push_back(strategyOf(url));
  EXPECT_EQ(asked, (std::vector<int>{1, 2, 4, 3, 0}));
  EXPECT_TRUE(has(transport.urls[2], "SRSNAME=EPSG%3A2177"));  // x 500000 lies on 19 E
  EXPECT_EQ(transport.urls[4],
            "https://h/wfs?service=WFS&version=2.0.0&request=GetFeature&typenames=ms%3Adzialki&resultType=hits");
  EXPECT_EQ(ogc.rememberedStrategy("https://h/wfs", "ms:dzialki"), 0);

  transport.urls.clear();
  ogc.fetchFeatures("https://h/wfs", "ms:dzialki", {650000, 600000, 650300, 600300}, DataType::Dzialki, nullptr);
  EXPECT_TRUE(has(transport.urls.at(2), "SRSNAME=EPSG%3A2178"));  // about 21 E
  transport.urls.clear();
  EXPECT_TRUE(ogc.fetchFeatures("https://h/wfs", "", kOneTile, DataType::Dzialki, nullptr).empty());
  EXPECT_TRUE(ogc.fetchFeatures("https://h/wfs", "t", {500300, 600000, 500000, 600300}, DataType::Dzialki, nullptr)
                  .empty());
  EXPECT_TRUE(transport.urls.empty());  // not even the count is asked for an inverted frame
}

// The whole-layer path itself runs in the black-box OGC tests; here the count that guards it.
TEST_F(Ogc, WholeLayerFallbackOnlyForAPlausibleCount) {
  std::string hits;
  int wholeLayerRequests = 0;
  transport.answer = [&](const std::string& url) {
    if (strategyOf(url) != 0) return ok(emptyCollection());
    if (has(url, "resultType=hits")) return ok("<wfs:FeatureCollection " + hits + " numberReturned=\"0\"/>");
    ++wholeLayerRequests;
    return ok(collection(memberSquare("in", 500100, 600100) + memberSquare("out", 400000, 600100) +
                         memberSquare("edge", 500300, 600300)));
  };
  for (const char* bad : {"numberMatched=\"250000\"", "numberMatched=\"0\"", "numberMatched=\"-5\"",
                          "numberMatched=\"99999999999999999999999999\"", "numberReturned=\"3\""}) {
    hits = bad;
    EXPECT_TRUE(ogc.fetchFeatures("https://h/wfs", "ms:x", kOneTile, DataType::Dzialki, nullptr).empty()) << bad;
  }
  EXPECT_EQ(wholeLayerRequests, 0);
  hits = "numberMatched=\"200000\"";
  auto f = ogc.fetchFeatures("https://h/wfs", "ms:dzialki", kOneTile, DataType::Dzialki, nullptr);
  ASSERT_EQ(f.size(), 2u);   // what touches the frame
  EXPECT_EQ(f[1].attributes["ID"], "edge");
  EXPECT_EQ(wholeLayerRequests, 1);
}

}  // namespace
}  // namespace veldra
