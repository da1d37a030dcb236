// Ground and water points of several tiles, each tile loaded on a worker thread and the results
// merged in the order the tiles were added: the lists are the same, point for point, as when the
// tiles are loaded one after another on one thread. At most one tile per worker is being read:
// besides the points kept, memory holds the readers of those tiles only, however many tiles come.
#pragma once

#include <cstddef>
#include <deque>
#include <future>
#include <string>
#include <vector>

#include "cloud/LazTileReader.h"

namespace veldra {

struct GroundWaterThreads {
  int threads = 1;          // workers in all (VELDRA_THREADS by default, see las::decodeThreads)
  std::size_t tiles = 1;    // tiles expected: the threads left over decode chunks within a tile
};

GroundWaterThreads defaultGroundWaterThreads(std::size_t tiles);

class GroundWaterLoader {
 public:
  GroundWaterLoader(const Bbox& frame, GroundWaterThreads threads);
  ~GroundWaterLoader();
  GroundWaterLoader(const GroundWaterLoader&) = delete;
  GroundWaterLoader& operator=(const GroundWaterLoader&) = delete;

  // Starts loading the tile at `path` (PL-2000 tiles are converted to PL-1992); when every worker
  // is busy it first waits for the oldest tile and merges it. A tile that cannot be opened adds
  // nothing.
  void add(const LidarTile& tile, const std::string& path);
  // Waits for the tiles still in flight and gives the merged points and counters.
  GroundWaterContext finish();

 private:
  void mergeOldest();
  void merge(GroundWaterContext one);

  GroundWaterContext merged_;              // counters until finish()
  std::vector<GroundWaterContext> parts_;  // loaded tiles, in the order they were added
  int workers_ = 1;
  int decodeThreadsPerTile_ = 1;
  std::deque<std::future<GroundWaterContext>> inFlight_;
};

}  // namespace veldra
