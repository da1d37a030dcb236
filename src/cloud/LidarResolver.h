// Which LiDAR tiles cover a frame, and where the local copy of one tile is.
// Both go through the caller's WfsClient: the index query (years from the next
// one down, first year with any sheet, at most 20 sheets) and the download cache.
// The resolver keeps no state between calls; it is used from worker threads.
#pragma once

#include <string>
#include <vector>

#include "geo/Bbox.h"
#include "geo/LidarTile.h"
#include "net/WfsClient.h"

namespace veldra {

class LidarResolver {
 public:
  // Tiles are large: a stalled transfer is given four minutes before it counts as failed.
  static constexpr long kTileTimeoutMs = 240000;

  explicit LidarResolver(WfsClient& client) : client_(&client) {}

  // Tiles of a PL-1992 frame in index order, overlapping sheets included; empty when nothing
  // covers the frame or every request failed. Only "http..." addresses become tiles.
  std::vector<LidarTile> queryLidarIndex(const Bbox& frame) const;

  // Local path of the tile, empty when the download failed or was cancelled (the cache's
  // reason is not passed on: callers skip the tile). A cached tile costs no traffic and no
  // progress calls. Without a progress callable the transfer is never cancelled.
  std::string download(const LidarTile& tile, const ProgressFn& progress = {}) const;

 private:
  WfsClient* client_;
};

}  // namespace veldra
