#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <tuple>

#include "geo/Projections.h"
#include "host/MemoryHost.h"
#include "place/ProjectGeoref.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;

using testing::readText;

class GeorefTest : public ::testing::Test {
 protected:
  // A frame of 200 m around a PL-1992 point.
  static PlacementGeorefInput frameAround(double e, double n, int zone) {
    return {.currentZone = zone, .frameMinX = e - 100, .frameMinY = n - 100, .frameMaxX = e + 100, .frameMaxY = n + 100};
  }

  void setFullGeoref(double E2000, double N2000, int zone, double height = 0.0) {
    const GeoLocation g{.surveyEasting = E2000, .surveyNorthing = N2000, .surveyHeight = height,
                        .crsName = "EPSG:" + std::to_string(zone)};
    ASSERT_EQ(host_.writeGeoLocation(g), kHostOk);
  }

  MemoryHost host_;
  testing::TempDir tmp_;
  fs::path dir_ = tmp_.path();
  testing::ScopedEnv diag_{"VELDRA_DIAG_DIR", dir_};
};

TEST_F(GeorefTest, ApproximateGeoreferenceIsAcceptedWithin2KmAndRefusedBeyond) {
  ASSERT_EQ(host_.writeGeoLocation({.longitude = 21.0, .latitude = 52.2}), kHostOk);
  const auto [e, n] = wgs84ToPl1992(52.2, 21.0);

  const auto near = checkPlacementGeoref(host_, frameAround(e + 1900, n, 2178));
  EXPECT_FALSE(near.refused) << near.error;
  EXPECT_EQ(near.zone, 2178);
  // The origin is the project location moved into the zone.
  const auto [E, N] = pl1992ToPl2000(e, n, 2178);
  EXPECT_NEAR(near.georef.E0, E, 1e-6);
  EXPECT_NEAR(near.georef.N0, N, 1e-6);

  const auto far = checkPlacementGeoref(host_, frameAround(e + 2100, n, 2178));
  ASSERT_TRUE(far.refused);
  EXPECT_EQ(far.error,
            "Georeferencja projektu jest przyblizona i lezy 2 km od pobranego obszaru. Kliknij \"Ustaw lokalizacje "
            "projektu wg mapy\" i sprobuj ponownie.");
}

TEST_F(GeorefTest, SurveyedGeoreference60KmAwayGoesOnWithANotice) {
  const auto [e, n] = wgs84ToPl1992(52.2, 21.0);
  const auto [E, N] = pl1992ToPl2000(e, n, 2178);
  setFullGeoref(E, N, 2178, 101.5);
  const auto r = checkPlacementGeoref(host_, frameAround(e, n + 60500, 2177));
  ASSERT_FALSE(r.refused);
  EXPECT_EQ(r.zone, 2178);   // the project's zone wins over the import's
  ASSERT_EQ(r.notices.size(), 1u);
  EXPECT_EQ(r.notices[0],
            "Uwaga: pobrany obszar lezy 60 km od Survey Pointu projektu - elementy beda daleko od zera projektu.");
  EXPECT_DOUBLE_EQ(r.terrainZOffset, 101.5);
}

TEST_F(GeorefTest, UnsupportedSystemNameBecomesANotice) {
  const auto [e, n] = wgs84ToPl1992(52.2, 21.0);
  ASSERT_EQ(host_.writeGeoLocation({.surveyEasting = e, .surveyNorthing = n, .crsName = "ETRS89 / UTM 34N"}), kHostOk);
  const auto r = checkPlacementGeoref(host_, frameAround(e, n, 2178));
  ASSERT_FALSE(r.refused);
  ASSERT_EQ(r.notices.size(), 1u);
  EXPECT_NE(r.notices[0].find("nieobslugiwany CRS projektu \"ETRS89 / UTM 34N\""), std::string::npos);
}

TEST_F(GeorefTest, ZAnchorRules) {
  const auto [e, n] = wgs84ToPl1992(52.2, 21.0);
  const auto [E, N] = pl1992ToPl2000(e, n, 2178);

  // Height 0, no anchor, no terrain: offset 0 and nothing written.
  auto in = frameAround(e, n, 2178);
  const auto offset = [&](double projectHeight, double expected, bool changed) {
    setFullGeoref(E, N, 2178, projectHeight);
    const auto r = checkPlacementGeoref(host_, in);
    EXPECT_EQ(r.terrainZOffset, expected);
    EXPECT_EQ(r.zAnchorChanged, changed);
    EXPECT_EQ(r.notices.size(), changed ? 1u : 0u);
    EXPECT_EQ(host_.geoLocation().surveyHeight, changed ? expected : projectHeight);
    if (changed) { EXPECT_EQ(r.newZAnchor, expected); }
  };
  offset(0.0, 0.0, false);   // no anchor, no terrain: nothing written
  in.hasZAnchor = true;      // a stored anchor is used as it is
  in.zAnchor = 87.25;
  offset(0.0, 87.25, false);
  // Terrain without any finite height does not become the anchor.
  in.hasZAnchor = false;
  in.zAnchor = 0;
  in.gridTerrainSets = 1;
  in.terrainMinZ = lowestTerrainZ({{0, 0, std::nan("")}, {0, 0, INFINITY}});
  offset(0.0, 0.0, false);
  in.terrainMinZ = 103.9;     // without an anchor the lowest terrain point becomes it, written back
  offset(0.0, 103.9, true);
  offset(0.001, 0.001, false);   // a project height of 0.001 is kept unchanged
}

TEST_F(GeorefTest, WriteOriginSetsTheZoneOfTheLongitudeAndReportsSixDecimals) {
  const auto r = writeProjectOrigin(host_, 52.2, 21.0);
  ASSERT_TRUE(r.ok) << r.error;
  EXPECT_EQ(r.zone, 2178);
  EXPECT_EQ(r.level, 0);
  // Where the survey point lands is held to PROJ by the black-box placement test.
  const auto [e, n] = wgs84ToPl1992(52.2, 21.0);
  const auto [E, N] = pl1992ToPl2000(e, n, 2178);
  EXPECT_NE(r.reportLine.find("E=" + fixed6(E) + " N=" + fixed6(N)), std::string::npos) << r.reportLine;

  // A point west of 16.5 degrees lands in zone 5.
  EXPECT_EQ(writeProjectOrigin(host_, 52.4, 16.0).zone, 2176);
  EXPECT_EQ(host_.geoLocation().mapZone, "5");
}

TEST_F(GeorefTest, WriteOriginFallsBackToFewerTextsAndReportsTotalFailure) {
  ASSERT_EQ(host_.writeGeoLocation({.crsDescription = "stary opis", .longitude = 20.0}), kHostOk);

  // Each refused write falls back one level: fewer texts, fields not named keep what was read.
  const struct { int refusals; const char* crsName; } levels[] = {{1, "EPSG:2178"}, {2, ""}};
  for (const auto& l : levels) {
    host_.clearRefusals();
    host_.addRefusal({.operation = HostOperation::WriteGeoLocation, .code = kHostErrNotSupported, .times = l.refusals});
    const auto r = writeProjectOrigin(host_, 52.2, 21.0);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.level, l.refusals);
    const GeoLocation& g = host_.geoLocation();
    EXPECT_EQ(std::tie(g.crsName, g.crsDescription, g.mapZone, g.longitude), std::tuple(l.crsName, "", "", 20.0));
  }

  host_.clearRefusals();
  host_.addRefusal({.operation = HostOperation::WriteGeoLocation, .code = kHostErrBadParameters});
  const auto r = writeProjectOrigin(host_, 52.2, 21.0);
  ASSERT_FALSE(r.ok);
  EXPECT_EQ(r.error,
            "Nie udalo sie zapisac georeferencji projektu (kod -2130313). Szczegoly: " +
                (dir_ / "orvane_geo_diag.txt").string() + ". "
            "Ustaw lokalizacje recznie: Opcje > Preferencje projektu > Georeferencja.");
  EXPECT_NE(readText(dir_ / "orvane_geo_diag.txt").find("koncowy_err=-2130313 poziom_ktory_przeszedl=-1"),
            std::string::npos);

  host_.clearRefusals();
  host_.addRefusal({.operation = HostOperation::ReadGeoLocation});
  EXPECT_EQ(writeProjectOrigin(host_, 52.2, 21.0).error, "Nie mozna odczytac georeferencji projektu");
  EXPECT_EQ(writeProjectOrigin(host_, std::nan(""), 21.0).error, "Brak wspolrzednych srodka mapy");
}

}  // namespace
}  // namespace veldra
