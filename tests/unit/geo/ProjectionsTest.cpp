#include "geo/Bbox.h"
#include "geo/Projections.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>

namespace veldra {
namespace {

TEST(Pl2000Zone, BoundariesBelongToTheEasternZone) {
  const std::pair<double, int> cases[] = {{14.0, 2176}, {16.4999, 2176}, {16.5, 2177}, {19.4999999, 2177},
                                          {19.5, 2178}, {22.4999, 2178}, {22.5, 2179}, {25.0, 2179}};
  for (const auto& [lon, zone] : cases) EXPECT_EQ(pl2000ZoneForLongitude(lon), zone) << lon;
}

TEST(FindPlEpsgInText, TriesCodesInFixedOrder) {
  const std::pair<const char*, int> cases[] = {{"ETRF2000-PL / CS2000/18 (EPSG:2177)", 2177}, {"2180 and 2178", 2178},
                                               {"urn:ogc:def:crs:EPSG::2176", 2176}, {"EPSG:4326 WGS 84", 0}, {"217", 0}};
  for (const auto& [text, code] : cases) EXPECT_EQ(findPlEpsgInText(text), code) << text;
}

TEST(EpsgFromSrsName, CurrentZoneOnlyWhenNamedOtherwisePl1992) {
  const std::tuple<const char*, int, int> cases[] = {   // name, current zone, expected
      {"urn:ogc:def:crs:EPSG::2178", 2178, 2178}, {"urn:ogc:def:crs:EPSG::2178", 2177, 2180}, {"EPSG:2177", 2177, 2177},
      {"http://www.opengis.net/def/crs/EPSG/0/2177", 2177, 2180},   // no ':' before digits
      {"urn:x-ogc:def:crs:EPSG:6.9:2176", 2176, 2176}, {"EPSG:2180", 2178, 2180},
      {"EPSG:0", 0, 2180}};   // no zone chosen yet
  for (const auto& [name, zone, expected] : cases) EXPECT_EQ(epsgFromSrsName(name, zone), expected) << name << " " << zone;
}

TEST(Projections, RejectsNonPl2000Codes) {
  for (int bad : {0, 2175, 2180, 4326}) {
    EXPECT_THROW(pl1992ToPl2000(500000, 500000, bad), std::invalid_argument);
    EXPECT_THROW(pl2000ToWgs84(6500000, 5700000, bad), std::invalid_argument);
    EXPECT_THROW(pl2000ToPl1992(6500000, 5700000, bad), std::invalid_argument);
  }
}

TEST(LocalAffine, ExactAtCentreAndCloseToRigorousInFrame) {
  const double minE = 630000, minN = 480000, maxE = 640000, maxN = 490000;
  const LocalAffine a = makeLocalAffine(minE, minN, maxE, maxN, 2178);
  EXPECT_EQ(applyLocalAffine(a, 635000, 485000), pl1992ToPl2000(635000, 485000, 2178));
  // Near-rotation with a scale close to one.
  EXPECT_NEAR(a.dEdE, a.dNdN, 1e-6);
  EXPECT_NEAR(a.dNdE, -a.dEdN, 1e-6);
  // The error grows with the square of the distance from the centre: centimetres at the corner of a
  // 10 km frame, a few millimetres at 700 m.
  for (const auto& [e, n, tolerance] : {std::tuple{maxE, maxN, 0.15}, std::tuple{a.cE + 500, a.cN + 500, 0.003}}) {
    const auto [approxE, approxN] = applyLocalAffine(a, e, n);
    const auto [exactE, exactN] = pl1992ToPl2000(e, n, 2178);
    EXPECT_NEAR(approxE, exactE, tolerance) << e;
    EXPECT_NEAR(approxN, exactN, tolerance) << e;
  }
}

TEST(Bbox, FromWgs84TakesExtremesOfAllCorners) {
  const Bbox b = bboxFromWgs84(20.9, 52.1, 21.1, 52.3);
  const std::pair<double, double> corners[] = {wgs84ToPl1992(52.1, 20.9), wgs84ToPl1992(52.3, 20.9),
                                               wgs84ToPl1992(52.1, 21.1), wgs84ToPl1992(52.3, 21.1)};
  for (const auto& [e, n] : corners) {
    EXPECT_LE(b.minX, e);
    EXPECT_GE(b.maxX, e);
    EXPECT_LE(b.minY, n);
    EXPECT_GE(b.maxY, n);
  }
  // East of the central meridian the grid is rotated: the minimum northing is at the SW corner,
  // the maximum easting at the SE corner.
  EXPECT_EQ(b.minY, wgs84ToPl1992(52.1, 20.9).second);
  EXPECT_EQ(b.maxX, wgs84ToPl1992(52.1, 21.1).first);
  EXPECT_EQ(b.maxY, wgs84ToPl1992(52.3, 21.1).second);
}

}  // namespace
}  // namespace veldra
