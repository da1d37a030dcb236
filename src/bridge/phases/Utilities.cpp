// Utility networks: the county GESUT WFS, else its WMS as pictures, else
// (no county service at all) the national KIUT cascade.
#include "bridge/phases/Phases.h"

#include "formats/GmlParser.h"
#include "net/Capabilities.h"
#include "net/RasterTiles.h"

namespace veldra {

void fetchUtilities(FetchContext& ctx, FetchedData& data) {
  using namespace phase_support;
  const std::string code = ctx.municipality();
  const ServiceAddresses svc = findService(ctx.localServices(), ServiceKind::Gesut, code);
  std::size_t found = 0;
  if (!svc.wfs.empty()) {
    HttpResponse caps = ctx.client().get(capabilitiesUrl(svc.wfs, "WFS"));
    if (caps.status == 200) {
      for (const auto& type : gesutWfsTypes(caps.body)) {
        // Tiles of the frame in the first request variant (2.0.0, northing
        // first, EPSG 2180) only: the variant search and its whole-layer
        // download would pull a county-wide network layer.
        const std::string gml = ctx.ogc().getFeaturesTiled(svc.wfs, type, ctx.frame(), ctx.tileProgress("GESUT (WFS)"),
                                                           true, false, 2180);
        for (auto& f : removeDuplicateFeatures(GmlParser::parseFeatureCollection(gml, DataType::Gesut))) {
          f.attributes["rodzajSieci"] = type;
          data.features.push_back(std::move(f));
          ++found;
        }
      }
    }
  }
  if (found > 0) return;
  if (!svc.wms.empty()) {
    const std::string caps = wmsCapabilities(ctx, svc.wms);
    int tiles = 0;
    if (!caps.empty()) {
      std::vector<std::string> layers = wmsLayerChoice(caps, DataType::Gesut);
      if (layers.empty()) layers = wmsLayerChoice(caps, DataType::Mpzp);   // every layer
      if (!layers.empty())
        tiles = rasterTiles(ctx, data, svc.wms, joinNames(layers), countyRasterDensity(ctx.request().rasterScale),
                            DataType::Gesut, epsgFromSrsName(caps, ctx.request().zone));
    }
    ctx.note(tiles > 0 ? "GESUT jako rastr (WMS powiatowy) - brak WFS lub brak przewodow w WFS."
                       : "GESUT: powiatowa usluga nie odpowiada.");
  } else if (svc.wfs.empty()) {
    for (const auto& n : utilitiesFromKiut(cascadeContext(ctx, data)).notes) ctx.note(n);
  }
}

}  // namespace veldra
