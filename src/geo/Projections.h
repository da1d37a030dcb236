// Map projections between WGS84 (degrees), PL-1992 (EPSG 2180) and the PL-2000 zones (EPSG 2176-2179).
// Planar coordinates are always (easting, northing) in metres. Pure functions, no state.
#pragma once

#include <string_view>
#include <utility>

namespace veldra {

// First-order approximation of PL-1992 -> PL-2000 around a frame centre, used to move whole data sets.
struct LocalAffine {
  double cE = 0, cN = 0;        // PL-1992 centre
  double pE = 0, pN = 0;        // its PL-2000 image
  double dEdE = 1, dNdE = 0;    // dE2000/dE1992, dN2000/dE1992
  double dEdN = 0, dNdN = 1;    // dE2000/dN1992, dN2000/dN1992
};

inline constexpr int kEpsgPl1992 = 2180;
inline constexpr int kEpsgPl2000First = 2176;
inline constexpr int kEpsgPl2000Last = 2179;

std::pair<double, double> wgs84ToPl1992(double lat, double lon);                  // (E, N)
std::pair<double, double> pl1992ToWgs84(double E, double N);                      // (lat, lon)
std::pair<double, double> pl1992ToPl2000(double E, double N, int epsg);           // (E, N)
std::pair<double, double> pl2000ToWgs84(double E, double N, int epsg);            // (lat, lon)
std::pair<double, double> pl2000ToPl1992(double E, double N, int epsg);           // (E, N)

// 2176 below 16.5, 2177 below 19.5, 2178 below 22.5, else 2179 (boundaries go east).
int pl2000ZoneForLongitude(double lon);

// First of 2176, 2177, 2178, 2179, 2180 whose digits occur in the text; 0 if none.
int findPlEpsgInText(std::string_view text);

// currentZone if the name carries its code ("EPSG:z" or ":z", URN forms included), else 2180.
int epsgFromSrsName(std::string_view srsName, int currentZone);

LocalAffine makeLocalAffine(double minE, double minN, double maxE, double maxN, int zoneEpsg);
std::pair<double, double> applyLocalAffine(const LocalAffine& a, double E, double N);

}  // namespace veldra
