#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <tuple>
#include <string>

#include <nlohmann/json.hpp>

#include "host/DxfExport.h"
#include "host/ExportGeometry.h"
#include "host/GltfExport.h"
#include "host/MemoryHost.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;

std::uint32_t le32(const std::string& s, std::size_t i) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + i, 4);
  return v;
}

// The JSON chunk of a GLB container.
nlohmann::json glbJson(const std::string& glb) { return nlohmann::json::parse(glb.substr(20, le32(glb, 12))); }

// A mesh like terrain placement makes: two lattice rows as level lines.
StoredElement latticeMesh(int layer, double x0) {
  StoredElement se;
  se.element.typeCode = 10;
  se.element.layer = layer;
  se.memo.coords = {{}, {x0, 0}, {x0 + 10, 0}, {x0 + 10, 10}, {x0, 10}, {x0, 0}};
  se.memo.ringEnds = {0, 5};
  se.memo.z = {0, 1, 2, 3, 4, 1};
  se.memo.levelLines = {MeshLevelLine{{{x0, 0, 1}, {x0 + 5, 0, 1.5}, {x0 + 10, 0, 2}}},
                        MeshLevelLine{{{x0, 10, 4}, {x0 + 5, 10, 3.5}, {x0 + 10, 10, 3}}}};
  return se;
}

StoredElement slabOf(std::vector<Point2> coords, std::vector<int> ringEnds, double thickness) {
  StoredElement se;
  se.element.typeCode = 8;
  se.element.thickness = thickness;
  se.memo.coords = std::move(coords);
  se.memo.ringEnds = std::move(ringEnds);
  return se;
}

TEST(ExportGeometry, ConcaveRingIsClippedInsideOnly) {
  const std::vector<Point2> l{{0, 0}, {4, 0}, {4, 1}, {1, 1}, {1, 4}, {0, 4}};
  const auto tris = triangulateRing(l);
  ASSERT_EQ(tris.size(), 4u);
  double area = 0;
  for (const auto& t : tris)
    area += std::fabs((l[t[1]].x - l[t[0]].x) * (l[t[2]].y - l[t[0]].y) -
                      (l[t[1]].y - l[t[0]].y) * (l[t[2]].x - l[t[0]].x)) / 2;
  EXPECT_DOUBLE_EQ(area, 7.0);
}

class ExportFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    ProjectData& p = data_;
    p.layers = {Attribute{1, "0"}, Attribute{2, "GIS_TEREN"}, Attribute{3, "GIS:ZLE"}};
    p.geoLocation.crsName = "EPSG:2178";
    p.elements.push_back(latticeMesh(2, 100000));
    p.elements.push_back(latticeMesh(2, 100020));
    StoredElement text;
    text.element.typeCode = 15;
    text.element.layer = 3;
    text.element.textSize = 1.5;
    text.element.angle = 0.5;
    text.memo.text = u"\u0141\u00f3d\u017a 12/5";
    p.elements.push_back(text);
  }
  testing::TempDir tmp_;
  fs::path dir_ = tmp_.path();
  ProjectData data_;
};

TEST_F(ExportFiles, GlbHasOneNodePerLayerAndSmallCoordinates) {
  const std::string glb = glbBytes(data_);
  ASSERT_GE(glb.size(), 20u);   // the container itself is checked by the Khronos validator
  const auto j = glbJson(glb);
  ASSERT_EQ(j["meshes"].size(), 1u);   // only GIS_TEREN holds 3D elements
  EXPECT_EQ(j["nodes"][1]["name"], "GIS_TEREN");
  EXPECT_EQ(j["asset"]["extras"]["crsName"], "EPSG:2178");
  // Vertices are stored around the file's origin.
  const auto& acc = j["accessors"][0];
  EXPECT_LT(std::fabs(acc["max"][0].get<double>()), 100.0);
  EXPECT_EQ(j["nodes"][0]["translation"][0].get<double>(), 100015.0);
  EXPECT_EQ(j["accessors"][1]["count"], 8 * 3);

  // An empty project is still a loadable file.
  const auto e = glbJson(glbBytes(ProjectData{}));
  EXPECT_FALSE(e.contains("buffers"));
}

TEST_F(ExportFiles, LargeDxfGoesOutInPiecesAndItsHandleSeedIsStillFilledIn) {
  for (int i = 0; i < 2400; ++i) data_.elements.push_back(latticeMesh(2, 1000.0 * i));
  const fs::path out = dir_ / "duzy.dxf";
  ASSERT_EQ(exportDxf(data_, out), "");
  const std::string dxf = testing::readText(out);
  ASSERT_GT(dxf.size(), std::size_t{2} << 20);   // the header went to the file long before the end
  const std::size_t at = dxf.find("$HANDSEED\n  5\n");
  ASSERT_NE(at, std::string::npos);
  const unsigned long long seed = std::stoull(dxf.substr(at + 14, 16), nullptr, 16);
  unsigned long long highest = 0;
  for (std::size_t p = dxf.find("\n  5\n"); p != std::string::npos; p = dxf.find("\n  5\n", p + 1)) {
    if (p == at + 9) continue;
    const std::size_t b = p + 5;
    highest = std::max(highest, std::stoull(dxf.substr(b, dxf.find('\n', b) - b), nullptr, 16));
  }
  EXPECT_GT(highest, 0x20u);
  EXPECT_EQ(seed, highest + 1);
  EXPECT_EQ(dxf.substr(dxf.size() - 4), "EOF\n");
  // A layer name DXF cannot hold is cleaned, and its text goes to the cleaned layer.
  EXPECT_EQ(dxf.find("GIS:ZLE"), std::string::npos);
  EXPECT_NE(dxf.find("\n  8\nGIS_ZLE\n"), std::string::npos);
}

using Point3Key = std::tuple<double, double, double>;

// Closed and outward: every directed edge once, its reverse once.
bool closedOutward(const TriangleSoup& s) {
  std::map<std::pair<Point3Key, Point3Key>, int> walked;
  const auto key = [&](std::uint32_t i) { return Point3Key{s.vertices[i].x, s.vertices[i].y, s.vertices[i].z}; };
  for (const auto& t : s.triangles)
    for (int k = 0; k < 3; ++k) ++walked[{key(t[static_cast<std::size_t>(k)]), key(t[static_cast<std::size_t>((k + 1) % 3)])}];
  for (const auto& [e, n] : walked)
    if (n != 1 || !walked.count({e.second, e.first})) return false;
  return true;
}

// Solids close around their holes, and what lies at an element's level faces the way it should: a
// slab's top covers its outline less its courtyards, a body's base faces down.
TEST(ExportGeometry, SolidsAreClosedAndFaceOutward) {
  StoredElement courtyard = slabOf(
      {{}, {0, 0}, {30, 0}, {30, 30}, {0, 30}, {0, 0}, {10, 10}, {20, 10}, {20, 20}, {10, 20}, {10, 10}}, {0, 5, 10}, 12);
  courtyard.element.level = 12;
  StoredElement tetra;
  tetra.element.typeCode = 45;
  tetra.memo.body.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  tetra.memo.body.edges = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
  tetra.memo.body.polygons = {{-3, -2, -1}, {1, 5, -4}, {2, 6, -5}, {3, 4, -6}};
  // Concave rings are the ear clipping's own test (place); the courtyard takes the same path.
  for (const auto& [solid, areaAtLevel] : {std::pair{courtyard, 900.0 - 100}, std::pair{tetra, -0.5}}) {
    const TriangleSoup s = elementTriangles(solid);
    EXPECT_TRUE(closedOutward(s)) << solid.element.typeCode;
    const double z = solid.element.level;
    double area = 0;   // signed plan area of the triangles lying at the element's level
    for (const auto& t : s.triangles) {
      const Point3 &a = s.vertices[t[0]], &b = s.vertices[t[1]], &c = s.vertices[t[2]];
      if (a.z == z && b.z == z && c.z == z) area += ((b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x)) / 2;
    }
    EXPECT_DOUBLE_EQ(area, areaAtLevel) << solid.element.typeCode;
  }
  // A mesh without level lines is its boundary with its heights (one with them: the GLB test).
  StoredElement flat = latticeMesh(1, 0);
  flat.memo.levelLines.clear();
  EXPECT_EQ(elementTriangles(flat).triangles.size(), 2u);
}

// Each solid's own node named by its identifier is read back by the black-box LOD1/LOD2 export test.
TEST(ExportGlb, SolidsOfOneSurfaceMaterialShareOneMaterialOfItsColour) {
  ProjectData p;
  p.layers = {Attribute{1, "GIS_BUDYNKI_3D"}};
  Attribute m{7, "GIS Droga"};
  m.r = 0.3, m.g = 0.3, m.b = 0.32;
  p.surfaceMaterials = {m};
  for (const char* id : {"BLD-1", "BLD-2"}) {
    StoredElement e = slabOf({{}, {0, 0}, {4, 0}, {4, 4}, {0, 0}}, {0, 4}, 3);
    e.element.layer = 1;
    e.element.surfaceMaterial = 7;
    e.info = id;
    p.elements.push_back(e);
  }
  const auto j = glbJson(glbBytes(p));
  ASSERT_EQ(j["materials"].size(), 1u);
  EXPECT_DOUBLE_EQ(j["materials"][0]["pbrMetallicRoughness"]["baseColorFactor"][2].get<double>(), 0.32);
  EXPECT_EQ(j["meshes"][0]["primitives"][0]["material"], 0);
}

}  // namespace
}  // namespace veldra
