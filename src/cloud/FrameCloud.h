// Every LiDAR point of a frame, for the roof and reconstruction steps: the frame's tiles
// from the index, downloaded in order, read whole and kept inside the frame in PL-1992.
// Tiles in a PL-2000 zone are converted point by point, like the terrain's tiles.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "cloud/CloudPoint.h"
#include "cloud/LidarResolver.h"
#include "geo/Bbox.h"

namespace veldra {

struct FrameCloud {
  std::vector<CloudPoint> points;   // PL-1992, absolute heights
  int indexedTiles = 0;             // tiles the index named
  int downloadedTiles = 0;          // tiles with a local copy
  bool truncated = false;           // the point limit stopped the reading
};

struct FrameCloudOptions {
  std::string progressLabel;
  std::size_t maxPoints = 60'000'000;   // about 2 GB of points
};

using FrameProgress = std::function<void(int done, int total, const std::string& label)>;

// A tile that cannot be downloaded or read adds nothing.
FrameCloud gatherFrameCloud(const LidarResolver& resolver, const Bbox& frame, const FrameCloudOptions& options,
                            const FrameProgress& progress);

// The points of one local tile inside the frame, converted from its zone when it is not PL-1992.
// Stops once `out` holds `maxPoints`; gives false then.
bool appendTilePoints(const std::string& path, int epsg, const Bbox& frame, std::size_t maxPoints,
                      std::vector<CloudPoint>& out);

}  // namespace veldra
