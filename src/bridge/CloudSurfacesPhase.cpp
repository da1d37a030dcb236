#include "bridge/CloudSurfacesPhase.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <utility>

#include "cloud/CloudGrid.h"
#include "cloud/GroundWaterTiles.h"

namespace veldra {
namespace {

constexpr double kMaxCellsPerAxis = 800.0;

std::string printed(const char* format, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

bool has(const std::vector<std::string>& keys, const char* key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

}  // namespace

bool wantsCloudSurfaces(const std::vector<std::string>& keys) {
  return has(keys, "terenchmura") || has(keys, "poziomicechmura") || has(keys, "wodachmura");
}

CloudSurfacesRequest cloudSurfacesRequest(const Bbox& frame, const std::vector<std::string>& keys, double step,
                                          double contourInterval, bool smoothContours) {
  CloudSurfacesRequest r;
  r.frame = frame;
  r.terrain = has(keys, "terenchmura");
  r.contours = has(keys, "poziomicechmura");
  r.water = has(keys, "wodachmura");
  r.step = step;
  r.contourInterval = contourInterval;
  r.smoothContours = smoothContours;
  return r;
}

double cloudGridStep(const Bbox& frame, double step, std::string& notice) {
  if (!(step > 0.0) || !std::isfinite(step)) step = 1.0;
  const double w = frame.maxX - frame.minX, h = frame.maxY - frame.minY;
  if (w / step <= kMaxCellsPerAxis && h / step <= kMaxCellsPerAxis) return step;
  const double coarse = std::max(w, h) / kMaxCellsPerAxis;
  notice = "Teren z chmury: kadr duzy dla kroku " + printed("%g", step) + " m - krata zgrubiona do " +
           printed("%.2f", coarse) + " m (limit 800 wezlow/os). Zmniejsz kadr dla drobniejszej kraty.";
  return coarse;
}

CloudSurfaces buildCloudSurfaces(const CloudSurfacesRequest& req, const LidarResolver& resolver,
                                 const CloudSurfacesHooks& hooks) {
  CloudSurfaces out;
  auto notice = [&out](std::string text) {
    if (!text.empty()) out.notices.push_back(std::move(text));
  };
  std::string coarsening;
  const double step = cloudGridStep(req.frame, req.step, coarsening);
  notice(coarsening);

  const std::vector<LidarTile> tiles = resolver.queryLidarIndex(req.frame);
  if (tiles.empty()) {
    notice("Teren z chmury: brak kafli LiDAR dla tego obszaru w skorowidzu.");
    return out;
  }
  // Ground and water of every tile, merged in resolver order; tiles in a PL-2000 zone are
  // converted point by point. Downloads stay on this thread, in order; the tiles already here
  // are loaded on the workers meanwhile. A tile that cannot be downloaded or read is skipped.
  GroundWaterLoader loader(req.frame, defaultGroundWaterThreads(tiles.size()));
  const int n = static_cast<int>(tiles.size());
  for (int i = 0; i < n; ++i) {
    if (hooks.progress) hooks.progress(i, n, "Teren z chmury: LiDAR");
    const LidarTile& tile = tiles[static_cast<std::size_t>(i)];
    const std::string path = resolver.download(tile);
    if (!path.empty()) loader.add(tile, path);
  }
  GroundWaterContext gathered = loader.finish();
  if (gathered.ground.empty()) {
    notice("Teren z chmury: brak punktow gruntu (klasa 2) w kadrze.");
    return out;
  }
  const std::size_t groundPoints = gathered.ground.size();
  const CloudGrid grid = buildCloudGrid(req.frame, gathered.ground, step, gathered.water,
                                        req.water ? WaterFlattening::On : WaterFlattening::Off);
  gathered = GroundWaterContext{};  // the points are not needed past the grid

  if (req.terrain) {
    TerrainPatchSet set =
        buildTerrainPatches(req.frame, step, [&grid](double x, double y) { return sampleCloudGrid(grid, x, y); });
    notice(set.message);
    out.terrainNote = "Teren z chmury: " + std::to_string(n) + " kafli, " + std::to_string(groundPoints) +
                      " pkt gruntu (klasa 2), krok " + printed("%g", step) + " m, komorek " +
                      std::to_string(grid.validCells);
    if (grid.waterCells > 0) out.terrainNote += ", woda(kl.9) komorek " + std::to_string(grid.waterCells);
    notice(out.terrainNote);
    if (set.patches.empty())
      notice("Teren z chmury: brak waznych komorek w kadrze.");
    else
      out.terrain.push_back(std::move(set));
  }

  if (req.contours) {
    if (!isAllowedContourInterval(req.contourInterval)) {
      notice(contourIntervalNotice(req.contourInterval));
    } else {
      std::string stepNotice;
      const double latticeStep = contourGridStep(req.frame, step, stepNotice);
      notice(stepNotice);
      ContourRecipe recipe;
      recipe.interval = req.contourInterval;
      recipe.smooth = req.smoothContours;
      recipe.cancel = hooks.cancelled;
      recipe.progress = [&hooks](int done, int total) {
        if (hooks.levelProgress) hooks.levelProgress(done, total, "Poziomice z chmury");
      };
      ContourSet set = buildContours(req.frame, latticeStep,
                                     [&grid](double x, double y) { return sampleCloudGrid(grid, x, y); }, recipe);
      notice(set.message);
      out.contoursNote = "Poziomice z chmury: " + std::to_string(set.lines.size()) + " warstwic, ciecie " +
                         formatContourNumber(req.contourInterval) + " m" + (req.smoothContours ? ", wygladzone" : "");
      notice(out.contoursNote);
      out.contours = std::move(set);
    }
  }

  if (req.water && grid.flatCells > 0) {
    TerrainPatchSet set =
        buildTerrainPatches(req.frame, step, [&grid](double x, double y) { return sampleCloudWater(grid, x, y); });
    notice(set.message);
    out.waterNote = "Woda z chmury: " + std::to_string(grid.flatCells) + " komorek, poziom lustra " +
                    printed("%.2f", grid.waterLevel) + " m n.p.m.";
    notice(out.waterNote);
    if (set.patches.empty())
      notice("Woda z chmury: brak komorek wody w kadrze.");
    else
      out.water.push_back(std::move(set));
  }
  return out;
}

}  // namespace veldra
