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

// Appends one RasterTile per accepted tile to `out`. `epsg` 2176..2179 asks
// for that PL-2000 zone (the frame's corners moved into it); anything else
// requests the PL-1992 frame as EPSG 2180. `report` receives the summary line.
RasterFetchResult fetchRasterTiles(WfsClient& client, const Bbox& frame, const std::string& wmsUrl,
                                   const std::string& layers, double metresPerPixel, DataType type, int epsg,
                                   std::vector<RasterTile>& out,
                                   const std::function<void(const std::string&)>& report = {});

}  // namespace veldra
