// The national integration services: WMS cascades that draw the utilities
// (KIUT), the BDOT500 base map (KIBDOT), the local plans (KIMPZP) and the
// cadastral map (KIEG) of every county or municipality that has joined them.
// The import uses them where the service directories (and the user's own
// services.tsv) hold no address of the office's own service.
//
// They answer areas they hold nothing for with a blank image (or, for KIMPZP,
// a municipal error with status 200): such answers count as no tile. Their
// capabilities are read once per process.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "formats/DataType.h"
#include "formats/RasterTile.h"
#include "geo/Bbox.h"
#include "net/Endpoints.h"
#include "net/LocalServices.h"
#include "net/OgcClient.h"
#include "net/WfsClient.h"

namespace veldra {

enum class NationalCascade { Kiut, Kibdot, Kimpzp, Kieg };

struct CascadeService {
  NationalCascade which;
  std::string_view name;        // as users know it: "KIUT"
  endpoints::Service endpoint;
  DataType type;                // whose layer rule picks the layers
  // Above 0: the finest rendering the layers need. The KIUT network layers
  // draw only at 1:1000 or larger, i.e. at most 0.28 m per pixel.
  double maxMetresPerPixel;
  WmsVersion versionWithoutCapabilities;
  // Layers asked for when the capabilities do not answer; empty: none, the
  // service is then taken as down.
  std::string_view layersWithoutCapabilities;
};

const CascadeService& cascadeService(NationalCascade which);

// The national service that stands in for an office whose own service the
// directories lack (utilities: neither WFS nor WMS; base map and local plans:
// no WMS); nullopt when the office's own service is used. No national service
// stands in for the cadastre WFS.
std::optional<NationalCascade> cascadeFor(ServiceKind kind, const ServiceAddresses& office);

// The capabilities text of the service, read on first use and kept for the
// process once it answered 200 with WMS capabilities; empty otherwise (a
// service that was down is asked again by the next fetch).
std::string cascadeCapabilities(WfsClient& client, NationalCascade which);

// How the frame is asked for.
struct CascadeRequest {
  WmsVersion version = WmsVersion::V111;
  int epsg = 2180;
  std::vector<std::string> layers;   // empty: nothing to ask for
};

// From the capabilities text (may be empty): version and system as offered,
// layers by the service's rule, without those that do not draw at the scale
// of `metresPerPixel` (OGC pixel of 0.28 mm).
CascadeRequest planCascadeRequest(NationalCascade which, std::string_view capabilities, double metresPerPixel,
                                  int projectZone);

struct CascadeContext {
  WfsClient& client;
  const Bbox& frame;
  double metresPerPixel;    // the density chosen for county renderings
  int projectZone;          // the import's PL-2000 zone
  std::vector<RasterTile>& rasters;
  std::function<void(const std::string&)> report;
};

struct CascadeOutcome {
  int tiles = 0;
  std::vector<std::string> notes;   // in order, for the fetch's notes
};

// Phase fallbacks: tiles appended to ctx.rasters, and the phase's note.
CascadeOutcome utilitiesFromKiut(const CascadeContext& ctx);
CascadeOutcome baseMapFromKibdot(const CascadeContext& ctx);
CascadeOutcome plansFromKimpzp(const CascadeContext& ctx, const std::string& municipality);

}  // namespace veldra
