// Buildings shaped from the normalised surface model over the LOD1 outlines.
#include "bridge/phases/Phases.h"

#include "bridge/NdsmModelLoad.h"
#include "terrain/NdsmBuilding.h"

namespace veldra {

void fetchNdsmBuildings(FetchContext& ctx, FetchedData& data) {
  if (data.buildings3d.empty()) return;
  const NdsmModel& model = ctx.ndsmModel();
  if (const std::string note = ndsmModelNote(model, "Budynki (nMPT): "); !note.empty()) {
    ctx.note(note);
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
