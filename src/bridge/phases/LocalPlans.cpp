// Local plan drawings as pictures from the municipality's WMS, or from the
// national KIMPZP cascade where the municipality has none.
#include "bridge/phases/Phases.h"

#include "net/Capabilities.h"
#include "net/RasterTiles.h"

namespace veldra {

void fetchLocalPlans(FetchContext& ctx, FetchedData& data) {
  using namespace phase_support;
  const std::string code = ctx.municipality();
  if (code.empty()) {
    ctx.noteOnce("MPZP/POG pominiete: nie udalo sie ustalic gminy (TERYT) dla widoku.");
    return;
  }
  const std::string wms = findService(ctx.localServices(), ServiceKind::Plans, code).wms;
  if (wms.empty()) {
    for (const auto& n : plansFromKimpzp(cascadeContext(ctx, data), code).notes) ctx.note(n);
    return;
  }
  const std::string caps = wmsCapabilities(ctx, wms);
  const std::vector<std::string> layers =
      caps.empty() ? std::vector<std::string>{} : planDrawingLayers(wmsLayerChoice(caps, DataType::Mpzp));
  int tiles = 0;
  if (!layers.empty())
    tiles = rasterTiles(ctx, data, wms, joinNames(layers), countyRasterDensity(ctx.request().rasterScale),
                        DataType::Mpzp, epsgFromSrsName(caps, ctx.request().zone));
  ctx.note(tiles > 0 ? "MPZP: pobrano rysunek planu (rastr) z uslugi gminnej dla " + code + "."
                     : "MPZP gminy " + code + ": usluga WMS nie odpowiada albo nie ma rysunku planu.");
}

}  // namespace veldra
