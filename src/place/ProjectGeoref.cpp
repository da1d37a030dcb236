#include "place/ProjectGeoref.h"

#include <cmath>

#include "geo/Projections.h"

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
