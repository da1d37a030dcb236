// The project's georeference as read from the host's geolocation record.
#pragma once

#include <string>
#include <vector>

#include "hostapi/Host.h"

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

namespace veldra {

// What placement needs to know about the fetch and the stored height anchor.
struct PlacementGeorefInput {
  int currentZone = 2180;          // the import's PL-2000 zone
  double frameMinX = 0, frameMinY = 0, frameMaxX = 0, frameMaxY = 0;   // PL-1992
  double zAnchor = 0.0;
  bool hasZAnchor = false;
  // Lowest terrain height of the fetch (metres above sea level); only values
  // below 1e17 count as terrain.
  double terrainMinZ = 1e18;
  int gridTerrainSets = 0;
  int cloudTerrainSets = 0;
};

struct PlacementGeorefResult {
  bool refused = false;
  std::string error;                 // refusal text
  std::vector<std::string> notices;
  ProjectGeoref georef;              // origin moved into `zone`
  int zone = 2180;                   // PL-2000 zone the data is moved into
  double terrainZOffset = 0.0;
  // Set when the anchor was newly taken from the terrain: the caller stores it.
  bool zAnchorChanged = false;
  double newZAnchor = 0.0;
};

// Reads and validates the georeference, fixes the z anchor (writing it into the
// project record when newly taken) and writes "orvane_z_diag.txt".
PlacementGeorefResult checkPlacementGeoref(Host& host, const PlacementGeorefInput& in);

// Lowest finite z below 1e17 of the points, or 1e18.
double lowestTerrainZ(const std::vector<Point3>& points, double start = 1e18);

struct OriginWriteResult {
  bool ok = false;
  std::string error;       // when !ok
  int zone = 0;
  double E = 0.0, N = 0.0;
  int level = -1;          // 0 full, 1 without system descriptions, 2 minimum, -1 all failed
  HostErr lastCode = kHostOk;
  std::string reportLine;  // when ok
};

// Sets the project's georeference to the PL-2000 point of (lat, lon) with
// height 0, with two fallbacks when the host refuses the full record; rewrites
// "orvane_geo_diag.txt".
OriginWriteResult writeProjectOrigin(Host& host, double lat, double lon);

// Stores a looked-up terrain height as the survey point's height and the
// project location's altitude.
HostErr writeOriginHeight(Host& host, double height);

// "%.6f"
std::string fixed6(double v);

}  // namespace veldra
