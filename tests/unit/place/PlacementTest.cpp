#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <map>
#include <string>
#include <tuple>

#include <nlohmann/json.hpp>

#include "geo/Projections.h"
#include "host/MemoryHost.h"
#include "host/ProjectFile.h"
#include "place/DataKinds.h"
#include "place/Placement.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kPi = 3.14159265358979323846;
using Counts = std::map<std::string, int>;

// ---- pure helpers -------------------------------------------------------------

TEST(ZoneColour, CodesMatchOnlyBetweenNonLetters) {
  for (const char* found : {"1SW", "sw"}) EXPECT_TRUE(zoneColour(found)) << found;
  for (const char* inWord : {"MSW", "SWA", "ssw", "", "MN"}) EXPECT_FALSE(zoneColour(inWord)) << inWord;   // ssw: SSW
  // Rows are tried in table order, not by position in the text.
  const auto c = zoneColour("SN/SW");
  ASSERT_TRUE(c);
  EXPECT_EQ(std::tie(c->r, c->g, c->b), std::tie(zoneColour("SW")->r, zoneColour("SW")->g, zoneColour("SW")->b));
}

TEST(ParcelLabel, PassesAndTail) {
  EXPECT_EQ(parcelLabel({{"numerDzialki", "146501_1.0001.12/5"}}), "12/5");
  EXPECT_EQ(parcelLabel({{"numerDzialki", "12/5"}}), "12/5");
  EXPECT_EQ(parcelLabel({{"numerDzialki", "12."}}), "12.");
  EXPECT_EQ(parcelLabel({{"idDzialki", ""}, {"numer", "7"}}), "7");
  // Earlier passes win over name order.
  EXPECT_EQ(parcelLabel({{"a_identyfikator", "X.1"}, {"nr_dzialki", "33"}}), "33");
  EXPECT_EQ(parcelLabel({{"numerObrebu", "0001"}, {"gml_id", "g"}}), "");
}

TEST(ContourSmoothing, EndsStayPutAndCollinearRunsCollapse) {
  const struct {
    std::vector<Point2> line;
    std::size_t minSize, maxSize;   // of the smoothed line
  } cases[] = {
      {{{0, 0}, {10, 0}, {10, 10}, {20, 10}}, 5, SIZE_MAX},        // open: rounded corners
      {{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0, 0}}, 5, SIZE_MAX},   // closed: stays closed
      {{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}, 2, 2},             // inner vertices go
      {{{0, 0}, {1, 1}}, 2, 2},
  };
  for (const auto& c : cases) {
    const auto s = smoothContourLine(c.line);
    ASSERT_GE(s.size(), c.minSize);
    EXPECT_LE(s.size(), c.maxSize);
    // Open lines keep both ends; a closed ring may start elsewhere but stays closed.
    const bool closed = std::tie(c.line.front().x, c.line.front().y) == std::tie(c.line.back().x, c.line.back().y);
    const Point2 first = closed ? s.back() : c.line.front(), last = closed ? s.front() : c.line.back();
    EXPECT_EQ(std::tie(s.front().x, s.front().y), std::tie(first.x, first.y));
    EXPECT_EQ(std::tie(s.back().x, s.back().y), std::tie(last.x, last.y));
  }
}

// ---- placement on the stand-in host ---------------------------------------------

class PlacementTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The origin at the frame centre's PL-2000 image.
    frame_ = Bbox{cE_ - 100, cN_ - 100, cE_ + 100, cN_ + 100};
    const auto [E, N] = pl1992ToPl2000(cE_, cN_, zone_);
    georef_ = ProjectGeoref{E, N, 0.0, 0.0, 0.0, true};
  }

  static std::vector<Point2> square(double x, double y, double s) {
    return {{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}};
  }

  GisFeature parcel(double dx, const std::string& number) const {
    GisFeature f;
    f.type = DataType::Dzialki;
    f.polygons.push_back(Polygon2{square(cE_ + dx, cN_, 10), {square(cE_ + dx + 2, cN_ + 2, 2)}});
    f.point = Point2{cE_ + dx + 5, cN_ + 5};
    f.hasPoint = true;
    f.attributes["numerDzialki"] = number;
    return f;
  }
  GisFeature building(double dx) const {
    GisFeature f;
    f.type = DataType::Budynki;
    f.polygons.push_back(Polygon2{square(cE_ + dx, cN_ + 20, 8), {}});
    return f;
  }

  ImportOutcome run(const PlacementData& d, ImportOptions o = {}) {
    return runImport(host_, georef_, zone_, d, o, [](DataType) { return std::string(); });
  }
  PlacementData move(const std::vector<GisFeature>& f, const std::vector<RasterTile>& r = {},
                     const std::vector<TerrainPatchSet>& t = {}, const std::vector<Contour>& c = {},
                     const std::vector<ContourLabel>& l = {}) const {
    FetchedData d;
    d.features = f;
    d.rasters = r;
    d.terrain = t;
    d.contours.lines = c;
    d.contours.labels = l;
    return moveToZone(d, frame_, zone_);
  }
  int layerIndex(const std::string& name) const {
    for (const auto& a : host_.attributes(AttributeKind::Layer))
      if (a.name == name) return a.index;
    return 0;
  }

  MemoryHost host_;
  testing::TempDir diagDir_;
  testing::ScopedEnv diag_{"VELDRA_DIAG_DIR", diagDir_.path()};
  double cE_ = 637000, cN_ = 486000;
  int zone_ = 2178;
  Bbox frame_;
  ProjectGeoref georef_;
};

TEST_F(PlacementTest, VectorFeaturesByType) {
  GisFeature gesut;
  gesut.type = DataType::Gesut;
  gesut.lines = {{{cE_, cN_}, {cE_ + 30, cN_}}, {{cE_, cN_}}};   // the second is too short: skipped
  GisFeature other;
  other.type = DataType::Bdot500;
  other.lines = {{{cE_, cN_}, {cE_ + 30, cN_}}};
  const auto out = run(move({parcel(0, "1.2.12/5"), building(0), gesut, other}));
  ASSERT_FALSE(out.failed()) << out.result.error;
  EXPECT_EQ(out.result.counts, (Counts{{"budynki", 1}, {"dzialki", 1}, {"gesut", 1}}));   // no bdot500
  EXPECT_EQ(host_.commandTitles(), std::vector<std::string>{"Import GIS"});

  // Parcel: two closed polylines (outer, hole) and its label; building: one fill; gesut: one line.
  ASSERT_EQ(host_.elementCount(), 5u);
  const auto& outer = host_.elementAt(0);   // a closed ring of five points
  EXPECT_EQ(std::tuple(outer.element.closed, outer.memo.pointCount(), outer.element.layer),
            std::tuple(true, 5, layerIndex("GIS_DZIALKI")));
  EXPECT_EQ(host_.elementAt(2).memo.text, u"12/5");
  // Where vertices land is checked against PROJ end to end (test_place_pipeline).
}

TEST_F(PlacementTest, OpenAndClosedRingsGiveTheSameElement) {
  GisFeature a = parcel(0, "1");
  GisFeature b = parcel(0, "1");
  b.polygons[0].outer.push_back(b.polygons[0].outer.front());
  ASSERT_FALSE(run(move({a, b})).failed());
  EXPECT_EQ(host_.elementAt(0).memo.coords.size(), host_.elementAt(3).memo.coords.size());
}

TEST_F(PlacementTest, RefusedElementIsCountedAndTheRestIsPlaced) {
  host_.addRefusal({.operation = HostOperation::CreateElement, .typeCode = 18, .times = 1});
  const auto out = run(move({building(0), building(20), parcel(40, "9")}));
  ASSERT_FALSE(out.failed());
  EXPECT_EQ(out.result.failures, 1);
  EXPECT_EQ(out.result.counts, (Counts{{"budynki", 1}, {"dzialki", 1}}));
}

TEST_F(PlacementTest, RefusedLayerUndoesEverything) {
  // An earlier import stays; the failed one leaves the project as it was.
  ASSERT_FALSE(run(move({parcel(100, "5")})).failed());
  // The element counter is not part of what an undo restores.
  const auto snapshot = [&] {
    auto j = nlohmann::json::parse(projectToJson(host_));
    j.erase("nextGuid");
    return j;
  };
  const auto before = snapshot();
  host_.addRefusal({.operation = HostOperation::CreateAttribute, .layerName = "GIS_BUDYNKI"});
  const auto out = run(move({parcel(0, "1"), building(0)}));
  ASSERT_TRUE(out.failed());
  EXPECT_EQ(out.result.error, "Nie mozna utworzyc/odnalezc warstwy dla typu: budynki");
  EXPECT_EQ(snapshot(), before);
  EXPECT_EQ(host_.commandTitles().size(), 1u);
  // Placing again once the host accepts works from a clean layer cache.
  host_.clearRefusals();
  ASSERT_FALSE(run(move({parcel(0, "1"), building(0)})).failed());
  EXPECT_EQ(host_.elementCount(), 3u + 3u + 1u);
}

TEST_F(PlacementTest, UserLayerNamesAndExistingLayersAreUsed) {
  const int idx = host_.addAttribute(AttributeKind::Layer, Attribute{0, "MOJE_DZIALKI"});
  const auto out = runImport(host_, georef_, zone_, move({parcel(0, "1"), building(0)}), {}, [](DataType t) {
    return t == DataType::Dzialki ? std::string("MOJE_DZIALKI") : std::string();
  });
  ASSERT_FALSE(out.failed());
  EXPECT_EQ(host_.elementAt(0).element.layer, idx);
  EXPECT_NE(layerIndex("GIS_BUDYNKI"), 0);
  EXPECT_EQ(host_.attributes(AttributeKind::Layer).size(), 3u);
}

TEST_F(PlacementTest, NonFiniteCoordinatesNeverReachTheHost) {
  GisFeature bad = parcel(0, "1");
  bad.polygons[0].outer[1].x = kNaN;
  bad.point.y = std::numeric_limits<double>::infinity();
  GisFeature line;
  line.type = DataType::Gesut;
  line.lines = {{{cE_, cN_}, {kNaN, cN_}}, {{cE_, cN_}, {cE_ + 5, cN_ + 5}}};
  TerrainPatchSet set;
  TerrainPatch patch{cE_ - 10, cN_ - 10, cE_ + 10, cN_ + 10, {{cE_ - 10, cN_ - 10, 100}, {cE_, cN_, kNaN}}};
  set.patches.push_back(patch);
  Contour c{101.0, false, {{cE_, cN_}, {cE_ + 5, kNaN}}};
  const auto d = move({bad, line}, {}, {set}, {c});
  EXPECT_EQ(d.droppedGeometries, 4);
  const auto out = run(d);
  ASSERT_FALSE(out.failed()) << out.result.error;
  EXPECT_EQ(out.result.failures, 4);
  EXPECT_EQ(out.result.counts.at("gesut"), 1);
  // The parcel lost its outer ring (and its hole with it) and its label point. The stand-in host
  // refuses any non-finite number, so nothing more is to be checked in what it holds.
  EXPECT_EQ(out.result.counts.at("dzialki"), 1);
}

TEST_F(PlacementTest, ZoningPlansPensColoursHatchesAndOutlines) {
  auto zone = [&](DataType t, std::map<std::string, std::string> attrs) {
    GisFeature f;
    f.type = t;
    f.polygons.push_back(Polygon2{square(cE_, cN_, 10), {}});
    f.point = {cE_ + 5, cN_ + 5};
    f.hasPoint = true;
    f.attributes = std::move(attrs);
    return f;
  };
  const auto out = run(move({
      zone(DataType::Mpzp, {{"symbol", "SW"}}),                                                    // 0 fill, 1 label
      zone(DataType::Pog, {{"symbol", "1SW"}, {"oznaczenie", "SW.1"}}),                            // 2 fill, 3 label
      zone(DataType::Pog, {{"_typ", "ObszarUzupelnieniaZabudowy"}}),                               // 4 fill
      zone(DataType::Pog, {{"_typ", "ObszarZabudowySrodmiejskiej"}, {"oznaczenie", "Srodmiescie"}}),  // 5 line, 6 label
      zone(DataType::Pog, {{"symbol", "XX"}}),                                                     // 7 fill, 8 label
  }));
  ASSERT_FALSE(out.failed());
  ASSERT_EQ(host_.elementCount(), 9u);
  const auto& local = host_.elementAt(0).element;
  EXPECT_FALSE(local.useRgbColor);   // local plans are never coloured
  EXPECT_EQ(host_.elementAt(1).memo.text, u"SW");

  const auto& general = host_.elementAt(2).element;
  EXPECT_TRUE(general.useRgbColor);
  EXPECT_NEAR(general.r, zoneColour("1SW")->r / 255.0, 1e-12);
  EXPECT_EQ(general.fillType, 1);   // the first solid fill type
  EXPECT_EQ(host_.elementAt(3).memo.text, u"SW.1");

  const auto& hatch = host_.elementAt(4).element;
  EXPECT_NE(host_.elementAt(5).element.typeCode, hatch.typeCode);   // an outline, not a fill
  EXPECT_EQ(host_.elementAt(6).memo.text, u"Srodmiescie");
  EXPECT_FALSE(host_.elementAt(7).element.useRgbColor);
  EXPECT_EQ(out.result.counts, (Counts{{"mpzp", 1}, {"pog", 4}}));
}

TEST_F(PlacementTest, PictureCornersRotationAndFailures) {
  const auto [E, N] = pl1992ToPl2000(cE_, cN_, zone_);
  const RasterTile t{DataType::Rastry, {137, 80, 78, 71, 13, 10, 26, 10, 0}, E, N, E + 100, N + 50, zone_};
  georef_.a = 30.0 * kPi / 180.0;
  auto out = run(move({}, {t}));
  ASSERT_FALSE(out.failed()) << out.result.error;
  EXPECT_EQ(out.result.counts.at("rastry (rastr)"), 1);
  const auto& pic = host_.elementAt(0);
  EXPECT_EQ(pic.element.pictureFormat, "image/png");
  EXPECT_NEAR(pic.element.width, 100, 1e-6);
  EXPECT_NEAR(pic.element.height, 50, 1e-6);
  EXPECT_NEAR(pic.element.angle, -georef_.a, 1e-9);
  EXPECT_EQ(pic.memo.pixels, t.bytes);
  EXPECT_EQ(host_.liveHandleCount(), 0u);

  // A PL-1992 box is moved exactly; the grid convergence shows in the angle.
  const RasterTile t92{DataType::Rastry, t.bytes, cE_, cN_, cE_ + 100, cN_ + 100, 2180};
  georef_.a = 0;
  out = run(move({}, {t92}));
  ASSERT_FALSE(out.failed());
  const auto& p92 = host_.elementAt(1).element;
  const auto [e2, n2] = pl1992ToPl2000(cE_ + 100, cN_, zone_);
  EXPECT_NEAR(p92.angle, std::atan2(n2 - N, e2 - E), 1e-12);
  EXPECT_GT(std::fabs(p92.angle), 1e-4);

  // A refused picture undoes the import with its text.
  host_.addRefusal({.operation = HostOperation::CreateElement, .typeCode = 31});
  const std::size_t n = host_.elementCount();
  out = run(move({parcel(0, "1")}, {t}));
  ASSERT_TRUE(out.failed());
  EXPECT_EQ(out.result.error, "Blad wstawiania rastra (kod -2130000) dla: rastry");
  EXPECT_EQ(host_.elementCount(), n);
}

TEST_F(PlacementTest, TerrainMeshCornersTakeTheNearestHeights) {
  TerrainPatchSet set;
  TerrainPatch patch{cE_, cN_, cE_ + 20, cN_ + 20, {}};
  // Points only along the south edge; the corner (minX,minY) holds a point exactly.
  for (int i = 0; i <= 4; ++i) patch.points.push_back({cE_ + 5.0 * i, cN_, 100.0 + i});
  set.patches.push_back(patch);
  set.patches.push_back(TerrainPatch{cE_, cN_, cE_ + 1, cN_ + 1, {}});   // empty: nothing created
  ImportOptions o;
  o.terrainZOffset = 100.0;
  const auto out = run(move({}, {}, {set}), o);
  ASSERT_FALSE(out.failed()) << out.result.error;
  EXPECT_EQ(out.result.counts.at("teren (Siatka)"), 1);
  ASSERT_EQ(host_.elementCount(), 1u);
  const auto& mesh = host_.elementAt(0);
  ASSERT_EQ(mesh.memo.pointCount(), 5);
  // Slot 0, then SW, SE, NE (nearest is the south-east point), NW and SW again.
  EXPECT_EQ(mesh.memo.z, (std::vector<double>{0, 0, 4, 4, 0, 0}));
  std::size_t pts = 0;
  for (const auto& l : mesh.memo.levelLines) pts += l.points.size();
  EXPECT_EQ(pts, 5u);   // one row

  host_.addRefusal({.operation = HostOperation::CreateElement, .typeCode = 10});
  const auto bad = run(move({parcel(0, "1")}, {}, {set}), o);
  ASSERT_TRUE(bad.failed());
  EXPECT_EQ(bad.result.error, "Blad tworzenia Siatki terenu (kod -2130000)");
  EXPECT_EQ(host_.elementCount(), 1u);
}

TEST_F(PlacementTest, ContoursIn2DAnd3D) {
  std::vector<Contour> cs;
  cs.push_back(Contour{100.0, true, {{cE_ - 50, cN_}, {cE_ + 50, cN_}}});
  cs.push_back(Contour{101.0, false, {{cE_ - 50, cN_ + 20}, {cE_ + 50, cN_ + 20}}});
  cs.push_back(Contour{102.0, false, {{cE_, cN_ + 40}, {cE_ + 0.9, cN_ + 40}}});   // a stub in 3D
  std::vector<ContourLabel> labels{{cE_, cN_, kPi, "100,00"}};
  ImportOptions o;
  o.terrainZOffset = 100.0;
  const auto out = run(move({}, {}, {}, cs, labels), o);
  ASSERT_FALSE(out.failed());
  EXPECT_EQ(out.result.counts, (Counts{{"podpisy rzednych", 1}, {"poziomice2d", 3}, {"poziomice3d", 1}}));
  ASSERT_EQ(host_.elementCount(), 5u);
  EXPECT_NE(host_.elementAt(0).element.contourPen, host_.elementAt(1).element.contourPen);   // index contour
  const auto& label = host_.elementAt(3).element;
  EXPECT_GT(label.angle, -kPi / 2);
  EXPECT_LE(label.angle, kPi / 2);
  const auto& mesh = host_.elementAt(4);
  EXPECT_EQ(mesh.element.layer, layerIndex("GIS_POZIOMICE_3D"));
  ASSERT_EQ(mesh.memo.levelLines.size(), 2u);   // the 0.9 m stub is rejected
  EXPECT_DOUBLE_EQ(mesh.memo.levelLines[1].points[0].z, 1.0);
  EXPECT_DOUBLE_EQ(mesh.memo.z[1], 0.0);   // SW corner: nearest vertex is on the 100 m contour
  EXPECT_DOUBLE_EQ(mesh.memo.z[3], 1.0);   // NE corner: on the 101 m contour

  // Two points in all: no mesh, no count; a refused mesh is a counted failure with its notice.
  MemoryHost other;
  std::vector<Contour> two{Contour{100.0, false, {{cE_, cN_}, {cE_ + 5, cN_}}}};
  auto r2 = runImport(other, georef_, zone_, move({}, {}, {}, two), o, {});
  EXPECT_EQ(r2.result.counts.count("poziomice3d"), 0u);
  other.addRefusal({.operation = HostOperation::CreateElement, .typeCode = 10});
  r2 = runImport(other, georef_, zone_, move({}, {}, {}, cs), o, {});
  ASSERT_FALSE(r2.failed());
  EXPECT_EQ(r2.result.failures, 1);
  ASSERT_EQ(r2.result.notices.size(), 1u);
  EXPECT_EQ(r2.result.notices[0], "Poziomice: nie udalo sie utworzyc Siatki 3D z warstwic.");
}

}  // namespace
}  // namespace veldra
