#include "geo/Projections.h"

#include <cmath>
#include <stdexcept>
#include <string>

namespace veldra {
namespace {

// GRS80; WGS84 coordinates are used as they stand (no datum shift).
constexpr double kA = 6378137.0;
constexpr double kE2 = 0.006694380022900787;
constexpr double kEp2 = 0.006739496775478957;
constexpr double kPi = 3.141592653589793;
constexpr double kDeg = kPi / 180.0;

struct TmParams {
  double lon0;  // radians
  double k0;
  double fe;
  double fn;
};

constexpr TmParams kPl1992{19.0 * kDeg, 0.9993, 500000.0, -5300000.0};

TmParams pl2000Params(int epsg) {
  if (epsg < kEpsgPl2000First || epsg > kEpsgPl2000Last) throw std::invalid_argument("Nieobslugiwany EPSG PL-2000");
  return {((epsg - 2176) * 3 + 15) * kDeg, 0.999923, (epsg - 2171) * 1000000.0 + 500000.0, 0.0};
}

// Snyder's transverse Mercator series (USGS PP 1395), no iteration.
std::pair<double, double> tmForward(double latDeg, double lonDeg, const TmParams& p) {
  const double phi = latDeg * kDeg;
  const double lam = lonDeg * kDeg;
  const double s = std::sin(phi);
  const double c = std::cos(phi);
  const double t = s / c;
  const double N = kA / std::sqrt(1.0 - kE2 * s * s);
  const double T = t * t;
  const double H = kEp2 * c * c;
  const double A = (lam - p.lon0) * c;
  // sin 2phi, sin 4phi and sin 6phi from sin phi and cos phi (same values, fewer library calls).
  const double s2 = 2 * s * c, c2 = c * c - s * s;
  const double s4 = 2 * s2 * c2, c4 = c2 * c2 - s2 * s2;
  const double s6 = s4 * c2 + c4 * s2;
  const double M = kA * (0.9983242984445848 * phi - 0.0025146070728448195 * s2 + 2.6390466202308984e-6 * s4 -
                         3.418046136775213e-9 * s6);
  const double A2 = A * A, A3 = A2 * A, A4 = A3 * A, A5 = A4 * A, A6 = A5 * A;
  const double E = p.fe + p.k0 * N * (A + (1 - T + H) * A3 / 6 + (5 - 18 * T + T * T + 72 * H - 58 * kEp2) * A5 / 120);
  const double Nn = p.fn + p.k0 * (M + N * t *
                                           (A2 / 2 + (5 - T + 9 * H + 4 * H * H) * A4 / 24 +
                                            (61 - 58 * T + T * T + 600 * H - 330 * kEp2) * A6 / 720));
  return {E, Nn};
}

std::pair<double, double> tmInverseSeries(double E, double Nn, const TmParams& p) {
  static const double e1 = (1 - std::sqrt(1 - kE2)) / (1 + std::sqrt(1 - kE2));
  const double M = (Nn - p.fn) / p.k0;
  const double mu = M / 6367449.145908449;
  const double e1_2 = e1 * e1, e1_3 = e1_2 * e1, e1_4 = e1_3 * e1;
  const double sm = std::sin(mu), cm = std::cos(mu);
  const double s2 = 2 * sm * cm, c2 = cm * cm - sm * sm;
  const double s4 = 2 * s2 * c2, c4 = c2 * c2 - s2 * s2;
  const double s6 = s4 * c2 + c4 * s2;
  const double s8 = 2 * s4 * c4;
  const double phi1 = mu + (3 * e1 / 2 - 27 * e1_3 / 32) * s2 + (21 * e1_2 / 16 - 55 * e1_4 / 32) * s4 +
                      (151 * e1_3 / 96) * s6 + (1097 * e1_4 / 512) * s8;
  const double S = std::sin(phi1);
  const double C = std::cos(phi1);
  const double t1 = S / C;
  const double w = 1 - kE2 * S * S;
  const double sw = std::sqrt(w);
  const double N1 = kA / sw;
  const double R1 = 6335439.327083875 / (w * sw);
  const double T1 = t1 * t1;
  const double H1 = kEp2 * C * C;
  const double D = (E - p.fe) / (N1 * p.k0);
  const double D2 = D * D, D3 = D2 * D, D4 = D3 * D, D5 = D4 * D, D6 = D5 * D;
  const double phi = phi1 - (N1 * t1 / R1) *
                                (D2 / 2 - (5 + 3 * T1 + 10 * H1 - 4 * H1 * H1 - 9 * kEp2) * D4 / 24 +
                                 (61 + 90 * T1 + 298 * H1 + 45 * T1 * T1 - 252 * kEp2 - 3 * H1 * H1) * D6 / 720);
  const double lam = p.lon0 + (D - (1 + 2 * T1 + H1) * D3 / 6 +
                               (5 - 2 * H1 + 28 * T1 - 3 * H1 * H1 + 8 * kEp2 + 24 * T1 * T1) * D5 / 120) /
                                  C;
  return {phi / kDeg, lam / kDeg};
}

// The truncated inverse series drift from the forward series by up to about 1 cm at 5 degrees from the
// central meridian (Poland's edges in PL-1992), so one correction step against the forward series makes
// the pair consistent: round trips then agree to far below a millimetre.
std::pair<double, double> tmInverse(double E, double Nn, const TmParams& p) {
  auto [lat, lon] = tmInverseSeries(E, Nn, p);
  const auto f = tmForward(lat, lon, p);
  const double rE = E - f.first, rN = Nn - f.second;
  // The map is conformal: a grid displacement is the ground displacement (east dx, north dy) scaled
  // by k and turned by the convergence g. First-order k and g suffice for a centimetre residual.
  const double phi = lat * kDeg;
  const double s = std::sin(phi), c = std::cos(phi);
  const double dl = lon * kDeg - p.lon0;
  const double g = dl * s;
  const double k = p.k0 * (1.0 + 0.5 * dl * dl * c * c);
  const double cg = std::cos(g), sg = std::sin(g);
  const double dx = (cg * rE + sg * rN) / k;
  const double dy = (cg * rN - sg * rE) / k;
  const double w = 1.0 - kE2 * s * s;
  const double nu = kA / std::sqrt(w);
  const double rho = kA * (1.0 - kE2) / (w * std::sqrt(w));
  lat += dy / rho / kDeg;
  lon += dx / (nu * c) / kDeg;
  return {lat, lon};
}

bool containsCode(std::string_view text, std::string_view prefix, int code) {
  const std::string needle = std::string(prefix) + std::to_string(code);
  return text.find(needle) != std::string_view::npos;
}

}  // namespace

std::pair<double, double> wgs84ToPl1992(double lat, double lon) { return tmForward(lat, lon, kPl1992); }

std::pair<double, double> pl1992ToWgs84(double E, double N) { return tmInverse(E, N, kPl1992); }

std::pair<double, double> pl1992ToPl2000(double E, double N, int epsg) {
  const TmParams zone = pl2000Params(epsg);
  const auto [lat, lon] = tmInverse(E, N, kPl1992);
  return tmForward(lat, lon, zone);
}

std::pair<double, double> pl2000ToWgs84(double E, double N, int epsg) { return tmInverse(E, N, pl2000Params(epsg)); }

std::pair<double, double> pl2000ToPl1992(double E, double N, int epsg) {
  const auto [lat, lon] = tmInverse(E, N, pl2000Params(epsg));
  return tmForward(lat, lon, kPl1992);
}

int pl2000ZoneForLongitude(double lon) {
  if (lon < 16.5) return 2176;
  if (lon < 19.5) return 2177;
  if (lon < 22.5) return 2178;
  return 2179;
}

int findPlEpsgInText(std::string_view text) {
  for (int code = 2176; code <= 2180; ++code)
    if (containsCode(text, "", code)) return code;
  return 0;
}

int epsgFromSrsName(std::string_view srsName, int currentZone) {
  // A zone outside PL-2000 would turn the ":" rule into a match on arbitrary digits.
  if (currentZone < kEpsgPl2000First || currentZone > kEpsgPl2000Last) return kEpsgPl1992;
  if (containsCode(srsName, "EPSG:", currentZone)) return currentZone;
  if (containsCode(srsName, ":", currentZone)) return currentZone;
  return kEpsgPl1992;
}

LocalAffine makeLocalAffine(double minE, double minN, double maxE, double maxN, int zoneEpsg) {
  const double cE = (minE + maxE) / 2;
  const double cN = (minN + maxN) / 2;
  const auto p = pl1992ToPl2000(cE, cN, zoneEpsg);
  const auto px = pl1992ToPl2000(cE + 1.0, cN, zoneEpsg);
  const auto py = pl1992ToPl2000(cE, cN + 1.0, zoneEpsg);
  return {cE, cN, p.first, p.second, px.first - p.first, px.second - p.second, py.first - p.first, py.second - p.second};
}

std::pair<double, double> applyLocalAffine(const LocalAffine& a, double E, double N) {
  const double dE = E - a.cE;
  const double dN = N - a.cN;
  return {a.pE + dE * a.dEdE + dN * a.dEdN, a.pN + dE * a.dNdE + dN * a.dNdN};
}

}  // namespace veldra
