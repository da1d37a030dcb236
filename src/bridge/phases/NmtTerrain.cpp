// Terrain meshes from the national elevation model (NMT).
#include "bridge/phases/Phases.h"

#include <algorithm>

#include "terrain/TerrainPatches.h"

namespace veldra {

void fetchNmtTerrain(FetchContext& ctx, FetchedData& data) {
  const FetchContext::NmtSheets& nmt = ctx.nmtSheets("Pobieranie NMT");
  if (!nmt.indexed) {
    ctx.note("Teren: brak kafli NMT dla tego obszaru w skorowidzu.");
    return;
  }
  if (nmt.grids.empty()) {
    ctx.note("Teren: nie udalo sie pobrac/sparsowac zadnego pliku NMT.");
    return;
  }
  TerrainPatchSet set = buildTerrainPatches(ctx.frame(), ctx.request().terrainStep, makeGridSampler(nmt.grids));
  ctx.note(set.message);
  const bool anyPoint =
      std::any_of(set.patches.begin(), set.patches.end(), [](const TerrainPatch& p) { return !p.points.empty(); });
  if (anyPoint)
    data.terrain.push_back(std::move(set));
  else
    ctx.note("Teren: brak waznych punktow NMT w kadrze.");
}

}  // namespace veldra
