// The county BDOT500 base map as pictures from its WMS, or from the national
// KIBDOT cascade where the county has none.
#include "bridge/phases/Phases.h"

#include "net/Capabilities.h"
#include "net/RasterTiles.h"

namespace veldra {

void fetchBaseMap(FetchContext& ctx, FetchedData& data) {
  using namespace phase_support;
  const std::string code = ctx.municipality();
  const std::string wms = findService(ctx.localServices(), ServiceKind::Bdot500, code).wms;
  if (wms.empty()) {
    for (const auto& n : baseMapFromKibdot(cascadeContext(ctx, data)).notes) ctx.note(n);
    return;
  }
  const std::string caps = wmsCapabilities(ctx, wms);
  int tiles = 0;
  if (!caps.empty()) {
    std::vector<std::string> layers = wmsLayerChoice(caps, DataType::Bdot500);
    if (layers.empty()) layers = wmsLayerChoice(caps, DataType::Mpzp);   // every layer
    if (!layers.empty())
      tiles = rasterTiles(ctx, data, wms, joinNames(layers), countyRasterDensity(ctx.request().rasterScale),
                          DataType::Bdot500, epsgFromSrsName(caps, ctx.request().zone));
  }
  if (tiles == 0) ctx.note("BDOT500: usluga WMS nie odpowiada.");
}

}  // namespace veldra
