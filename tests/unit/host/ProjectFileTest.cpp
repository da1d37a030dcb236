#include "host/ProjectFile.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <fstream>
#include <numbers>

#include "platform/Paths.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Bitwise, so that -0.0 against 0.0 or a last-digit change shows.
#define EXPECT_SAME_DOUBLE(a, b) EXPECT_EQ(bits(a), bits(b)) << (a) << " vs " << (b)

void expectSameElement(const StoredElement& a, const StoredElement& b) {
  const Element& x = a.element;
  const Element& y = b.element;
  EXPECT_EQ(x.guid, y.guid);
  EXPECT_EQ(x.typeCode, y.typeCode);
  EXPECT_EQ(x.layer, y.layer);
  EXPECT_EQ(x.floor, y.floor);
  EXPECT_EQ(a.info, b.info);
  EXPECT_EQ(x.contourPen, y.contourPen);
  EXPECT_EQ(x.fillPen, y.fillPen);
  EXPECT_EQ(x.backgroundPen, y.backgroundPen);
  EXPECT_EQ(x.fillType, y.fillType);
  EXPECT_EQ(x.useRgbColor, y.useRgbColor);
  EXPECT_SAME_DOUBLE(x.r, y.r);
  EXPECT_SAME_DOUBLE(x.g, y.g);
  EXPECT_SAME_DOUBLE(x.b, y.b);
  EXPECT_EQ(x.surfaceMaterial, y.surfaceMaterial);
  EXPECT_EQ(x.buildingMaterial, y.buildingMaterial);
  EXPECT_SAME_DOUBLE(x.level, y.level);
  EXPECT_SAME_DOUBLE(x.thickness, y.thickness);
  EXPECT_SAME_DOUBLE(x.textSize, y.textSize);
  EXPECT_SAME_DOUBLE(x.angle, y.angle);
  EXPECT_SAME_DOUBLE(x.location.x, y.location.x);
  EXPECT_SAME_DOUBLE(x.location.y, y.location.y);
  EXPECT_EQ(x.textAnchor, y.textAnchor);
  EXPECT_SAME_DOUBLE(x.width, y.width);
  EXPECT_SAME_DOUBLE(x.height, y.height);
  EXPECT_EQ(x.pictureFormat, y.pictureFormat);
  EXPECT_EQ(x.mirrored, y.mirrored);
  EXPECT_EQ(x.closed, y.closed);

  const Memo& m = a.memo;
  const Memo& n = b.memo;
  ASSERT_EQ(m.coords.size(), n.coords.size());
  for (std::size_t i = 0; i < m.coords.size(); ++i) {
    EXPECT_SAME_DOUBLE(m.coords[i].x, n.coords[i].x);
    EXPECT_SAME_DOUBLE(m.coords[i].y, n.coords[i].y);
  }
  EXPECT_EQ(m.ringEnds, n.ringEnds);
  ASSERT_EQ(m.arcs.size(), n.arcs.size());
  for (std::size_t i = 0; i < m.arcs.size(); ++i) {
    EXPECT_EQ(m.arcs[i].begIndex, n.arcs[i].begIndex);
    EXPECT_EQ(m.arcs[i].endIndex, n.arcs[i].endIndex);
    EXPECT_SAME_DOUBLE(m.arcs[i].arcAngle, n.arcs[i].arcAngle);
  }
  ASSERT_EQ(m.z.size(), n.z.size());
  for (std::size_t i = 0; i < m.z.size(); ++i) EXPECT_SAME_DOUBLE(m.z[i], n.z[i]);
  ASSERT_EQ(m.levelLines.size(), n.levelLines.size());
  for (std::size_t i = 0; i < m.levelLines.size(); ++i) {
    ASSERT_EQ(m.levelLines[i].points.size(), n.levelLines[i].points.size());
    for (std::size_t k = 0; k < m.levelLines[i].points.size(); ++k)
      EXPECT_SAME_DOUBLE(m.levelLines[i].points[k].z, n.levelLines[i].points[k].z);
  }
  EXPECT_EQ(m.text, n.text);
  EXPECT_EQ(m.pixels, n.pixels);
  ASSERT_EQ(m.body.vertices.size(), n.body.vertices.size());
  for (std::size_t i = 0; i < m.body.vertices.size(); ++i) {
    EXPECT_SAME_DOUBLE(m.body.vertices[i].x, n.body.vertices[i].x);
    EXPECT_SAME_DOUBLE(m.body.vertices[i].z, n.body.vertices[i].z);
  }
  EXPECT_EQ(m.body.edges, n.body.edges);
  EXPECT_EQ(m.body.polygons, n.body.polygons);
}

class ProjectFileTest : public ::testing::Test {
 protected:
  Element defaults(ElementType t) {
    Element e;
    e.typeCode = static_cast<int>(t);
    EXPECT_EQ(host.getElementDefaults(e), kHostOk);
    return e;
  }

  // One element of every type, with numbers that lose bits when printed carelessly.
  void fillProject() {
    int parcels = 0, mat = 0;
    ASSERT_EQ(host.createAttribute(AttributeKind::Layer, "GIS_DZIAŁKI", 0, 0, 0, parcels), kHostOk);
    ASSERT_EQ(host.createAttribute(AttributeKind::SurfaceMaterial, "GIS Droga", 0.1 + 0.2, 1.0 / 3.0, 0.32, mat), kHostOk);
    const double tricky[] = {0.1 + 0.2, 1e-310, -0.0, DBL_MAX, std::numbers::pi, 5500123.456789012, -DBL_MIN, 5e-324};

    Memo ring;
    ring.coords = {{}, {tricky[0], tricky[1]}, {DBL_MAX, -0.0}, {std::numbers::pi, 5e-324}, {tricky[0], tricky[1]},
                   {1, 1}, {2, 1}, {2, 2}, {1, 1}};
    ring.ringEnds = {0, 4, 8};
    Element fill = defaults(ElementType::Fill);
    fill.layer = parcels;
    fill.useRgbColor = true;
    fill.r = 1.0 / 255.0, fill.g = 0.5, fill.b = 254.0 / 255.0;
    fill.fillType = 3;
    ASSERT_EQ(host.createElement(fill, ring), kHostOk);
    ASSERT_EQ(host.setElementInfoString(fill.guid, "PL.1234.5678 dz. 12/5"), kHostOk);

    Element slab = defaults(ElementType::Slab);
    slab.level = -0.0;
    slab.thickness = 12.345678901234567;
    slab.surfaceMaterial = mat;
    ASSERT_EQ(host.createElement(slab, ring), kHostOk);

    Memo mesh = ring;
    mesh.z.assign(ring.coords.size(), 0.0);
    for (std::size_t i = 1; i < mesh.z.size(); ++i) mesh.z[i] = tricky[i % 8] / 1e300;
    mesh.levelLines.push_back(MeshLevelLine{{{0.5, 0.5, 101.1}, {1.5, 0.5, 101.2}, {1.5, 1.5, 1e-300}}});
    Element meshEl = defaults(ElementType::Mesh);
    ASSERT_EQ(host.createElement(meshEl, mesh), kHostOk);

    Memo text;
    text.text = u"Łódź – dz. 12/5 🏠\n\"cudzysłów\"";
    Element textEl = defaults(ElementType::Text);
    textEl.angle = -std::numbers::pi / 7;
    textEl.location = {tricky[5], tricky[6]};
    textEl.textSize = 1.5;
    ASSERT_EQ(host.createElement(textEl, text), kHostOk);

    Memo line;
    line.coords = {{}, {0, 0}, {1e-9, 3}, {7, 7}, {8, 8}};
    line.ringEnds = {0, 2, 4};
    line.arcs = {{1, 2, -0.1234567890123}, {3, 4, 1e-300}};
    Element poly = defaults(ElementType::Polyline);
    poly.closed = true;
    poly.contourPen = 10;
    ASSERT_EQ(host.createElement(poly, line), kHostOk);

    for (std::size_t size : {1u, 2u, 3u, 256u}) {
      Memo pic;
      for (std::size_t i = 0; i < size; ++i) pic.pixels.push_back(static_cast<std::uint8_t>(255 - i));
      Element picture = defaults(ElementType::Picture);
      picture.width = 123.4, picture.height = 0.1, picture.angle = 0.5235987755982988;
      picture.mirrored = size == 3;
      ASSERT_EQ(host.createElement(picture, pic), kHostOk);
    }

    Memo morph;
    morph.body.vertices = {{0, 0, tricky[1]}, {1, 0, 0}, {0, 1, 0}, {0, 0, DBL_MAX}};
    morph.body.edges = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
    morph.body.polygons = {{-3, -2, -1}, {1, 5, -4}, {2, 6, -5}, {3, 4, -6}};
    Element morphEl = defaults(ElementType::Morph);
    morphEl.surfaceMaterial = mat;
    ASSERT_EQ(host.createElement(morphEl, morph), kHostOk);

    GeoLocation g;
    g.surveyEasting = 6543210.123456789;
    g.surveyNorthing = 5567890.987654321;
    g.surveyHeight = 0.1 + 0.2;
    g.xAxisAbscissa = std::cos(0.3);
    g.xAxisOrdinate = std::sin(0.3);
    g.crsName = "EPSG:2178";
    g.geodeticDatum = "ETRF2000 (PL-ETRF2000)";
    g.mapZone = "7";
    g.latitude = 52.2297;
    g.longitude = 21.0122;
    g.northDirection = -0.0;
    ASSERT_EQ(host.writeGeoLocation(g), kHostOk);
  }

  MemoryHost host;
  testing::TempDir tmp;
  fs::path dir = tmp.path(), file = dir / "projekt.json";
};

TEST_F(ProjectFileTest, SaveAndLoadGiveTheSameProjectBitForBit) {
  fillProject();
  ASSERT_EQ(saveProject(host, file), "");

  MemoryHost loaded;
  ASSERT_EQ(loadProject(file, loaded), "");
  const ProjectData a = host.exportProject();
  const ProjectData b = loaded.exportProject();
  ASSERT_EQ(a.elements.size(), b.elements.size());
  for (std::size_t i = 0; i < a.elements.size(); ++i) {
    SCOPED_TRACE(i);
    expectSameElement(a.elements[i], b.elements[i]);
  }
  for (AttributeKind k : {AttributeKind::Layer, AttributeKind::FillType, AttributeKind::SurfaceMaterial,
                          AttributeKind::BuildingMaterial}) {
    const auto& x = host.attributes(k);
    const auto& y = loaded.attributes(k);
    ASSERT_EQ(x.size(), y.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      EXPECT_EQ(x[i].index, y[i].index);
      EXPECT_EQ(x[i].name, y[i].name);
      EXPECT_EQ(x[i].solid, y[i].solid);
      EXPECT_EQ(x[i].hatch, y[i].hatch);
      EXPECT_EQ(x[i].usableForFills, y[i].usableForFills);
      EXPECT_SAME_DOUBLE(x[i].r, y[i].r);
      EXPECT_SAME_DOUBLE(x[i].g, y[i].g);
    }
  }
  const GeoLocation& g = host.geoLocation();
  const GeoLocation& h = loaded.geoLocation();
  EXPECT_SAME_DOUBLE(g.surveyEasting, h.surveyEasting);
  EXPECT_SAME_DOUBLE(g.surveyNorthing, h.surveyNorthing);
  EXPECT_SAME_DOUBLE(g.surveyHeight, h.surveyHeight);
  EXPECT_SAME_DOUBLE(g.xAxisAbscissa, h.xAxisAbscissa);
  EXPECT_SAME_DOUBLE(g.xAxisOrdinate, h.xAxisOrdinate);
  EXPECT_SAME_DOUBLE(g.northDirection, h.northDirection);
  EXPECT_EQ(g.crsName, h.crsName);
  EXPECT_EQ(g.geodeticDatum, h.geodeticDatum);
  EXPECT_EQ(g.mapZone, h.mapZone);

  // Saving the loaded project again gives the same bytes.
  const fs::path again = dir / "again.json";
  ASSERT_EQ(saveProject(loaded, again), "");
  EXPECT_EQ(testing::readText(file), testing::readText(again));
  // Texts are stored as UTF-8, not escaped.
  EXPECT_NE(testing::readText(file).find("Łódź"), std::string::npos);
}

TEST_F(ProjectFileTest, LoadedProjectContinuesGuidsAndHasNoUndoHistory) {
  fillProject();
  host.runUndoableCommand("Import GIS", [&] {
    Element e = defaults(ElementType::Polyline);
    Memo m;
    m.coords = {{}, {0, 0}, {1, 1}};
    return host.createElement(e, m);
  });
  ASSERT_EQ(saveProject(host, file), "");
  MemoryHost loaded;
  loaded.runUndoableCommand("earlier", [] { return kHostOk; });
  ASSERT_EQ(loadProject(file, loaded), "");
  EXPECT_TRUE(loaded.commandTitles().empty());
  EXPECT_FALSE(loaded.undoLast());

  Element e = defaults(ElementType::Polyline);
  Memo m;
  m.coords = {{}, {0, 0}, {2, 2}};
  ASSERT_EQ(loaded.createElement(e, m), kHostOk);
  for (std::size_t i = 0; i + 1 < loaded.elementCount(); ++i) EXPECT_NE(loaded.elementAt(i).element.guid, e.guid);
}

TEST_F(ProjectFileTest, CorruptFileIsRefusedHostUnchangedAndNeverOverwritten) {
  fillProject();
  ASSERT_EQ(saveProject(host, file), "");
  std::string good = testing::readText(file);
  const std::string truncated = good.substr(0, good.size() / 2);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << truncated;
  }

  MemoryHost other;
  std::string otherGuid;
  {
    Element e = defaults(ElementType::Polyline);
    Memo m;
    m.coords = {{}, {0, 0}, {1, 1}};
    ASSERT_EQ(other.createElement(e, m), kHostOk);
    otherGuid = e.guid;
  }
  const std::string err = loadProject(file, other);
  EXPECT_NE(err.find("Nie mozna wczytac projektu"), std::string::npos) << err;
  EXPECT_NE(err.find("JSON"), std::string::npos) << err;
  EXPECT_EQ(other.elementCount(), 1u);
  EXPECT_NE(other.findElement(otherGuid), nullptr);

  const std::string saveErr = saveProject(other, file);
  EXPECT_NE(saveErr.find("nie zostanie nadpisany"), std::string::npos) << saveErr;
  EXPECT_EQ(testing::readText(file), truncated);
  EXPECT_NE(checkProjectFile(file), "");
}

TEST_F(ProjectFileTest, WellFormedFileWithUnsoundContentIsRefused) {
  fillProject();
  std::string text = projectToJson(host);
  const auto check = [&](const std::string& bad, const std::string& expected) {
    MemoryHost h;
    const std::string err = projectFromJson(bad, h);
    EXPECT_NE(err.find(expected), std::string::npos) << err;
    EXPECT_EQ(h.elementCount(), 0u);
  };
  // The fill's outline no longer ends where it starts.
  std::string open = text;
  const auto pos = open.find("\"ringEnds\":[4,8]");
  ASSERT_NE(pos, std::string::npos);
  open.replace(pos, 16, "\"ringEnds\":[3,8]");
  check(open, "element 1");

  std::string newer = text;
  newer.replace(newer.find("\"version\":1"), 11, "\"version\":9");
  check(newer, "nowszej wersji");

  std::string dupGuid = text;
  dupGuid.replace(dupGuid.find("E0000002"), 8, "E0000001");
  check(dupGuid, "powtorzony identyfikator");

  std::string badLayer = text;
  badLayer.replace(badLayer.find("\"layer\":2"), 9, "\"layer\":9");
  check(badLayer, "warstwa 9");

  check("{\"hello\":1}", "nie jest plikiem projektu");
  check("[1,2,3]", "nie jest plikiem projektu");
  check("", "pusty");
  check(std::string("\x00\xff\x10garbage", 10), "JSON");
  check("{\"format\":\"veldra-project\",\"version\":1,\"attributes\":{\"layers\":[]}}", "warstwy");
  check("{\"format\":\"veldra-project\",\"version\":1,\"attributes\":{\"layers\":[{\"index\":1,\"name\":\"a\"}]},"
        "\"elements\":[{\"type\":20,\"guid\":\"x\",\"layer\":1,\"memo\":{\"points\":[0,0,1]}}]}",
        "wielokrotnoscia");
  check("{\"format\":\"veldra-project\",\"version\":1,\"attributes\":{\"layers\":[{\"index\":1,\"name\":\"a\"}]},"
        "\"elements\":[{\"type\":31,\"guid\":\"x\",\"layer\":1,\"width\":1,\"height\":1,\"memo\":{\"pixels\":\"A===\"}}]}",
        "base64");
}

TEST_F(ProjectFileTest, MissingFileIsReportedAndDirectoryIsNotAFile) {
  MemoryHost h;
  EXPECT_NE(loadProject(dir / "brak.json", h).find("nie istnieje"), std::string::npos);
  EXPECT_NE(loadProject(dir, h), "");
  EXPECT_EQ(h.elementCount(), 0u);
}

TEST_F(ProjectFileTest, SaveCreatesMissingFoldersReplacesAValidProjectAndLeavesNoTemporaryFiles) {
  file = dir / "a" / "b" / "projekt.json";
  ASSERT_EQ(saveProject(host, file), "");
  fillProject();
  ASSERT_EQ(saveProject(host, file), "");
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(file.parent_path())) names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"projekt.json"});
  MemoryHost loaded;
  ASSERT_EQ(loadProject(file, loaded), "");
  EXPECT_EQ(loaded.elementCount(), host.elementCount());
}

}  // namespace
}  // namespace veldra
