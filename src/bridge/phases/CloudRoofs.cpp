// Roofs fitted to LiDAR points over the LOD1 outlines: one flat roof per outline at the
// height its points show, made a closed body down to the ground the class 2 points give.
#include "bridge/phases/Phases.h"

#include <algorithm>
#include <cmath>

#include "bridge/RoofBody.h"
#include "cloud/GroundCellModel.h"
#include "cloud/PointGridIndex.h"
#include "cloud/RoofFromCloud.h"
#include "geo/Bbox.h"

namespace veldra {

namespace {

constexpr const char* kPrefix = "Dachy z chmury: ";
constexpr double kGroundCell = 2.0;

// The base of the body: the lowest ground under the outline's corners; without ground
// points near any corner, the outline's own base from the 3D package.
double baseLevel(const std::vector<Point2>& outline, const GroundCellModel& ground, double packageBase) {
  double base = INFINITY;
  for (const Point2& v : outline)
    if (ground.groundNear(v.x, v.y)) base = std::min(base, ground.groundHeightAt(v.x, v.y));
  return std::isfinite(base) ? base : packageBase;
}

}  // namespace

void fetchCloudRoofs(FetchContext& ctx, FetchedData& data) {
  if (data.buildings3d.empty()) {
    ctx.note("Dachy z chmury: brak obrysow budynkow (Building3D) dla tego kadru - nie ma na czym oprzec dachu.");
    return;
  }
  const std::optional<FrameCloud> gathered = phase_support::outlineCloud(ctx, kPrefix);
  if (!gathered) return;
  const FrameCloud& cloud = *gathered;

  ctx.progress(0, 1, "Dachy z chmury: model terenu");
  const GroundCellModel ground = buildGroundCellModel(cloud.points, kGroundCell);
  const PointGridIndex index(cloud.points);

  const int n = static_cast<int>(data.buildings3d.size());
  for (int i = 0; i < n; ++i) {
    ctx.progress(i, n, "Dachy z chmury: dopasowanie dachow");
    const Building3D& b = data.buildings3d[static_cast<std::size_t>(i)];
    const std::vector<Point2> outline = openRing(b.footprint);
    CloudSolid solid;
    solid.id = b.id;
    solid.needsCorrection = true;
    if (!outline.empty()) {
      std::vector<CloudPoint> near;
      for (std::size_t k : index.around(boundsOf(outline))) near.push_back(cloud.points[k]);
      const CloudRoofResult roof = roofFromCloud(outline, near, ground);
      solid.needsCorrection = roof.needsCorrection;
      if (!roof.polygons.empty()) {
        double base = baseLevel(outline, ground, b.baseZ);
        const double top = roof.polygons.front().front().z;
        // A roof not above its base still stands as a body of the fallback height.
        if (!(base < top)) base = top - RoofFromCloudSettings{}.fallbackHeightAboveGround;
        solid.faces = roofBody(roof.polygons.front(), base);
      }
    }
    data.cloudRoofs.push_back(std::move(solid));
  }
  ctx.note(std::string(kPrefix) + std::to_string(cloud.downloadedTiles) + " kafli, " +
           std::to_string(cloud.points.size()) + " pkt, " + std::to_string(data.cloudRoofs.size()) + " obrysow.");
}

}  // namespace veldra
