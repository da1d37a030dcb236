// LOD2 buildings from the national 3D packages.
#include "bridge/phases/BuildingPackages.h"
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchLod2Buildings(FetchContext& ctx, FetchedData& data) {
  BuildingsLod2Fetch f = fetchBuildingsLod2(ctx.client(), phase_support::frameCounty(ctx), ctx.frame(),
                                            phase_support::packageProgress(ctx, "Budynki LOD2"));
  ctx.note(f.note);
  data.buildingsLod2 = std::move(f.buildings);
  if (data.buildingsLod2.empty()) ctx.note("Brak budynkow LOD2 dla tego obszaru (pokrycie GUGiK ~236/380 powiatow).");
}

}  // namespace veldra
