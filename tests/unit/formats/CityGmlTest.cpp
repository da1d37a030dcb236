#include "formats/CityGml.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace veldra {
namespace {

const Bbox kAll{-1e9, -1e9, 1e9, 1e9};

std::string doc(const std::string& buildings, const std::string& decl = "UTF-8") {
  return "<?xml version=\"1.0\" encoding=\"" + decl +
         "\"?><core:CityModel xmlns:core=\"c\" xmlns:bldg=\"b\" xmlns:gml=\"g\" xmlns:xlink=\"x\">" + buildings +
         "</core:CityModel>";
}

// A polygon of one outer and optional inner rings given as "x y z ..." texts.
std::string poly(const std::string& outer, const std::vector<std::string>& inner = {}) {
  std::string s = "<gml:Polygon><gml:exterior><gml:LinearRing><gml:posList>" + outer +
                  "</gml:posList></gml:LinearRing></gml:exterior>";
  for (const auto& i : inner)
    s += "<gml:interior><gml:LinearRing><gml:posList>" + i + "</gml:posList></gml:LinearRing></gml:interior>";
  return s + "</gml:Polygon>";
}

std::string square(double x0, double size, double z) {
  std::ostringstream o;
  const double x1 = x0 + size;
  o << x0 << " 0 " << z << " " << x1 << " 0 " << z << " " << x1 << " " << size << " " << z << " " << x0 << " "
    << size << " " << z << " " << x0 << " 0 " << z;
  return o.str();
}

std::string building(const std::string& id, const std::string& body) {
  return "<bldg:Building gml:id=\"" + id + "\">" + body + "</bldg:Building>";
}

TEST(CityGmlLod1, FootprintBaseAndHeightRules) {
  const std::string wall = "0 0 100 10 0 100 10 0 112 0 0 112 0 0 100";
  const std::string sloped = "0 0 100 10 0 101 10 10 103 0 10 102 0 0 100";
  struct Case {
    const char* name;
    std::string body;
    bool kept;
    double baseZ, height, area;   // area of the footprint's bounding box
  } cases[] = {
      {"ground, roof and wall with measured height", "<bldg:measuredHeight>12.5</bldg:measuredHeight>" +
           poly(square(0, 10, 112)) + poly(wall) + poly(square(0, 10, 100)), true, 100, 12.5, 100},
      {"z extent without measured height", poly(square(0, 10, 112)) + poly(square(0, 10, 100)), true, 100, 12, 100},
      {"measured height 0 replaced by the extent", "<bldg:measuredHeight>0</bldg:measuredHeight>" +
           poly(square(0, 10, 112)) + poly(square(0, 10, 100)), true, 100, 12, 100},
      {"larger ground ring wins over a smaller one", poly(square(0, 4, 100)) + poly(square(0, 10, 100)) +
           poly(square(0, 10, 103)), true, 100, 3, 100},
      {"all sloped: lowest mean ring", poly(square(0, 20, 110)) + poly(sloped), true, 100, 10, 100},
      {"zero extent and no measured height dropped", poly(square(0, 10, 100)), false, 0, 0, 0},
      {"no rings dropped", "<bldg:roofType>1000</bldg:roofType>", false, 0, 0, 0},
      {"NaN coordinates end the ring", poly("0 0 nan 1 0 1 1 1 1") + poly(square(0, 10, 112)) +
           poly(square(0, 10, 100)), true, 100, 12, 100},
  };
  for (const auto& c : cases) {
    const auto got = parseLod1Buildings(doc(building("b1", c.body)), kAll);
    ASSERT_EQ(got.size(), c.kept ? 1u : 0u) << c.name;
    if (!c.kept) continue;
    EXPECT_EQ(got[0].id, "b1");
    EXPECT_DOUBLE_EQ(got[0].baseZ, c.baseZ) << c.name;
    EXPECT_DOUBLE_EQ(got[0].height, c.height) << c.name;
    double x0 = 1e9, x1 = -1e9, y0 = 1e9, y1 = -1e9;
    for (auto p : got[0].footprint) x0 = std::min(x0, p.x), x1 = std::max(x1, p.x), y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
    EXPECT_DOUBLE_EQ((x1 - x0) * (y1 - y0), c.area) << c.name;
  }
}

TEST(CityGmlLod1, CourtyardKeptAsHoleAndFrameTouching) {
  const std::string b = building("yard", poly(square(0, 30, 100), {square(10, 10, 100)}) +
                                              poly(square(0, 30, 110), {square(10, 10, 110)}));
  const auto got = parseLod1Buildings(doc(b), kAll);
  ASSERT_EQ(got.size(), 1u);
  EXPECT_EQ(got[0].footprint.size(), 5u);
  ASSERT_EQ(got[0].holes.size(), 1u);   // only the ground polygon's inner ring
  EXPECT_EQ(parseLod1Buildings(doc(b), Bbox{30, 30, 40, 40}).size(), 1u);    // corner touch
  EXPECT_EQ(parseLod1Buildings(doc(b), Bbox{30.01, 0, 40, 40}).size(), 0u);
}

TEST(CityGmlLod2, RingsRoofTypeAndReferences) {
  const std::string posRing =
      "<gml:Polygon gml:id=\"p1\"><gml:exterior><gml:LinearRing><gml:pos>0 0 5</gml:pos><gml:pos>4 0 5</gml:pos>"
      "<gml:pos>4 4</gml:pos><gml:pos>4 4 5</gml:pos><gml:pos>0 0 5</gml:pos></gml:LinearRing></gml:exterior>"
      "<gml:interior><gml:LinearRing><gml:posList>1 1 5 2 1 5 2 2 5 1 1 5</gml:posList></gml:LinearRing>"
      "</gml:interior></gml:Polygon>";
  struct Case {
    const char* name;
    std::string text;
    int buildings, surfaces, holes, roofType;
  } cases[] = {
      {"pos per vertex, 2-number pos skipped, hole", doc(building("a", posRing)), 1, 1, 1, 0},
      {"roof type read", doc(building("a", "<bldg:roofType>1130</bldg:roofType>" + poly(square(0, 1, 0)))), 1, 1, 0, 1130},
      {"no surface: skipped", doc(building("a", "<bldg:roofType>1</bldg:roofType>")), 0, 0, 0, 0},
      {"solid referencing a polygon outside the building",
       doc(building("a", "<bldg:lod2Solid><gml:surfaceMember xlink:href=\"#p1\"/></bldg:lod2Solid>") +
           "<core:x>" + posRing + "</core:x>"), 1, 1, 1, 0},
      {"solid referencing its own boundary: not doubled",
       doc(building("a", "<bldg:lod2Solid><gml:surfaceMember xlink:href=\"#p1\"/></bldg:lod2Solid>" + posRing)), 1, 1,
       1, 0},
      {"truncated XML", doc(building("a", poly(square(0, 1, 0)))).substr(0, 200), 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    const auto got = parseLod2Buildings(c.text, kAll);
    ASSERT_EQ(static_cast<int>(got.size()), c.buildings) << c.name;
    if (got.empty()) continue;
    ASSERT_EQ(static_cast<int>(got[0].surfaces.size()), c.surfaces) << c.name;
    EXPECT_EQ(static_cast<int>(got[0].surfaces[0].holes.size()), c.holes) << c.name;
    EXPECT_EQ(got[0].roofType, c.roofType) << c.name;
    EXPECT_EQ(got[0].surfaces[0].points.size(), got[0].surfaces[0].z.size()) << c.name;
  }
}

TEST(CityGml, BadInputGivesNothing) {
  std::string deep = "<a>";
  for (int i = 0; i < 5000; ++i) deep += "<b>";
  deep += poly(square(0, 1, 0));
  for (int i = 0; i < 5000; ++i) deep += "</b>";
  deep = doc(building("d", deep));
  EXPECT_TRUE(parseLod2Buildings(deep, kAll).empty());
  Bbox b;
  EXPECT_FALSE(readEnvelope(deep, b));
  // Latin-1 bytes in an identifier come out as UTF-8.
  const auto latin = parseLod1Buildings(doc(building("Stra\xDF" "e", poly(square(0, 1, 0)) + poly(square(0, 1, 3))),
                                            "ISO-8859-1"),
                                        kAll);
  ASSERT_EQ(latin.size(), 1u);
  EXPECT_EQ(latin[0].id, "Stra\xC3\x9F" "e");
}

TEST(CityGml, Envelopes) {
  struct Case {
    std::string lower, upper;
    bool whole, scan;
  } cases[] = {{"1 2 3", "4 5 6", true, true}, {"1 2", "4 5", false, true}, {"1", "4 5 6", false, false}};
  for (const auto& c : cases) {
    const std::string t = doc("<gml:boundedBy><gml:Envelope><gml:lowerCorner>" + c.lower +
                              "</gml:lowerCorner><gml:upperCorner>" + c.upper +
                              "</gml:upperCorner></gml:Envelope></gml:boundedBy>");
    Bbox whole, scanned;
    EXPECT_EQ(readEnvelope(t, whole), c.whole) << c.lower;
    EXPECT_EQ(scanEnvelope(t.substr(0, t.find("</gml:upperCorner>") + 3), scanned), c.scan) << c.lower;
    if (!c.scan) continue;
    EXPECT_EQ(scanned.maxY, 5) << c.lower;
  }
}

}  // namespace
}  // namespace veldra
