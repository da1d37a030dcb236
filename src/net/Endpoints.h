// Public service addresses, by role, and the address rewrite applied inside
// the transport. No other file names a service host (the county and municipal
// service directories excepted).
//
// VELDRA_ENDPOINTS names a JSON file
//   {"rewrite": [["https://mapy.geoportal.gov.pl", "http://127.0.0.1:8123/mapy"], ...],
//    "strict": false}
// Every requested URL that starts with a `from` prefix has it replaced by the
// `to` prefix (first match wins). With "strict": true a URL matching no rule
// is refused, so a test run can never reach a public service. A file that
// cannot be read or parsed makes every request fail: it is never ignored.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veldra::endpoints {

enum class Service {
  // national geoportal, map services
  PrgBoundariesWfs,       // administrative boundaries, WFS 2.0
  NmtIndexWfs,            // elevation model index, EVRF2007
  NmptIndexWfs,           // surface model index, EVRF2007
  LidarIndexWfs,          // LiDAR sheet index, EVRF2007
  NmtIndexKron86Wfs,
  NmptIndexKron86Wfs,
  LidarIndexKron86Wfs,
  OrthoWms,               // orthophoto, standard resolution
  OrthoHighResWms,
  Bdot10kNewBuildingsWfs,
  EgibCollectiveWfs,      // national collective cadastre WFS
  CountyEgibProxy,        // + "/" + TERYT4
  KimpzpWms,              // national local-plan cascade
  PogWms,                 // municipal general plans
  KiappWms,               // national planning-acts WMS
  // national integration cascades
  KiegWms,                // cadastre cascade
  KiutWms,                // utilities cascade
  KibdotWms,              // base-map cascade
  UldkApi,                // parcel lookup
  // national open-data download host
  OpendataDownload,       // LAZ/ASC files
  Buildings3dLod1,        // + "/<year>/<woj>/<powiat>.zip"
  Buildings3dLod2,        // + "/<powiat>_gml.zip"
  // urban-planning registry
  RegistryBase,
  RegistryQuery,          // POST JSON
  RegistryUnitTree,
  RegistryPogWfs,
  RegistryPogWms,
  RegistryMpzpWfs,
  RegistryMpzpWms,
  // OpenStreetMap side
  PhotonApi,
  NominatimSearch,
  OverpassInterpreter,
  OverpassFallback,
  BasemapStyleBright,
};

// Base address of a service (no trailing slash unless the service needs one).
const std::string& url(Service s);

// Origins ("https://host") of the public services above, each with a short
// alias; a fixture server maps origin -> http://127.0.0.1:PORT/alias.
struct PublicHost {
  std::string alias;
  std::string origin;
};
const std::vector<PublicHost>& publicHosts();

struct RewriteRule {
  std::string from;
  std::string to;
};

struct RewriteTable {
  std::vector<RewriteRule> rules;
  bool strict = false;
  std::string error;  // non-empty: the configuration is unusable, refuse every request
};

// Strict table sending every public origin to `base` + "/" + alias.
RewriteTable loopbackRewrites(const std::string& base);
// The JSON text of a table, as read by parseRewriteTable.
std::string rewriteTableJson(const RewriteTable& table);

// Parses the JSON text of a rewrite file; problems are reported in `error`.
RewriteTable parseRewriteTable(std::string_view jsonText);
// Reads and parses a rewrite file.
RewriteTable loadRewriteTable(const std::string& path);

struct RoutedUrl {
  std::string url;    // the address to contact
  std::string error;  // non-empty: do not contact anything
};

// Applies a table to one URL.
RoutedUrl applyRewrite(const RewriteTable& table, const std::string& url);
// Applies the process table: VELDRA_ENDPOINTS, read on first use, or the
// table installed by setProcessRewriteTable.
RoutedUrl route(const std::string& url);
// Replaces the process table (tests, embedding); nullopt returns to VELDRA_ENDPOINTS.
void setProcessRewriteTable(std::optional<RewriteTable> table);

}  // namespace veldra::endpoints
