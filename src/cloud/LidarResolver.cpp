#include "cloud/LidarResolver.h"

#include "net/NationalIndexes.h"

namespace veldra {

std::vector<LidarTile> LidarResolver::queryLidarIndex(const Bbox& frame) const {
  return veldra::queryLidarIndex(*client_, frame);
}

std::string LidarResolver::download(const LidarTile& tile, const ProgressFn& progress) const {
  const ProgressFn always = [](std::int64_t, std::int64_t) { return true; };
  std::string error;
  return client_->getCachedFile(tile.url, progress ? progress : always, kTileTimeoutMs, error);
}

}  // namespace veldra
