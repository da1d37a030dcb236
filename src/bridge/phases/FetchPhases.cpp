#include "bridge/phases/Phases.h"

#include <algorithm>

#include "cloud/LidarResolver.h"
#include "net/RasterTiles.h"

namespace veldra {

const std::vector<FetchPhase>& fetchPhases() {
  static const std::vector<FetchPhase> phases = {
      {"dzialki i budynki", {"dzialki", "budynki"}, fetchCadastre},
      {"plan ogolny", {"pog"}, fetchGeneralPlan},
      {"plany miejscowe", {"mpzp"}, fetchLocalPlans},
      {"sieci uzbrojenia", {"gesut"}, fetchUtilities},
      {"mapa zasadnicza", {"bdot500"}, fetchBaseMap},
      {"ortofotomapa", {"rastr"}, fetchOrthophoto},
      {"teren NMT", {"teren"}, fetchNmtTerrain},
      {"powierzchnie z chmury", {"terenchmura", "poziomicechmura", "wodachmura"}, fetchCloudSurfaces},
      {"budynki LOD1", {"budynki3d", "dachychmura", "budynkindsm", "budynkirekon"}, fetchLod1Buildings},
      {"budynki z nMPT", {"budynkindsm"}, fetchNdsmBuildings},
      {"mosty i drogi", {"mosty", "drogi"}, fetchBridgesAndRoads},
      {"budynki LOD2", {"budynkilod2"}, fetchLod2Buildings},
      {"dachy z chmury", {"dachychmura"}, fetchCloudRoofs},
      {"rekonstrukcja LOD2", {"budynkirekon"}, fetchLod2Reconstruction},
      {"poziomice NMT", {"poziomice2d", "poziomice3d"}, fetchNmtContours},
  };
  return phases;
}

FetchedData runFetchPhases(FetchContext& ctx) {
  FetchedData data;
  for (const auto& phase : fetchPhases()) {
    if (ctx.cancelled()) break;
    if (std::none_of(phase.keys.begin(), phase.keys.end(), [&](std::string_view k) { return ctx.has(k); })) continue;
    const std::size_t before = ctx.notesSize();
    phase.run(ctx, data);
    // A cancelled download looks like a missing service to the phase: its
    // notes would blame the service, so they go.
    if (ctx.cancelled()) ctx.dropNotesAfter(before);
  }
  if (ctx.cancelled()) ctx.note(kFetchCancelledNote);
  data.warning = ctx.takeNotes();
  return data;
}

namespace phase_support {

double countyRasterDensity(int rasterScale) {
  const int s = (rasterScale < 100 || rasterScale > 10000) ? 1000 : rasterScale;
  return s * 0.00028;
}

std::string wmsCapabilities(FetchContext& ctx, const std::string& wms) {
  HttpResponse r = ctx.client().get(capabilitiesUrl(wms, "WMS"));
  return r.status == 200 ? std::move(r.body) : std::string();
}

int rasterTiles(FetchContext& ctx, FetchedData& data, const std::string& wms, const std::string& layers,
                double metresPerPixel, DataType type, int epsg) {
  const RasterFetchResult r = fetchRasterTiles(ctx.client(), ctx.frame(), wms, layers, metresPerPixel, type, epsg,
                                               data.rasters, [&ctx](const std::string& line) { ctx.report(line); });
  ctx.note(r.notice);
  return r.tiles;
}

CascadeContext cascadeContext(FetchContext& ctx, FetchedData& data) {
  return {ctx.client(), ctx.frame(), countyRasterDensity(ctx.request().rasterScale), ctx.request().zone,
          data.rasters, [&ctx](const std::string& line) { ctx.report(line); }};
}

std::optional<FrameCloud> outlineCloud(FetchContext& ctx, const std::string& prefix) {
  FrameCloudOptions options;
  options.progressLabel = prefix + "pobieranie kafli LiDAR";
  FrameCloud cloud = gatherFrameCloud(LidarResolver(ctx.client()), ctx.frame(), options, ctx.progressFn());
  if (cloud.downloadedTiles == 0) {
    ctx.note(prefix + "brak danych LiDAR dla tego obszaru.");
    return std::nullopt;
  }
  if (cloud.points.empty()) {
    ctx.note(prefix + "chmura pusta w kadrze.");
    return std::nullopt;
  }
  if (cloud.truncated) ctx.note(prefix + "limit punktow osiagniety - czesc kafli pominieto, zmniejsz kadr.");
  return cloud;
}

std::string joinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) {
    if (!out.empty()) out += ',';
    out += n;
  }
  return out;
}

}  // namespace phase_support

}  // namespace veldra
