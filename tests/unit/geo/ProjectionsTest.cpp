#include "geo/Bbox.h"
#include "geo/Projections.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace veldra {
namespace {

TEST(Pl2000Zone, BoundariesBelongToTheEasternZone) {
  EXPECT_EQ(pl2000ZoneForLongitude(14.0), 2176);
  EXPECT_EQ(pl2000ZoneForLongitude(16.4999), 2176);
  EXPECT_EQ(pl2000ZoneForLongitude(16.5), 2177);
  EXPECT_EQ(pl2000ZoneForLongitude(19.4999999), 2177);
  EXPECT_EQ(pl2000ZoneForLongitude(19.5), 2178);
  EXPECT_EQ(pl2000ZoneForLongitude(22.4999), 2178);
  EXPECT_EQ(pl2000ZoneForLongitude(22.5), 2179);
  EXPECT_EQ(pl2000ZoneForLongitude(25.0), 2179);
}

TEST(FindPlEpsgInText, TriesCodesInFixedOrder) {
  EXPECT_EQ(findPlEpsgInText("ETRF2000-PL / CS2000/18 (EPSG:2177)"), 2177);
  EXPECT_EQ(findPlEpsgInText("2180 and 2178"), 2178);
  EXPECT_EQ(findPlEpsgInText("urn:ogc:def:crs:EPSG::2176"), 2176);
  EXPECT_EQ(findPlEpsgInText("EPSG:4326 WGS 84"), 0);
  EXPECT_EQ(findPlEpsgInText("217"), 0);
}

TEST(EpsgFromSrsName, CurrentZoneOnlyWhenNamedOtherwisePl1992) {
  EXPECT_EQ(epsgFromSrsName("urn:ogc:def:crs:EPSG::2178", 2178), 2178);
  EXPECT_EQ(epsgFromSrsName("urn:ogc:def:crs:EPSG::2178", 2177), 2180);
  EXPECT_EQ(epsgFromSrsName("EPSG:2177", 2177), 2177);
  EXPECT_EQ(epsgFromSrsName("http://www.opengis.net/def/crs/EPSG/0/2177", 2177), 2180);  // no ':' before digits
  EXPECT_EQ(epsgFromSrsName("urn:x-ogc:def:crs:EPSG:6.9:2176", 2176), 2176);
  EXPECT_EQ(epsgFromSrsName("EPSG:2180", 2178), 2180);
  EXPECT_EQ(epsgFromSrsName("EPSG:0", 0), 2180);  // no zone chosen yet
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
  const auto [ce, cn] = applyLocalAffine(a, 635000, 485000);
  EXPECT_EQ(std::pair(ce, cn), pl1992ToPl2000(635000, 485000, 2178));
  // Near-rotation with a scale close to one.
  EXPECT_NEAR(a.dEdE, a.dNdN, 1e-6);
  EXPECT_NEAR(a.dNdE, -a.dEdN, 1e-6);
  // The error grows with the square of the distance from the centre: centimetres at the corner of a
  // 10 km frame, a few millimetres at 700 m.
  const auto approx = applyLocalAffine(a, maxE, maxN);
  const auto exact = pl1992ToPl2000(maxE, maxN, 2178);
  EXPECT_NEAR(approx.first, exact.first, 0.15);
  EXPECT_NEAR(approx.second, exact.second, 0.15);
  const auto approxNear = applyLocalAffine(a, a.cE + 500, a.cN + 500);
  const auto exactNear = pl1992ToPl2000(a.cE + 500, a.cN + 500, 2178);
  EXPECT_NEAR(approxNear.first, exactNear.first, 0.003);
  EXPECT_NEAR(approxNear.second, exactNear.second, 0.003);
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
