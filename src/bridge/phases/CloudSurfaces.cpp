// Terrain, contours and water surfaces from the LiDAR point clouds.
#include "bridge/phases/Phases.h"

#include <utility>

#include "bridge/CloudSurfacesPhase.h"
#include "cloud/LidarResolver.h"

namespace veldra {

void fetchCloudSurfaces(FetchContext& ctx, FetchedData& data) {
  const FetchRequest& req = ctx.request();
  CloudSurfacesHooks hooks;
  hooks.progress = ctx.progressFn();
  hooks.levelProgress = hooks.progress;
  hooks.cancelled = [&ctx] { return ctx.cancelled(); };
  CloudSurfaces s =
      buildCloudSurfaces(cloudSurfacesRequest(ctx.frame(), req.keys, req.cloudTerrainStep, req.contourCut,
                                              req.smoothContours),
                         LidarResolver(ctx.client()), hooks);
  for (const std::string& n : s.notices) ctx.note(n);
  data.cloudTerrain = std::move(s.terrain);
  data.cloudContours = std::move(s.contours);
  data.water = std::move(s.water);
}

}  // namespace veldra
