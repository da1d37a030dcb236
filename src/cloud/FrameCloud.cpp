#include "cloud/FrameCloud.h"

#include <tuple>

#include "cloud/LazTileReader.h"
#include "geo/Projections.h"

namespace veldra {

bool appendTilePoints(const std::string& path, int epsg, const Bbox& frame, std::size_t maxPoints,
                      std::vector<CloudPoint>& out) {
  LazTileReader reader = LazTileReader::open(path);
  if (!reader.ok()) return true;
  const bool convert = epsg != 0 && epsg != kEpsgPl1992;
  CloudPoint p;
  for (int64_t i = 0; i < reader.pointCount() && readCloudPoint(reader, p); ++i) {
    if (convert) std::tie(p.x, p.y) = pl2000ToPl1992(p.x, p.y, epsg);
    if (!(p.x >= frame.minX && p.x <= frame.maxX && p.y >= frame.minY && p.y <= frame.maxY)) continue;
    if (out.size() >= maxPoints) return false;
    out.push_back(p);
  }
  return true;
}

FrameCloud gatherFrameCloud(const LidarResolver& resolver, const Bbox& frame, const FrameCloudOptions& options,
                            const FrameProgress& progress) {
  FrameCloud out;
  const std::vector<LidarTile> tiles = resolver.queryLidarIndex(frame);
  out.indexedTiles = static_cast<int>(tiles.size());
  for (int i = 0; i < out.indexedTiles; ++i) {
    if (progress) progress(i, out.indexedTiles, options.progressLabel);
    const LidarTile& tile = tiles[static_cast<std::size_t>(i)];
    const std::string path = resolver.download(tile);
    if (path.empty()) continue;
    ++out.downloadedTiles;
    if (!out.truncated && !appendTilePoints(path, tile.epsg, frame, options.maxPoints, out.points))
      out.truncated = true;
  }
  return out;
}

}  // namespace veldra
