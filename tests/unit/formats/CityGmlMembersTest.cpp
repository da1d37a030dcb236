// Sheets are read one city object member at a time where that gives the same
// buildings as the whole document; a comment anywhere sends a text down the
// whole-document path, which is the reference here.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <tuple>
#include <vector>

#include "formats/CityGml.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

const Bbox kAll{-1e12, -1e12, 1e12, 1e12};

// What the paths are compared on: each LOD2 surface's building, heights and hole count, and each
// LOD1 block's height.
auto contents(const std::string& text) {
  std::vector<std::tuple<std::string, std::vector<double>, std::size_t>> surfaces;
  for (const auto& b : parseLod2Buildings(text, kAll))
    for (const auto& s : b.surfaces) surfaces.emplace_back(b.id, s.z, s.holes.size());
  std::vector<double> heights;
  for (const auto& b : parseLod1Buildings(text, kAll)) heights.push_back(b.height);
  return std::pair(surfaces, heights);
}

void expectSame(const std::string& text, const std::string& what) {
  EXPECT_EQ(contents(text), contents(text + "<!-- read whole -->")) << what;
}

TEST(CityGmlMembers, SameBuildingsAsTheWholeDocument) {
  const std::string head = "<?xml version=\"1.0\"?><core:CityModel xmlns:core=\"c\" xmlns:bldg=\"b\" xmlns:gml=\"g\" "
                           "xmlns:xlink=\"x\">";
  const std::string ring = "<gml:LinearRing><gml:posList>0 0 1 4 0 1 4 4 1 0 0 1</gml:posList></gml:LinearRing>";
  const std::string shared = "<core:cityObjectMember><bldg:Building gml:id=\"a\"><gml:Polygon gml:id=\"p\"><gml:exterior>" +
                             ring + "</gml:exterior></gml:Polygon><gml:Polygon><gml:exterior>" +
                             "<gml:LinearRing><gml:posList>0 0 5 4 0 5 4 4 5 0 0 5</gml:posList></gml:LinearRing>" +
                             "</gml:exterior></gml:Polygon></bldg:Building></core:cityObjectMember>";
  const std::string pointing = "<core:cityObjectMember><bldg:Building gml:id=\"b\"><bldg:lod2Solid><gml:Solid>"
                               "<gml:surfaceMember xlink:href=\"#p\"/></gml:Solid></bldg:lod2Solid></bldg:Building>"
                               "</core:cityObjectMember>";
  // A building that points into another member is read from the whole document.
  const std::string crossing = head + shared + pointing + "</core:CityModel>";
  EXPECT_EQ(parseLod2Buildings(crossing, kAll).size(), 2u);
  expectSame(crossing, "reference into another member");
  expectSame(head + shared + "<core:cityObjectMember/>" + shared + "</core:CityModel>", "empty member between");
  for (const char* rel : {"samples/citygml/lod2_1261_krakow_single_building_kron86.gml",
                          "samples/citygml/lod1_0464_wloclawek_evrf2007.gml", "citygml/citygml4j/LOD2_Buildings_v200.gml"}) {
    const std::string text = testing::readText(std::filesystem::path(VELDRA_SHARED_DATA) / rel);
    if (text.empty()) continue;   // recorded samples are optional
    expectSame(text, rel);
  }
}

}  // namespace
}  // namespace veldra
