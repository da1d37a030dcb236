#include "cloud_ui/CloudDownload.h"

#include <chrono>
#include <exception>
#include <filesystem>
#include <limits>
#include <vector>

#include "cloud/E57Writer.h"
#include "cloud/LidarResolver.h"
#include "net/HttpTransport.h"
#include "platform/Paths.h"

namespace veldra {

namespace {

const char* const kCancelled = "Anulowano.";

bool isPl2000(int epsg) { return epsg >= 2176 && epsg <= 2179; }

// Curl reports a transfer many times a second; the page needs a few updates a second, and the
// main loop must not fill with messages that only repeat the last one.
class TransferProgress {
 public:
  TransferProgress(std::size_t index, std::size_t count, const CloudDownloadEvents& events)
      : index_(index), count_(count), events_(events) {}

  void operator()(std::int64_t received, std::int64_t total) {
    const auto now = std::chrono::steady_clock::now();
    const bool finished = total > 0 && received >= total;
    if (received == lastReceived_ || (!finished && now - lastPost_ < std::chrono::milliseconds(100))) return;
    lastReceived_ = received;
    lastPost_ = now;
    std::string label = "Kafel " + std::to_string(index_ + 1) + "/" + std::to_string(count_) + ": " +
                        formatByteSize(received);
    if (total >= 1) label += " / " + formatByteSize(total);
    const double share = total > 0 ? static_cast<double>(received) / static_cast<double>(total) : 0.0;
    if (events_.progress) events_.progress(label, (static_cast<double>(index_) + share) * 100.0 / count_, true);
  }

 private:
  std::size_t index_, count_;
  const CloudDownloadEvents& events_;
  std::int64_t lastReceived_ = -1;
  std::chrono::steady_clock::time_point lastPost_{};
};

double secondsSince(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

CloudDownloadResult failure(std::string message) {
  CloudDownloadResult r;
  r.message = std::move(message);
  return r;
}

CloudDownloadResult downloadAndWrite(const CloudDownloadJob& job, WfsClient& client, const std::atomic<bool>& cancel,
                                     const CloudDownloadEvents& events, const CloudDownloadOptions& options) {
  CloudDownloadStages stages;
  const LidarResolver resolver(client);
  auto t0 = std::chrono::steady_clock::now();
  const std::vector<LidarTile> tiles = resolver.queryLidarIndex(job.frame);
  stages.index = secondsSince(t0);
  if (cancel) return failure(kCancelled);
  if (tiles.empty()) return failure("Brak danych LiDAR dla tego obszaru.");

  CloudAccumulator acc(job.frame, job.zoneEpsg, cloudui::voxelSize(job.detail));
  if (job.hasOrigin) acc.setOrigin(job.originX, job.originY, job.originZ);

  const std::size_t n = tiles.size();
  std::size_t processed = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (cancel) return failure(kCancelled);
    TransferProgress report(i, n, events);
    t0 = std::chrono::steady_clock::now();
    const std::string path = resolver.download(tiles[i], [&](std::int64_t r, std::int64_t t) {
      report(r, t);
      return !cancel.load();
    });
    stages.transfer += secondsSince(t0);
    if (path.empty()) {
      if (cancel) return failure(kCancelled);
      continue;
    }
    t0 = std::chrono::steady_clock::now();
    LazTileReader reader = LazTileReader::open(path);
    if (!reader.ok()) continue;
    // Tiles of the 1992 system (or of none named) are read as they are; PL-2000 ones are clipped
    // to the frame in their own zone first.
    feedAccumulator(reader, isPl2000(tiles[i].epsg) ? tiles[i].epsg : 0, acc, options.pointLimit);
    stages.decode += secondsSince(t0);
    ++processed;
    if (events.progress) events.progress("Przetwarzanie kafli LiDAR", static_cast<double>(i + 1) * 100.0 / n, false);
  }
  if (processed == 0) return failure("Nie udalo sie pobrac zadnego kafla LiDAR dla tego obszaru.");
  if (acc.points().empty()) return failure("Brak punktow w wybranym obszarze (po przycieciu do kadru).");

  std::string out = options.outputPath;
  if (out.empty()) {
    // The completion copies this file into the user's data folder: nobody else may be able to
    // swap it in between, so its folders must be ours alone.
    out = cloudTemporaryPath();
    if (const std::string why = platform::ensurePrivateFolders(std::filesystem::path(out).parent_path()); !why.empty())
      return failure("Blad zapisu E57: " + why);
  }
  std::string error;
  t0 = std::chrono::steady_clock::now();
  if (!writeE57(out, acc.points(), error)) return failure("Blad zapisu E57: " + error);
  stages.write = secondsSince(t0);

  CloudDownloadResult r;
  r.ok = true;
  r.path = out;
  r.offE = acc.originX();
  r.offN = acc.originY();
  r.epsg = job.zoneEpsg;
  for (const CloudPoint& p : acc.points()) {
    r.minX = std::min(r.minX, p.x);
    r.maxX = std::max(r.maxX, p.x);
    r.minY = std::min(r.minY, p.y);
    r.maxY = std::max(r.maxY, p.y);
    r.minZ = std::min(r.minZ, p.z);
    r.maxZ = std::max(r.maxZ, p.z);
  }
  r.count = static_cast<std::int64_t>(acc.points().size());
  r.stages = stages;
  return r;
}

}  // namespace

std::string cloudTemporaryPath() {
  return (platform::privateWorkDir() / "Orvane_Cloud" / "import.e57").string();
}

CloudDownloadResult runCloudDownload(const CloudDownloadJob& job, WfsClient& client, const std::atomic<bool>& cancel,
                                     const CloudDownloadEvents& events, const CloudDownloadOptions& options) {
  try {
    return downloadAndWrite(job, client, cancel, events, options);
  } catch (const HardLimitExceeded&) {
    return failure("Za duzo punktow - zmniejsz kadr lub obniz jakosc.");
  } catch (const std::exception& e) {
    return failure(std::string("Blad pobierania chmury: ") + e.what());
  }
}

}  // namespace veldra
