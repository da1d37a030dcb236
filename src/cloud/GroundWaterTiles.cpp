#include "cloud/GroundWaterTiles.h"

#include <algorithm>
#include <new>
#include <system_error>
#include <utility>

#include "cloud/las/ParallelChunks.h"

namespace veldra {
namespace {

// Reserving the tile's point count (capped) costs address space only: pages are touched as
// points arrive, and the list never regrows and copies itself on the way.
constexpr int64_t kReservedPointsPerTile = 16'000'000;

GroundWaterContext loadTile(const Bbox& frame, const LidarTile& tile, LazTileReader reader) {
  GroundWaterContext ctx;
  ctx.frame = frame;
  ctx.tile = tile;
  try {
    ctx.ground.reserve(static_cast<std::size_t>(std::min(reader.pointCount(), kReservedPointsPerTile)));
  } catch (const std::bad_alloc&) {
    // no address space to spare: the list grows as it goes
  }
  loadGroundAndWater(reader, ctx);
  return ctx;
}

}  // namespace

GroundWaterThreads defaultGroundWaterThreads(std::size_t tiles) {
  return {las::decodeThreads(), tiles};
}

GroundWaterLoader::GroundWaterLoader(const Bbox& frame, GroundWaterThreads threads) {
  merged_.frame = frame;
  const int all = std::max(1, threads.threads);
  workers_ = static_cast<int>(std::clamp<std::size_t>(threads.tiles, 1, static_cast<std::size_t>(all)));
  decodeThreadsPerTile_ = std::max(1, all / workers_);
}

GroundWaterLoader::~GroundWaterLoader() {
  for (auto& f : inFlight_)
    if (f.valid()) f.wait();
}

// The tile is opened here, before the caller moves on: a download cache may replace the file
// once the next tile comes, and an open file stays readable.
void GroundWaterLoader::add(const LidarTile& tile, const std::string& path) {
  LazTileReader reader = LazTileReader::open(path);
  if (!reader.ok()) return;
  reader.setDecodeThreads(decodeThreadsPerTile_);
  if (workers_ == 1) {  // one thread: no worker to hand the tile to
    merge(loadTile(merged_.frame, tile, std::move(reader)));
    return;
  }
  while (inFlight_.size() >= static_cast<std::size_t>(workers_)) mergeOldest();
  auto work = [frame = merged_.frame, tile, reader = std::move(reader)]() mutable {
    return loadTile(frame, tile, std::move(reader));
  };
  try {
    inFlight_.push_back(std::async(std::launch::async, std::move(work)));
  } catch (const std::system_error&) {
    inFlight_.push_back(std::async(std::launch::deferred, std::move(work)));  // no thread: load when merged
  }
}

// get() rethrows what the load threw, on the caller's thread.
void GroundWaterLoader::mergeOldest() {
  std::future<GroundWaterContext> oldest = std::move(inFlight_.front());
  inFlight_.pop_front();
  merge(oldest.get());
}

void GroundWaterLoader::merge(GroundWaterContext one) {
  merged_.total += one.total;
  merged_.groundTotal += one.groundTotal;
  parts_.push_back(std::move(one));
}

// Concatenated once, to their exact size; each part is freed as soon as it is copied.
GroundWaterContext GroundWaterLoader::finish() {
  while (!inFlight_.empty()) mergeOldest();
  std::size_t ground = 0, water = 0;
  for (const auto& p : parts_) {
    ground += p.ground.size();
    water += p.water.size();
  }
  if (parts_.size() == 1) {
    merged_.ground = std::move(parts_.front().ground);
    merged_.water = std::move(parts_.front().water);
  } else {
    merged_.ground.reserve(ground);
    merged_.water.reserve(water);
    for (auto& p : parts_) {
      merged_.ground.insert(merged_.ground.end(), p.ground.begin(), p.ground.end());
      merged_.water.insert(merged_.water.end(), p.water.begin(), p.water.end());
      p = GroundWaterContext{};
    }
  }
  parts_.clear();
  return std::move(merged_);
}

}  // namespace veldra
