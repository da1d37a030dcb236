// LOD1 buildings from the national 3D packages; their outlines also serve the nMPT, roof and reconstruction phases.
#include "bridge/phases/BuildingPackages.h"
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchLod1Buildings(FetchContext& ctx, FetchedData& data) {
  Buildings3dFetch f = fetchBuildings3d(ctx.client(), phase_support::frameCounty(ctx), ctx.frame(),
                                        phase_support::packageProgress(ctx, "Modele 3D"));
  ctx.note(f.note);
  data.buildings3d = std::move(f.buildings);
  data.placeBuildings3d = ctx.has("budynki3d");
}

}  // namespace veldra
