#include "place/ProjectGeoref.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "geo/Projections.h"
#include "platform/Paths.h"

namespace veldra {

GeorefReading readProjectGeoref(Host& host) {
  GeorefReading r;
  GeoLocation loc;
  if (host.readGeoLocation(loc) != kHostOk) {
    r.message = "Nie mozna odczytac georeferencji projektu (GeoLocation).";
    return r;
  }
  r.record = loc;
  r.recordRead = true;
  if (loc.surveyEasting == 0.0 && loc.surveyNorthing == 0.0) {
    if (loc.latitude == 0.0 && loc.longitude == 0.0) {
      r.message =
          "Projekt nie ma georeferencji. Kliknij \"Ustaw lokalizacje projektu wg mapy\" w palecie GIS Import "
          "(albo ustaw Survey Point: Opcje > Preferencje projektu > Georeferencja).";
      return r;
    }
    auto [e, n] = wgs84ToPl1992(loc.latitude, loc.longitude);
    r.georef = ProjectGeoref{e, n, loc.northDirection, loc.surveyX0, loc.surveyY0, true};
    r.epsg = 2180;
    r.quality = GeorefQuality::Approximate;
    r.message = "Georeferencja przyblizona (z lokalizacji projektu, nie Survey Pointu).";
    return r;
  }
  double a = 0.0;
  if (loc.xAxisAbscissa != 0.0 || loc.xAxisOrdinate != 0.0) a = std::atan2(loc.xAxisOrdinate, loc.xAxisAbscissa);
  r.georef = ProjectGeoref{loc.surveyEasting, loc.surveyNorthing, a, loc.surveyX0, loc.surveyY0, true};
  r.quality = GeorefQuality::Full;
  int code = findPlEpsgInText(loc.crsName);
  if (code == 0) {
    r.epsg = 2180;
    if (!loc.crsName.empty())
      r.message = "Uwaga: nieobslugiwany CRS projektu \"" + loc.crsName +
                  "\". Import zaklada uklad PL-2000/PL-1992 - sprawdz georeferencje.";
  } else {
    r.epsg = code;
  }
  return r;
}

Point2 toLocal(const ProjectGeoref& g, double E, double N) {
  const double dE = E - g.E0;
  const double dN = N - g.N0;
  const double c = std::cos(g.a);
  const double s = std::sin(g.a);
  return Point2{c * dE + s * dN + g.x0, c * dN - s * dE + g.y0};
}

}  // namespace veldra

// ---- placement check, z anchor, origin ---------------------------------------


namespace veldra {

namespace {

constexpr const char* kGeoDiagFile = "orvane_geo_diag.txt";

bool isPl2000(int epsg) { return epsg >= kEpsgPl2000First && epsg <= kEpsgPl2000Last; }

// Whole units, truncated toward zero; non-finite values print as 0.
std::string truncated(double v) {
  if (!std::isfinite(v)) return "0";
  if (v > 9e18 || v < -9e18) return v > 0 ? "9000000000000000000" : "-9000000000000000000";
  return std::to_string(static_cast<long long>(v));
}

std::string num(double v) {
  std::ostringstream s;
  s.precision(15);
  s << v;
  return s.str();
}

}  // namespace

std::string fixed6(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.6f", v);
  return buf;
}

double lowestTerrainZ(const std::vector<Point3>& points, double start) {
  double m = start;
  for (const auto& p : points)
    if (std::isfinite(p.z) && p.z < m) m = p.z;
  return m;
}

PlacementGeorefResult checkPlacementGeoref(Host& host, const PlacementGeorefInput& in) {
  PlacementGeorefResult out;
  const GeorefReading r = readProjectGeoref(host);
  out.georef = r.georef;
  if (isPl2000(r.epsg)) {
    out.zone = r.epsg;
  } else {
    out.zone = isPl2000(in.currentZone) ? in.currentZone : pl2000ZoneForLongitude(19.0);
    if (r.quality != GeorefQuality::None) {
      auto [e, n] = pl1992ToPl2000(r.georef.E0, r.georef.N0, out.zone);
      out.georef.E0 = e;
      out.georef.N0 = n;
    }
  }

  if (r.quality == GeorefQuality::None) {
    out.refused = true;
    out.error = r.message;
    return out;
  }
  const auto [cE, cN] =
      pl1992ToPl2000((in.frameMinX + in.frameMaxX) / 2.0, (in.frameMinY + in.frameMaxY) / 2.0, out.zone);
  const double d = std::hypot(out.georef.E0 - cE, out.georef.N0 - cN) / 1000.0;
  // A distance that is not a number cannot be judged, so it counts as too far.
  const bool far2 = !(d <= 2.0);
  const bool far50 = !(d <= 50.0);
  if (r.quality == GeorefQuality::Approximate && far2) {
    out.refused = true;
    out.error = "Georeferencja projektu jest przyblizona i lezy " + truncated(d) +
                " km od pobranego obszaru. Kliknij \"Ustaw lokalizacje projektu wg mapy\" i sprobuj ponownie.";
    return out;
  }
  if (r.quality == GeorefQuality::Full) {
    if (far50)
      out.notices.push_back("Uwaga: pobrany obszar lezy " + truncated(d) +
                            " km od Survey Pointu projektu - elementy beda daleko od zera projektu.");
    if (!r.message.empty()) out.notices.push_back(r.message);
  }

  // Z anchor.
  const double hStart = r.recordRead ? r.record.surveyHeight : 0.0;
  double h = std::isfinite(hStart) ? hStart : 0.0;
  double minZ = 1e18;
  bool wrote = false;
  bool writeOk = false;
  double ohAfter = h;
  if (h == 0.0) {
    if (in.hasZAnchor && in.zAnchor != 0.0 && std::isfinite(in.zAnchor)) {
      h = in.zAnchor;
    } else if (in.gridTerrainSets + in.cloudTerrainSets > 0) {
      minZ = in.terrainMinZ;
      if (std::isfinite(minZ) && minZ < 1e17) {
        h = minZ;
        out.zAnchorChanged = true;
        out.newZAnchor = h;
        GeoLocation loc;
        if (host.readGeoLocation(loc) == kHostOk) {
          loc.surveyHeight = h;
          wrote = true;
          writeOk = host.writeGeoLocation(loc) == kHostOk;
          GeoLocation after;
          if (host.readGeoLocation(after) == kHostOk) ohAfter = after.surveyHeight;
        }
        out.notices.push_back("Rzedna projektu = najnizszy punkt terenu (" + truncated(h) +
                              " m npm) = 0 projektu; zapisana w ustawieniach. Kolejne importy spojne Z.");
      }
    }
  }
  out.terrainZOffset = h;

  std::string line = "ohZ_georef_start=" + num(hStart) + " minZ_liczony=" + num(minZ) +
                     " zAnchor(settings)=" + num(in.hasZAnchor ? in.zAnchor : 0.0) +
                     " hasZAnchor=" + (in.hasZAnchor ? "1" : "0") + " SetGeoLocation_ok=" +
                     (wrote ? (writeOk ? "1" : "0") : "-") + " ohAfterSet=" + num(ohAfter) +
                     " terrainZOffset=" + num(h) + " terenNMT=" + std::to_string(in.gridTerrainSets) +
                     " terenChmura=" + std::to_string(in.cloudTerrainSets);
  platform::appendDiagLine("orvane_z_diag.txt", line);
  return out;
}

OriginWriteResult writeProjectOrigin(Host& host, double lat, double lon) {
  OriginWriteResult out;
  if (!std::isfinite(lat) || !std::isfinite(lon)) {
    out.error = "Brak wspolrzednych srodka mapy";
    return out;
  }
  const int zone = pl2000ZoneForLongitude(lon);
  const auto [e92, n92] = wgs84ToPl1992(lat, lon);
  const auto [E, N] = pl1992ToPl2000(e92, n92, zone);
  out.zone = zone;
  out.E = E;
  out.N = N;
  if (!std::isfinite(E) || !std::isfinite(N)) {
    out.error = "Brak wspolrzednych srodka mapy";
    return out;
  }

  GeoLocation read;
  if (host.readGeoLocation(read) != kHostOk) {
    out.error = "Nie mozna odczytac georeferencji projektu";
    return out;
  }
  const auto withPoint = [&](GeoLocation g) {
    g.crsName = "EPSG:" + std::to_string(zone);
    g.surveyEasting = E;
    g.surveyNorthing = N;
    g.surveyHeight = 0.0;
    g.xAxisAbscissa = 1.0;
    g.xAxisOrdinate = 0.0;
    g.scale = 1.0;
    return g;
  };
  GeoLocation full = withPoint(read);
  full.geodeticDatum = "ETRF2000 (PL-ETRF2000)";
  full.verticalDatum = "PL-EVRF2007-NH";
  full.mapProjection = "PL-2000";
  full.mapZone = std::to_string(zone - 2171);
  GeoLocation noDesc = withPoint(read);
  noDesc.crsDescription.clear();
  noDesc.geodeticDatum.clear();
  noDesc.verticalDatum.clear();
  noDesc.mapProjection.clear();
  noDesc.mapZone.clear();
  GeoLocation minimum = noDesc;
  minimum.crsName.clear();

  const GeoLocation* tries[3] = {&full, &noDesc, &minimum};
  for (int level = 0; level < 3; ++level) {
    out.lastCode = host.writeGeoLocation(*tries[level]);
    if (out.lastCode == kHostOk) {
      out.level = level;
      break;
    }
  }

  std::string diag = "SetGeoLocation: koncowy_err=" + std::to_string(out.lastCode) +
                     " poziom_ktory_przeszedl=" + std::to_string(out.level) +
                     " (0=pelny,1=bez-opisow-CRS,2=minimum,-1=wszystkie-padly)\n" + "  lat=" + num(lat) +
                     " lon=" + num(lon) + " zone=" + std::to_string(zone) + " E=" + num(E) + " N=" + num(N) +
                     " H=0\n" + "  APIERR czeste: -2130311=BADID -2130313=BADPARS -2130315=BADINDEX -2110145=NOTSUPPORTED\n";
  platform::rewriteDiagFile(kGeoDiagFile, diag);

  if (out.level < 0) {
    out.error = "Nie udalo sie zapisac georeferencji projektu (kod " + std::to_string(out.lastCode) +
                "). Szczegoly: " + (platform::diagDir() / kGeoDiagFile).string() +
                ". Ustaw lokalizacje recznie: Opcje > Preferencje projektu > Georeferencja.";
    return out;
  }
  out.ok = true;
  out.reportLine = "VELDRA: ustawiono georeferencje projektu: E=" + fixed6(E) + " N=" + fixed6(N) +
                   " (PL-2000, EPSG:" + std::to_string(zone) + ")" + " H=" + fixed6(0.0) +
                   " m n.p.m. (PL-EVRF2007-NH)";
  return out;
}

HostErr writeOriginHeight(Host& host, double height) {
  if (!std::isfinite(height)) return kHostErrBadParameters;
  GeoLocation loc;
  if (HostErr rc = host.readGeoLocation(loc); rc != kHostOk) return rc;
  loc.surveyHeight = height;
  loc.altitude = height;
  return host.writeGeoLocation(loc);
}

}  // namespace veldra
