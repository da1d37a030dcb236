// LOD2 reconstruction of the LOD1 outlines from LiDAR points.
#include "bridge/phases/Phases.h"

#include "bridge/Lod2Rekon.h"

namespace veldra {

void fetchLod2Reconstruction(FetchContext& ctx, FetchedData& data) {
  if (data.buildings3d.empty()) {
    ctx.note("Rekonstrukcja LOD2: brak obrysow budynkow (Building3D) dla tego kadru.");
    return;
  }
  const std::optional<FrameCloud> cloud = phase_support::outlineCloud(ctx, "Rekonstrukcja LOD2: ");
  if (!cloud) return;
  RekonOutcome outcome = reconstructOutlines(data.buildings3d, cloud->points, ctx.progressFn());
  ctx.note(rekonSummary(cloud->downloadedTiles, cloud->points.size(), outcome));
  data.reconstructed = std::move(outcome.solids);
}

}  // namespace veldra
