// GeoJSON (RFC 7946, WGS84 lon/lat) preview of fetched 2D features for the map page.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "formats/GisFeature.h"

namespace veldra {

// "_kind" property the page styles by: dzialka, budynek, mpzp, pog, gesut, rastr or inne.
std::string geoJsonKind(DataType type);

// Compact, pure-ASCII FeatureCollection; features without geometry are left out.
std::string toGeoJson(const std::vector<GisFeature>& features);

// The same text written to a stream as it is produced.
void writeGeoJson(std::ostream& out, const std::vector<GisFeature>& features);

}  // namespace veldra
