// WMS map images of a frame in at most 4 x 4 tiles, for the orthophoto and the
// county and municipal renderings.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/DataType.h"
#include "formats/RasterTile.h"
#include "geo/Bbox.h"
#include "net/OgcClient.h"
#include "net/WfsClient.h"

namespace veldra {

inline constexpr int kRasterMaxPixels = 4096;
inline constexpr int kRasterMinPixels = 256;
inline constexpr int kRasterRetryMinPixels = 512;
inline constexpr int kRasterMaxTilesPerAxis = 4;
inline constexpr int kRasterMaxAttempts = 4;

// PNG (137 80 78 71, more than 8 bytes) or JPEG (255 216, more than 3 bytes).
bool isPngOrJpeg(const std::string& body);

struct RasterFetchResult {
  int tiles = 0;          // accepted tiles
  std::string notice;     // set when the tile count was clamped
};

// How the GetMap requests of one service are made and judged.
struct RasterRequestOptions {
  WmsVersion version = WmsVersion::V111;
  // Above 0: no request coarser than this many metres per pixel is made
  // (a layer limited to large scales draws nothing there, so halving the
  // width on a retry would only fetch an empty image).
  double maxMetresPerPixel = 0;
  // Services that answer "no data here" with an image: a fully transparent
  // or single-colour (or unreadable) PNG counts as no tile, without retries.
  bool rejectBlankImages = false;
};

// Appends one RasterTile per accepted tile to `out`. `epsg` 2176..2179 asks
// for that PL-2000 zone (the frame's corners moved into it); anything else
// requests the PL-1992 frame as EPSG 2180. `report` receives the summary line.
RasterFetchResult fetchRasterTiles(WfsClient& client, const Bbox& frame, const std::string& wmsUrl,
                                   const std::string& layers, double metresPerPixel, DataType type, int epsg,
                                   std::vector<RasterTile>& out,
                                   const std::function<void(const std::string&)>& report = {},
                                   const RasterRequestOptions& options = {});

}  // namespace veldra
