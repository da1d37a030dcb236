// LOD2 reconstruction of the LOD1 outlines from LiDAR points.
#include "bridge/phases/Phases.h"

#include "bridge/Lod2Rekon.h"
#include "cloud/FrameCloud.h"
#include "cloud/LidarResolver.h"

namespace veldra {

void fetchLod2Reconstruction(FetchContext& ctx, FetchedData& data) {
  if (data.buildings3d.empty()) {
    ctx.note("Rekonstrukcja LOD2: brak obrysow budynkow (Building3D) dla tego kadru.");
    return;
  }
  auto progress = [&ctx](int done, int total, const std::string& label) { ctx.progress(done, total, label); };
  FrameCloudOptions options;
  options.progressLabel = "Rekonstrukcja LOD2: pobieranie kafli LiDAR";
  const FrameCloud cloud = gatherFrameCloud(LidarResolver(ctx.client()), ctx.frame(), options, progress);
  if (cloud.downloadedTiles == 0) {
    ctx.note("Rekonstrukcja LOD2: brak danych LiDAR dla tego obszaru.");
    return;
  }
  if (cloud.points.empty()) {
    ctx.note("Rekonstrukcja LOD2: chmura pusta w kadrze.");
    return;
  }
  if (cloud.truncated)
    ctx.note("Rekonstrukcja LOD2: limit punktow osiagniety - czesc kafli pominieto, zmniejsz kadr.");
  RekonOutcome outcome = reconstructOutlines(data.buildings3d, cloud.points, progress);
  ctx.note(rekonSummary(cloud.downloadedTiles, cloud.points.size(), outcome));
  data.reconstructed = std::move(outcome.solids);
}

}  // namespace veldra
