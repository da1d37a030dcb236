#include "formats/GeoJsonWriter.h"

#include <gtest/gtest.h>

#include <limits>
#include <nlohmann/json.hpp>

#include "geo/Projections.h"

namespace veldra {
namespace {

using nlohmann::json;

Point2 at(double lat, double lon) {
  const auto [e, n] = wgs84ToPl1992(lat, lon);
  return {e, n};
}

// The text itself, single lines and points included, is held to the JSON library below; here what
// is left out and when several parts make a multi-geometry.
TEST(GeoJsonWriter, GeometryChoice) {
  GisFeature building;
  building.polygons.push_back({{at(52, 21), at(52, 21.001), at(52.001, 21)},
                               {{at(52.0001, 21.0001), at(52.0001, 21.0002), at(52.0002, 21.0001)},
                                {at(52.0003, 21.0003), at(52.0004, 21.0004)}}});   // too small: left out
  building.polygons.push_back({{at(53, 21), at(53, 21.001), at(53.001, 21)}, {}});
  building.polygons.push_back({{at(54, 21), at(54, 21.001), at(54, 21)}, {}});   // two corners: left out
  GisFeature lines, nothing;
  lines.lines = {{at(52, 21), at(52, 22)}, {at(52, 21), at(52, 22)}, {at(52, 21), at(52, 22)}};

  const json fs = json::parse(toGeoJson({building, lines, nothing}))["features"];
  ASSERT_EQ(fs.size(), 2u);
  EXPECT_EQ(fs[0]["geometry"]["type"], "MultiPolygon");
  EXPECT_EQ(fs[0]["geometry"]["coordinates"].size(), 2u);
  EXPECT_EQ(fs[0]["geometry"]["coordinates"][0].size(), 2u);  // outer + hole
  EXPECT_EQ(fs[1]["geometry"]["type"], "MultiLineString");
  EXPECT_EQ(fs[1]["geometry"]["coordinates"].size(), 3u);
}

TEST(GeoJsonWriter, EmptyAndUnprojectableInput) {
  EXPECT_EQ(toGeoJson({}), R"({"features":[],"type":"FeatureCollection"})");
  GisFeature wild;
  wild.hasPoint = true;
  wild.point = {std::numeric_limits<double>::max(), std::numeric_limits<double>::max()};
  const json doc = json::parse(toGeoJson({wild}));
  for (const auto& f : doc["features"])
    for (const auto& v : f["geometry"]["coordinates"]) EXPECT_TRUE(v.is_number());
}

// The hand-written text must be exactly what the JSON library would dump for the same document:
// ASCII only, on one line, broken UTF-8 replaced.
TEST(GeoJsonWriter, TextEqualsLibraryDumpOfTheSameDocument) {
  std::vector<GisFeature> fs(3);
  fs[0].type = DataType::Pog;
  fs[0].polygons.push_back({{at(52, 21), at(52, 21.5), at(52.25, 21.125), at(52, 21)},
                            {{at(52.1, 21.1), at(52.11, 21.2), at(52.12, 21.1)}}});
  fs[0].polygons.push_back({{at(50, 19), at(50, 19.1), at(50.1, 19)}, {}});
  fs[0].attributes = {{"a\"b", "x\\y\n\x01\x7f"}, {"Z", "\xC4\x85"}, {"_a", "1"}, {"_kind", "old"}, {"_typ", "t"}, {"bad", "\xC5"},
                        {"NAZWA", "\xC5\x81\xC3\xB3" "d\xC5\xBA"}, {"zle", "a\xFF\xFE"}};
  fs[1].type = DataType::Teren;
  fs[1].lines = {{at(49.5, 14.5), at(54.5, 24.0)}};
  fs[2].hasPoint = true;
  fs[2].point = {500000, 500000};

  json expected = {{"type", "FeatureCollection"}, {"features", json::array()}};
  auto pos = [](const Point2& p) {
    const auto [lat, lon] = pl1992ToWgs84(p.x, p.y);
    return json::array({lon, lat});
  };
  auto arr = [&](const std::vector<Point2>& pts) {
    json a = json::array();
    for (const auto& p : pts) a.push_back(pos(p));
    return a;
  };
  json mp = json::array();
  for (const auto& poly : fs[0].polygons) {
    json rings = json::array({arr(poly.outer)});
    for (const auto& h : poly.holes) rings.push_back(arr(h));
    mp.push_back(rings);
  }
  json p0 = json::object();
  for (const auto& [k, v] : fs[0].attributes) p0[k] = v;
  p0["_kind"] = "pog";
  expected["features"].push_back(
      {{"type", "Feature"}, {"properties", p0}, {"geometry", {{"type", "MultiPolygon"}, {"coordinates", mp}}}});
  expected["features"].push_back({{"type", "Feature"},
                                  {"properties", {{"_kind", "inne"}}},
                                  {"geometry", {{"type", "LineString"}, {"coordinates", arr(fs[1].lines[0])}}}});
  expected["features"].push_back({{"type", "Feature"},
                                  {"properties", {{"_kind", "dzialka"}}},
                                  {"geometry", {{"type", "Point"}, {"coordinates", pos(fs[2].point)}}}});
  EXPECT_EQ(toGeoJson(fs), expected.dump(-1, ' ', true, json::error_handler_t::replace));
}

}  // namespace
}  // namespace veldra
