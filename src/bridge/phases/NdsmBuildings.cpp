// Buildings shaped from the normalised surface model over the LOD1 outlines.
#include "bridge/phases/Phases.h"

#include "terrain/NdsmBuilding.h"

namespace veldra {

void fetchNdsmBuildings(FetchContext& ctx, FetchedData& data) {
  if (data.buildings3d.empty()) return;
  const NdsmModel& model = ctx.ndsmModel();
  if (!model.covered) {
    ctx.note("Budynki (nMPT): brak pokrycia nMPT lub NMT dla tego kadru.");
    return;
  }
  if (!model.parsed) {
    ctx.note("Budynki (nMPT): nie udalo sie sparsowac kafli nMPT/NMT.");
    return;
  }
  const int n = static_cast<int>(data.buildings3d.size());
  for (int i = 0; i < n; ++i) {
    ctx.progress(i, n, "Budynki (nMPT): dopasowanie");
    const Building3D& b = data.buildings3d[static_cast<std::size_t>(i)];
    data.ndsmBuildings.push_back({b.id, buildingFromNdsm(b.footprint, model)});
  }
  ctx.note("Budynki nMPT: " + std::to_string(data.ndsmBuildings.size()) + " obrysow.");
}

}  // namespace veldra
