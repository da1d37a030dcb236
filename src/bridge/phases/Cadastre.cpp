// Parcels and buildings from the county EGiB WFS; buildings fall back to the
// national BDOT10k new-buildings service.
#include "bridge/phases/Phases.h"

#include "formats/GmlParser.h"
#include "net/Endpoints.h"

namespace veldra {

namespace {
constexpr const char* kBdot10kBuildingsType = "ms:bud_2025";
}

void fetchCadastre(FetchContext& ctx, FetchedData& data) {
  const bool wantParcels = ctx.has("dzialki");
  const bool wantBuildings = ctx.has("budynki");
  const std::string code = ctx.municipality();
  const std::string county = code.substr(0, std::min<std::size_t>(4, code.size()));
  const std::string wfs = findService(ctx.localServices(), ServiceKind::Egib, code).wfs;
  OgcClient& ogc = ctx.ogc();
  std::vector<GisFeature> parcels;
  std::vector<GisFeature> buildings;
  if (wfs.empty()) {
    ctx.note(code.empty() ? "Nie udalo sie ustalic powiatu dla widoku."
                          : "Powiat (TERYT " + county + ") nie publikuje WFS EGiB w EZiU.");
  } else {
    LayerPair types;
    if (!ogc.resolveLayers(wfs, types)) {
      ctx.note("Powiatowa usluga WFS EGiB nie odpowiada.");
    } else {
      if (wantParcels && !types.parcels.empty())
        parcels = ogc.fetchFeatures(wfs, types.parcels, ctx.frame(), DataType::Dzialki,
                                    ctx.tileProgress("Import: dzialki"));
      if (wantBuildings && !types.buildings.empty())
        buildings = ogc.fetchFeatures(wfs, types.buildings, ctx.frame(), DataType::Budynki,
                                      ctx.tileProgress("Import: budynki"));
      ctx.report("VELDRA EGiB [TERYT " + code + "] " + wfs + " | tn.dzialki='" + types.parcels + "' -> " +
                 std::to_string(parcels.size()) + " | tn.budynki='" + types.buildings + "' -> " +
                 std::to_string(buildings.size()));
    }
  }
  if (wantParcels && parcels.empty()) ctx.note("Brak dzialek dla tego obszaru.");
  if (wantBuildings && buildings.empty()) {
    if (!parcels.empty())
      ctx.note("Powiatowa usluga zwraca dzialki, ale nie filtruje budynkow po obszarze (blad konfiguracji serwera "
               "powiatu - np. Zabrze).");
    const std::string gml =
        ogc.getFeaturesTiled(endpoints::url(endpoints::Service::Bdot10kNewBuildingsWfs), kBdot10kBuildingsType,
                             ctx.frame(), ctx.tileProgress("Import: budynki (BDOT10k)"), true, false, 2180);
    buildings = removeDuplicateFeatures(GmlParser::parseFeatureCollection(gml, DataType::Budynki));
    if (!buildings.empty()) ctx.note("Budynki z BDOT10k NoweBudynki (fallback - tylko nowe obiekty).");
  }
  for (auto& f : parcels) data.features.push_back(std::move(f));
  for (auto& f : buildings) data.features.push_back(std::move(f));
}

}  // namespace veldra
