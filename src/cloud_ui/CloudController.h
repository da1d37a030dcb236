// Native side of the point-cloud palette: answers the page's messages, estimates the points of
// a frame, downloads its LiDAR tiles into one E57 file on a worker and hands the file to the user.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/PageChannel.h"
#include "cloud_ui/CloudDownload.h"
#include "cloud_ui/CloudEstimate.h"
#include "geo/Bbox.h"
#include "hostapi/Host.h"
#include "net/HttpTransport.h"
#include "net/WfsClient.h"

namespace veldra {

class Bridge;

// WGS84 degrees as the page frames them.
struct Wgs84Frame {
  double west = 0, south = 0, east = 0, north = 0;
};

// True when all four are finite degrees inside their ranges.
bool usableFrame(const Wgs84Frame& f);

// The download of a frame: the zone of the project's named system, else of the frame's centre;
// the origin at the project's survey point when the project's georeference is in that zone.
CloudDownloadJob cloudDownloadJob(Host& host, const Wgs84Frame& frame, cloudui::Detail detail);

class CloudController {
 public:
  // The process-wide controller, created on first use with the process host (setProcessHost);
  // never destroyed.
  static CloudController& instance();
  static void setProcessHost(Host* host);

  // A controller of its own (tests, batch tools); without a transport the process-wide one is used.
  explicit CloudController(Host& host, HttpTransport* transport = nullptr);
  CloudController(const CloudController&) = delete;
  CloudController& operator=(const CloudController&) = delete;

  void registerHandlers(Bridge& bridge);

  nlohmann::json onFrameEstimate(const nlohmann::json& msg);
  nlohmann::json onDownload(const nlohmann::json& msg);
  nlohmann::json onCancel(const nlohmann::json& msg);
  nlohmann::json onSetOrigin(const nlohmann::json& msg);
  nlohmann::json onGetInit(const nlohmann::json& msg);

  void startDownload(CloudDownloadJob job);

  // The cloud page; the palette attaches its Bridge while it exists.
  PageChannel& page() { return page_; }

  bool busy() const { return busy_; }
  double cachedDensity() const { return cachedDensity_.load(); }
  std::uint64_t estimateGeneration() const { return estimateGeneration_.load(); }
  // Where completion copies the finished cloud: the user's data folder + "Orvane_Cloud/ostatnia_chmura.e57".
  static std::string targetPath();

  // Worker limits (tests: a small point limit reaches the over-limit path cheaply).
  void setDownloadOptions(CloudDownloadOptions options) { downloadOptions_ = std::move(options); }

 private:
  struct EstimateRequest {
    Bbox frame;
    cloudui::Detail detail = cloudui::Detail::Standard;
    double area = 0;
    double density = 0;
    std::uint64_t generation = 0;
  };
  void runEstimates();   // the estimate worker: takes waiting requests until none is left
  void completeDownload(CloudDownloadResult result);
  void writeDiagnostics(const CloudDownloadResult& result);

  Host& host_;
  HttpTransport* transport_;
  PageChannel page_;
  WfsClient client_{transport_};
  std::atomic<double> cachedDensity_{12.0};
  std::atomic<std::uint64_t> estimateGeneration_{0};
  std::mutex estimateMutex_;
  std::optional<EstimateRequest> waitingEstimate_;   // at most one request waits for the worker
  bool estimateWorking_ = false;                      // guarded by estimateMutex_
  std::atomic<bool> cancelRequested_{false};
  bool busy_ = false;   // main thread only
  CloudDownloadOptions downloadOptions_;   // read by the worker while a download runs; set only when idle
};

}  // namespace veldra
