// Which municipality (TERYT) a frame lies in, from the national register of
// boundaries, and the county and municipal service directories compiled into
// the program from data/services/*.tsv.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "geo/Bbox.h"
#include "geo/Point.h"
#include "net/WfsClient.h"

namespace veldra {

// key: 4-digit county or 6-digit municipality TERYT code; either address may be empty.
struct ServiceRecord {
  std::string_view key;
  std::string_view wms;
  std::string_view wfs;
};

// Rows in ascending key order.
using ServiceDirectory = std::span<const ServiceRecord>;

extern const ServiceDirectory countyEgibServices;     // key: county (4 digits)
extern const ServiceDirectory countyBdot500Services;  // key: county (4 digits)
extern const ServiceDirectory countyGesutServices;    // key: county (4 digits)
extern const ServiceDirectory municipalPlanServices;  // key: municipality (6 digits)

struct ServiceAddresses {
  std::string wms;
  std::string wfs;
};

// The first row whose key equals the first keyLength characters of `code`;
// two empty texts when the code is shorter or no row matches.
ServiceAddresses lookupService(ServiceDirectory directory, std::string_view code, std::size_t keyLength);

// The import controller's record of the last municipality found.
struct MunicipalityCache {
  std::string code;            // 6 digits, empty until one was found
  Point2 centre;               // PL-1992 centre of the frame it was found for
  std::string layer;           // boundaries layer; empty means the default
  bool capabilitiesProbed = false;
};

// Default PRG layer of municipality boundaries.
inline constexpr std::string_view kMunicipalityBoundariesLayer = "ms:A03_Granice_gmin";

// TERYT code (6 digits) of the municipality under the frame centre, or empty.
// A frame whose centre lies within 10 km of the cached one reuses its code
// without a request.
std::string resolveMunicipality(WfsClient& client, MunicipalityCache& cache, const Bbox& frame);

// One GetFeature on `layer` for a 2 m frame around the centre: the first
// attribute whose key holds "teryt" or "kod" and whose value is 6 or 7 digits.
std::string queryMunicipalityCode(WfsClient& client, const std::string& layer, const Point2& centre);

// Score of a boundaries layer name: 0 without "gmin" or with "obrony", 2 with
// "granice", else 1. The first name of the highest score above 0 wins; empty
// when none scores.
std::string chooseBoundariesLayer(std::string_view capabilities);

}  // namespace veldra
