// The project's georeference as read from the host's geolocation record.
#pragma once

#include <string>

#include "place/Host.h"

namespace veldra {

struct ProjectGeoref {
  double E0 = 0.0, N0 = 0.0;   // origin in the project's PL-2000 zone (or PL-1992)
  double a = 0.0;              // rotation, radians
  double x0 = 0.0, y0 = 0.0;   // project coordinates of the origin
  bool valid = false;
};

enum class GeorefQuality : int { None = 0, Approximate = 1, Full = 2 };

struct GeorefReading {
  GeorefQuality quality = GeorefQuality::None;
  ProjectGeoref georef;
  std::string message;
  int epsg = 2180;
  GeoLocation record;   // the record as read (valid when quality != None or the read succeeded)
  bool recordRead = false;
};

GeorefReading readProjectGeoref(Host& host);

// Project coordinates of a point in the georeference's system.
Point2 toLocal(const ProjectGeoref& g, double E, double N);

}  // namespace veldra
