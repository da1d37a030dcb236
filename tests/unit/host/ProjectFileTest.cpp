#include "host/ProjectFile.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <fstream>
#include <numbers>
#include <tuple>
#include <vector>

#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;

std::uint64_t bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Every number of an element, arc ends too, bitwise, so that -0.0 against 0.0 or a last-digit change shows.
std::vector<std::uint64_t> numbers(const StoredElement& s) {
  const Element& x = s.element;
  const Memo& m = s.memo;
  std::vector<std::uint64_t> out;
  for (double v : {x.r, x.g, x.b, x.level, x.thickness, x.textSize, x.angle, x.location.x, x.location.y, x.width,
                   x.height})
    out.push_back(bits(v));
  for (const auto& c : m.coords) out.insert(out.end(), {bits(c.x), bits(c.y)});
  for (const auto& a : m.arcs)
    out.insert(out.end(), {std::uint64_t(a.begIndex), std::uint64_t(a.endIndex), bits(a.arcAngle)});
  for (double z : m.z) out.push_back(bits(z));
  for (const auto& l : m.levelLines)
    for (const auto& p : l.points) out.push_back(bits(p.z));
  for (const auto& v : m.body.vertices) out.insert(out.end(), {bits(v.x), bits(v.z)});
  return out;
}

void expectSameElement(const StoredElement& a, const StoredElement& b) {
  const auto fields = [](const StoredElement& s) {
    const Element& x = s.element;
    return std::tie(x.guid, x.typeCode, x.layer, x.floor, s.info, x.contourPen, x.fillPen, x.backgroundPen, x.fillType,
                    x.useRgbColor, x.surfaceMaterial, x.buildingMaterial, x.textAnchor, x.pictureFormat, x.mirrored,
                    x.closed, s.memo.ringEnds, s.memo.text, s.memo.pixels, s.memo.body.edges, s.memo.body.polygons);
  };
  EXPECT_EQ(fields(a), fields(b));
  EXPECT_EQ(numbers(a), numbers(b));
}

class ProjectFileTest : public ::testing::Test {
 protected:
  Element defaults(ElementType t) {
    Element e{.typeCode = static_cast<int>(t)};
    EXPECT_EQ(host.getElementDefaults(e), kHostOk);
    return e;
  }
  // A two-point polyline in `h`; its guid.
  std::string addLine(MemoryHost& h, double to) {
    Element e = defaults(ElementType::Polyline);
    Memo m;
    m.coords = {{}, {0, 0}, {to, to}};
    EXPECT_EQ(h.createElement(e, m), kHostOk);
    return e.guid;
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

    const GeoLocation g{.surveyEasting = 6543210.123456789, .surveyNorthing = 5567890.987654321,
                        .surveyHeight = 0.1 + 0.2, .xAxisAbscissa = std::cos(0.3), .xAxisOrdinate = std::sin(0.3),
                        .crsName = "EPSG:2178", .geodeticDatum = "ETRF2000 (PL-ETRF2000)", .mapZone = "7",
                        .longitude = 21.0122, .latitude = 52.2297, .northDirection = -0.0};
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
    const auto attr = [](const Attribute& t) {
      return std::tuple(t.index, t.name, t.solid, t.hatch, t.usableForFills, bits(t.r), bits(t.g));
    };
    for (std::size_t i = 0; i < x.size(); ++i) EXPECT_EQ(attr(x[i]), attr(y[i]));
  }
  const auto geo = [](const GeoLocation& g) {
    return std::tuple(bits(g.surveyEasting), bits(g.surveyNorthing), bits(g.surveyHeight), bits(g.xAxisAbscissa),
                      bits(g.xAxisOrdinate), bits(g.northDirection), g.crsName, g.geodeticDatum, g.mapZone);
  };
  EXPECT_EQ(geo(host.geoLocation()), geo(loaded.geoLocation()));

  // Saving the loaded project again gives the same bytes.
  const fs::path again = dir / "again.json";
  ASSERT_EQ(saveProject(loaded, again), "");
  EXPECT_EQ(testing::readText(file), testing::readText(again));
  // Texts are stored as UTF-8, not escaped.
  EXPECT_NE(testing::readText(file).find("Łódź"), std::string::npos);
}

TEST_F(ProjectFileTest, LoadedProjectContinuesGuidsAndHasNoUndoHistory) {
  fillProject();
  host.runUndoableCommand("Import GIS", [&] { return addLine(host, 1).empty() ? kHostErrRefused : kHostOk; });
  ASSERT_EQ(saveProject(host, file), "");
  MemoryHost loaded;
  loaded.runUndoableCommand("earlier", [] { return kHostOk; });
  ASSERT_EQ(loadProject(file, loaded), "");
  EXPECT_TRUE(loaded.commandTitles().empty());

  const std::string added = addLine(loaded, 2);
  for (std::size_t i = 0; i + 1 < loaded.elementCount(); ++i) EXPECT_NE(loaded.elementAt(i).element.guid, added);
}

TEST_F(ProjectFileTest, CorruptOrMissingFileIsRefusedHostUnchangedAndNeverOverwritten) {
  fillProject();
  ASSERT_EQ(saveProject(host, file), "");
  std::string good = testing::readText(file);
  const std::string truncated = good.substr(0, good.size() / 2);
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << truncated;
  }

  MemoryHost other;
  const std::string otherGuid = addLine(other, 1);
  const std::string err = loadProject(file, other);
  EXPECT_NE(err.find("Nie mozna wczytac projektu"), std::string::npos) << err;
  EXPECT_NE(err.find("JSON"), std::string::npos) << err;
  EXPECT_NE(loadProject(dir / "brak.json", other).find("nie istnieje"), std::string::npos);
  EXPECT_EQ(other.elementCount(), 1u);
  EXPECT_NE(other.findElement(otherGuid), nullptr);

  const std::string saveErr = saveProject(other, file);
  EXPECT_NE(saveErr.find("nie zostanie nadpisany"), std::string::npos) << saveErr;
  EXPECT_EQ(testing::readText(file), truncated);
  EXPECT_NE(checkProjectFile(file), "");
}

// Empty, non-JSON, non-project and deeply nested files are the black-box bad-input test's.
TEST_F(ProjectFileTest, WellFormedFileWithUnsoundContentIsRefused) {
  fillProject();
  std::string text = projectToJson(host);
  const auto check = [&](const std::string& bad, const std::string& expected) {
    MemoryHost h;
    const std::string err = projectFromJson(bad, h);
    EXPECT_NE(err.find(expected), std::string::npos) << err;
    EXPECT_EQ(h.elementCount(), 0u);
  };
  const struct {
    const char *from, *to, *expected;
  } edits[] = {
      {"\"ringEnds\":[4,8]", "\"ringEnds\":[3,8]", "element 1"},   // the fill's outline no longer closes
      {"\"version\":1", "\"version\":9", "nowszej wersji"},
      {"E0000002", "E0000001", "powtorzony identyfikator"},
      {"\"layer\":2", "\"layer\":9", "warstwa 9"},
  };
  for (const auto& e : edits) {
    std::string bad = text;
    const auto pos = bad.find(e.from);
    ASSERT_NE(pos, std::string::npos) << e.from;
    check(bad.replace(pos, std::strlen(e.from), e.to), e.expected);
  }
  check("{\"format\":\"veldra-project\",\"version\":1,\"attributes\":{\"layers\":[]}}", "warstwy");
  check("{\"format\":\"veldra-project\",\"version\":1,\"attributes\":{\"layers\":[{\"index\":1,\"name\":\"a\"}]},"
        "\"elements\":[{\"type\":20,\"guid\":\"x\",\"layer\":1,\"memo\":{\"points\":[0,0,1]}}]}",
        "wielokrotnoscia");
  check("{\"format\":\"veldra-project\",\"version\":1,\"attributes\":{\"layers\":[{\"index\":1,\"name\":\"a\"}]},"
        "\"elements\":[{\"type\":31,\"guid\":\"x\",\"layer\":1,\"width\":1,\"height\":1,\"memo\":{\"pixels\":\"A===\"}}]}",
        "base64");
}

}  // namespace
}  // namespace veldra
