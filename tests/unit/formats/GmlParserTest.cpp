#include "formats/GmlParser.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <thread>
#include <utility>

#include "geo/Projections.h"

namespace veldra {
namespace {

std::string wfs20(const std::string& members, const std::string& rootAttrs = "") {
  return R"(<?xml version="1.0" encoding="UTF-8"?>
<wfs:FeatureCollection xmlns:wfs="http://www.opengis.net/wfs/2.0" xmlns:gml="http://www.opengis.net/gml/3.2" xmlns:ms="x")" +
         rootAttrs + ">" + members + "</wfs:FeatureCollection>";
}

// What is read from a WFS 2.0 answer of one parcel with the given polygon.
std::vector<GisFeature> parcel(const std::string& srs, const std::string& posList) {
  return GmlParser::parseFeatureCollection(
      wfs20("<wfs:member><ms:dzialki gml:id=\"d.1\"><ms:geom><gml:Polygon srsName=\"" + srs +
            "\"><gml:exterior><gml:LinearRing><gml:posList>" + posList +
            "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></ms:geom></ms:dzialki></wfs:member>"),
      DataType::Dzialki);
}

TEST(ParseSrsEpsg, LastPositiveRunAfterEpsg) {
  const std::pair<const char*, std::uint32_t> cases[] = {
      {"http://www.opengis.net/def/crs/EPSG/0/2177", 2177}, {"urn:x-ogc:def:crs:EPSG:6.9:2176", 2176},
      {"http://www.opengis.net/gml/srs/epsg.xml#4326", 0},   // lower case
      {"CRS:84", 0}, {"EPSG:0", 0}, {"EPSG:2180:99999999999999999999", 2180}};   // last: overlong run ignored
  for (const auto& [name, code] : cases) EXPECT_EQ(GmlParser::parseSrsEpsg(name), code) << name;
}

TEST(ReadCoordinatePair, AxisRules) {
  // Non-Polish systems: only the flag decides.
  EXPECT_DOUBLE_EQ(GmlParser::readCoordinatePair(1, 2, {2180, true}).x, 2);
  EXPECT_DOUBLE_EQ(GmlParser::readCoordinatePair(1, 2, {2180, false}).x, 1);
  EXPECT_DOUBLE_EQ(GmlParser::readCoordinatePair(1, 2, {4326, false}).y, 2);

  // PL-2000: the zone digit finds the easting whatever the declared order.
  const auto [e92, n92] = pl2000ToPl1992(6500000, 5800000, 2177);
  for (bool nf : {true, false})
    for (const auto& [a, b] : {std::pair{5800000.0, 6500000.0}, std::pair{6500000.0, 5800000.0}}) {
      const Point2 p = GmlParser::readCoordinatePair(a, b, {2177, nf});
      EXPECT_NEAR(p.x, e92, 1e-6) << a << (nf ? " northing first" : "");
      EXPECT_NEAR(p.y, n92, 1e-6);
    }
  // Both carry the digit (northing in the 6-million band in zone 6): the flag decides.
  const Point2 both = GmlParser::readCoordinatePair(6100000, 6500000, {2177, true});
  const auto ref = pl2000ToPl1992(6500000, 6100000, 2177);
  EXPECT_NEAR(both.x, ref.first, 1e-6);
  EXPECT_NEAR(both.y, ref.second, 1e-6);
}

// Axis order and rings of real answers are held to GDAL; the label point is ours alone.
TEST(GmlParser, LabelPointIsTheMeanOfTheOuterRing) {
  const auto fs = parcel("urn:ogc:def:crs:EPSG::2180", "5800000 450000 5800010 450000 5800010 450010 5800000 450000");
  ASSERT_EQ(fs.size(), 1u);
  ASSERT_TRUE(fs[0].hasPoint);   // closing vertex included
  EXPECT_DOUBLE_EQ(fs[0].point.x, (450000 * 3 + 450010) / 4.0);
  EXPECT_DOUBLE_EQ(fs[0].point.y, (5800000 * 2 + 5800010 * 2) / 4.0);
}

TEST(GmlParser, Gml31FeatureMemberHolesLinesAndPoints) {
  const std::string doc = R"(<wfs:FeatureCollection xmlns:gml="http://www.opengis.net/gml" xmlns:wfs="w" xmlns:ms="m">
<gml:featureMember><ms:a fid="F1" id="I1">
  <ms:geom><gml:Polygon srsName="EPSG:2180">
    <gml:outerBoundaryIs><gml:LinearRing><gml:pos>10 20</gml:pos><gml:pos>10 30</gml:pos><gml:pos>1</gml:pos><gml:pos>20 30 7</gml:pos></gml:LinearRing></gml:outerBoundaryIs>
    <gml:interior><gml:LinearRing><gml:posList>11 21 12 22 13 23 14</gml:posList></gml:LinearRing></gml:interior>
    <gml:interior><gml:LinearRing><gml:posList>x</gml:posList></gml:LinearRing></gml:interior>
  </gml:Polygon></ms:geom>
  <ms:adres><ms:ulica>Dluga</ms:ulica></ms:adres>
  <ms:nazwa> Pole &amp; las </ms:nazwa>
  <ms:pusty></ms:pusty>
  <ms:nazwa2><![CDATA[a<b]]></ms:nazwa2>
</ms:a></gml:featureMember>
<gml:featureMember><ms:l><ms:g><gml:LineString><gml:posList>1 2 3 4 5 6</gml:posList></gml:LineString></ms:g>
  <ms:g2><gml:LineString><gml:posList>1 2</gml:posList></gml:LineString></ms:g2></ms:l></gml:featureMember>
<gml:featureMember><ms:p><ms:g><gml:Point><gml:pos>7 8</gml:pos></gml:Point></ms:g>
  <ms:g2><gml:Point><gml:pos>9 9</gml:pos></gml:Point></ms:g2></ms:p></gml:featureMember>
<gml:featureMember><ms:none><ms:x>1</ms:x></ms:none></gml:featureMember>
<gml:featureMember>  </gml:featureMember>
</wfs:FeatureCollection>)";
  const auto fs = GmlParser::parseFeatureCollection(doc, DataType::Gesut);
  ASSERT_EQ(fs.size(), 3u);

  const GisFeature& a = fs[0];
  // The element's name as its type; fid wins over id; texts decoded, not trimmed; no nested,
  // geometry or empty properties.
  EXPECT_EQ(a.attributes, (std::map<std::string, std::string>{
                              {"_typ", "a"}, {"gml_id", "F1"}, {"nazwa", " Pole & las "}, {"nazwa2", "a<b"}}));
  ASSERT_EQ(a.polygons.size(), 1u);
  ASSERT_EQ(a.polygons[0].outer.size(), 3u);  // the one-number pos is skipped
  EXPECT_DOUBLE_EQ(a.polygons[0].outer[0].x, 20);  // EPSG:2180 is northing first
  EXPECT_DOUBLE_EQ(a.polygons[0].outer[2].x, 30);
  ASSERT_EQ(a.polygons[0].holes.size(), 2u);      // the unreadable hole stays, empty
  EXPECT_EQ(a.polygons[0].holes[0].size(), 3u);   // odd trailing number dropped
  EXPECT_TRUE(a.polygons[0].holes[1].empty());

  const GisFeature& l = fs[1];
  ASSERT_EQ(l.lines.size(), 1u);  // a single-point line is dropped
  EXPECT_EQ(std::pair(l.point.x, l.point.y), std::pair(3.0, 4.0));  // middle vertex, no srsName anywhere: as written

  const GisFeature& p = fs[2];
  ASSERT_TRUE(p.hasPoint);
  EXPECT_DOUBLE_EQ(p.point.x, 7);  // first Point only
  EXPECT_TRUE(p.polygons.empty());
  EXPECT_EQ(p.type, DataType::Gesut);
}

TEST(GmlParser, DocumentDefaultSrsAppliesToUnlabelledGeometry) {
  // The envelope names the zone; geometry without srsName inherits it.
  const std::string doc = wfs20(R"(<wfs:boundedBy><gml:Envelope srsName="EPSG:2178"/></wfs:boundedBy>
<wfs:member><ms:x><ms:g><gml:Point><gml:pos>5800000 7500000</gml:pos></gml:Point></ms:g></ms:x></wfs:member>)");
  const auto fs = GmlParser::parseFeatureCollection(doc, DataType::Dzialki);
  ASSERT_EQ(fs.size(), 1u);
  const auto ref = pl2000ToPl1992(7500000, 5800000, 2178);
  EXPECT_NEAR(fs[0].point.x, ref.first, 1e-6);
  EXPECT_EQ(GmlParser::threadDefaultEpsg(), 2178u);

  // PL-1992 inherited as the document default (not from an ancestor) does not swap.
  const std::string doc92 = wfs20(R"(<wfs:boundedBy><gml:Envelope srsName="EPSG:2180"/></wfs:boundedBy>
<wfs:member><ms:x><ms:g><gml:Point><gml:pos>1 2</gml:pos></gml:Point></ms:g></ms:x></wfs:member>)");
  const auto fs92 = GmlParser::parseFeatureCollection(doc92, DataType::Dzialki);
  ASSERT_EQ(fs92.size(), 1u);
  EXPECT_DOUBLE_EQ(fs92[0].point.x, 1);
}

TEST(GmlParser, DefaultEpsgIsPerThread) {
  GmlParser::setThreadDefaultEpsg(2179);
  std::uint32_t seen = 1;
  std::thread t([&] {
    GmlParser::parseFeatureCollection(wfs20("", " srsName=\"EPSG:2176\""), DataType::Dzialki);
    seen = GmlParser::threadDefaultEpsg();
  });
  t.join();
  EXPECT_EQ(seen, 2176u);
  EXPECT_EQ(GmlParser::threadDefaultEpsg(), 2179u);
}

TEST(GmlParser, NumbersStopAtFirstNonNumber) {
  const auto fs = parcel("EPSG:2180", "1 2 3 4 5 6 nan 8 9 10");
  ASSERT_EQ(fs.size(), 1u);
  EXPECT_EQ(fs[0].polygons[0].outer.size(), 3u);
  // GML 2 comma-separated coordinates give one number: no ring.
  EXPECT_TRUE(parcel("EPSG:2180", "1,2 3,4 5,6").empty());
  EXPECT_TRUE(parcel("EPSG:2180", "1e999 2 3 4").empty());
  // A position absurdly far from the zone cannot be converted and is left out, not turned into NaN.
  const auto wild = parcel("urn:ogc:def:crs:EPSG::2177", "5800000 6500000 5800000 1e300 5800010 6500000");
  ASSERT_EQ(wild.size(), 1u);
  EXPECT_EQ(wild[0].polygons[0].outer.size(), 2u);
  EXPECT_TRUE(std::isfinite(wild[0].point.x) && std::isfinite(wild[0].point.y));
}

// OWS exception reports and malformed XML are the black-box gml2geojson tests'.
TEST(GmlDiagnosis, TellsWhatTheTextIs) {
  EXPECT_EQ(GmlParser::diagnose(wfs20("")).kind, GmlDiagnosis::Kind::FeatureCollection);
  const auto wms = GmlParser::diagnose(
      R"(<ServiceExceptionReport version="1.1.1"><ServiceException code="LayerNotDefined">brak warstwy</ServiceException></ServiceExceptionReport>)");
  EXPECT_EQ(wms.kind, GmlDiagnosis::Kind::ExceptionReport);
  EXPECT_EQ(wms.message, "LayerNotDefined: brak warstwy");
  EXPECT_EQ(GmlParser::diagnose("<CityModel/>").kind, GmlDiagnosis::Kind::NotFeatureCollection);
}

}  // namespace
}  // namespace veldra
