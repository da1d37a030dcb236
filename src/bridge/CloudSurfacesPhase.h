// The LiDAR step of a fetch: terrain, contours and water derived from the ground (class 2) and
// water (class 9) points of the frame's LiDAR tiles. Runs on the fetch worker; never fails the
// fetch: every missing tile, empty cloud or empty grid ends in a notice.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cloud/LidarResolver.h"
#include "geo/Bbox.h"
#include "terrain/ContourRecipe.h"
#include "terrain/TerrainPatches.h"

namespace veldra {

struct CloudSurfacesRequest {
  Bbox frame;  // PL-1992
  bool terrain = false;   // "terenchmura"
  bool contours = false;  // "poziomicechmura"
  bool water = false;     // "wodachmura": also flattens the water to one level
  double step = 1.0;      // grid step, metres
  double contourInterval = 1.0;
  bool smoothContours = false;
};

struct CloudSurfacesHooks {
  // (done, total, label): plain progress of the tile loop.
  std::function<void(int, int, const std::string&)> progress;
  // Polled by the contour builder before each level.
  std::function<bool()> cancelled;
  // (done, total, label): cancellable progress of the contour levels.
  std::function<void(int, int, const std::string&)> levelProgress;
};

struct CloudSurfaces {
  std::vector<TerrainPatchSet> terrain;
  std::string terrainNote;
  ContourSet contours;
  std::string contoursNote;
  std::vector<TerrainPatchSet> water;
  std::string waterNote;
  std::vector<std::string> notices;  // in the order they arose, the three notes included
};

// Whether any key of the step is among the fetch's keys.
bool wantsCloudSurfaces(const std::vector<std::string>& keys);
CloudSurfacesRequest cloudSurfacesRequest(const Bbox& frame, const std::vector<std::string>& keys, double step,
                                          double contourInterval, bool smoothContours);

CloudSurfaces buildCloudSurfaces(const CloudSurfacesRequest& request, const LidarResolver& resolver,
                                 const CloudSurfacesHooks& hooks);

// The grid step for a frame: `step` (1 m when not positive), coarsened so that neither axis
// exceeds 800 cells; `notice` then says so.
double cloudGridStep(const Bbox& frame, double step, std::string& notice);

}  // namespace veldra
