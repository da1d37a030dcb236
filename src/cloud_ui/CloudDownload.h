// The download worker of the point-cloud palette: the LiDAR tiles of a frame, clipped and
// thinned into one E57 file in the temporary folder. Runs on a worker thread; it never touches
// the page or the project and reports only through the events it is given.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "cloud/LazTileReader.h"
#include "cloud_ui/CloudEstimate.h"
#include "geo/Bbox.h"
#include "net/WfsClient.h"

namespace veldra {

struct CloudDownloadJob {
  Bbox frame;                      // PL-1992
  cloudui::Detail detail = cloudui::Detail::Standard;
  int zoneEpsg = 2180;             // PL-2000 zone of the output, 2176..2179
  double originX = 0, originY = 0, originZ = 0;
  bool hasOrigin = false;
};

// Seconds spent in each stage of a download (for the benchmark and the command's report).
struct CloudDownloadStages {
  double index = 0, transfer = 0, decode = 0, write = 0;
};

struct CloudDownloadResult {
  bool ok = false;
  std::string message;
  std::string path;                // the written file; empty when none was written
  double offE = 0, offN = 0;       // the accumulator's origin
  int epsg = 0;
  double minX = 1e18, minY = 1e18, minZ = 1e18;
  double maxX = -1e18, maxY = -1e18, maxZ = -1e18;
  std::int64_t count = 0;
  CloudDownloadStages stages;
};

struct CloudDownloadEvents {
  // A "progress" message for the page: label, percent, and whether the page may cancel it.
  std::function<void(const std::string& label, double pct, bool cancellable)> progress;
};

struct CloudDownloadOptions {
  std::size_t pointLimit = kCloudPointLimit;
  std::string outputPath;          // empty: cloudTemporaryPath()
};

// This user's private working folder + "Orvane_Cloud/import.e57" (a shared temporary folder
// would let another local user plant the file the completion copies).
std::string cloudTemporaryPath();

CloudDownloadResult runCloudDownload(const CloudDownloadJob& job, WfsClient& client,
                                     const std::atomic<bool>& cancel, const CloudDownloadEvents& events,
                                     const CloudDownloadOptions& options = {});

}  // namespace veldra
