// Native side of the import palette: answers the page's messages, runs the
// fetch on a worker and keeps its result for placement.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/AddressWorker.h"
#include "bridge/FetchContext.h"
#include "bridge/PageChannel.h"
#include "place/FetchedData.h"
#include "bridge/Settings.h"
#include "geo/Bbox.h"
#include "net/OgcClient.h"
#include "net/ServiceDirectory.h"
#include "net/WfsClient.h"
#include "hostapi/Host.h"

namespace veldra {

class Bridge;

class ImportController {
 public:
  // The process-wide controller, created on first use with the process host
  // (setProcessHost) and the settings file; never destroyed.
  static ImportController& instance();
  static void setProcessHost(Host* host);

  // A controller of its own (tests, batch tools).
  ImportController(Host& host, Settings settings);
  ImportController(const ImportController&) = delete;
  ImportController& operator=(const ImportController&) = delete;

  void registerHandlers(Bridge& bridge);

  nlohmann::json onSearchAddress(const nlohmann::json& msg);
  nlohmann::json onSearchAddressSuggest(const nlohmann::json& msg);
  nlohmann::json onFetch(const nlohmann::json& msg);
  nlohmann::json onPlace(const nlohmann::json& msg);
  nlohmann::json onSetOrigin(const nlohmann::json& msg);
  nlohmann::json onGetLayers(const nlohmann::json& msg);
  nlohmann::json onSettingsChanged(const nlohmann::json& msg);
  nlohmann::json onGetInit(const nlohmann::json& msg);
  nlohmann::json onCancel(const nlohmann::json& msg);

  void startFetch(FetchRequest request);

  // The fetch phases (bridge/phases/) over one request; runs on the fetch worker.
  FetchedData fetchForImport(const FetchRequest& request);

  // Replaces the pipeline the worker runs (tests of the worker's failure path).
  using FetchFunction = std::function<FetchedData(const FetchRequest&)>;
  void setFetchFunction(FetchFunction fn) { fetchFunction_ = std::move(fn); }

  // The import page; the palette attaches its Bridge while it exists.
  PageChannel& page() { return page_; }

  // State, for the host window and tests.
  bool fetching() const { return fetching_; }
  bool hasData() const { return hasData_; }
  int epsg() const { return epsg_; }
  const Bbox& lastBbox() const { return lastBbox_; }
  const std::vector<std::string>& lastLayers() const { return lastLayers_; }
  const FetchedData& lastData() const { return lastData_; }
  const Settings& settings() const { return settings_; }
  bool cancelRequested() const { return cancelRequested_.load(); }
  const std::atomic<bool>& cancelFlag() const { return cancelRequested_; }
  Host& host() { return host_; }
  Settings& mutableSettings() { return settings_; }
  WfsClient& client() { return client_; }
  bool smoothContours() const { return smoothContours_; }
  double cloudTerrainStep() const { return cloudTerrainStep_; }

 private:
  void completeFetch(const FetchRequest& request, FetchedData data);
  // Progress and report lines of the fetch worker, posted through the main loop.
  FetchEvents fetchEvents();

  Host& host_;
  PageChannel page_;
  WfsClient client_;
  OgcClient ogc_{client_};   // keeps its strategy memory and layer cache across fetches
  Settings settings_;
  std::atomic<bool> cancelRequested_{false};
  bool fetching_ = false;
  FetchedData lastData_;
  Bbox lastBbox_{};
  std::vector<std::string> lastLayers_;
  bool hasData_ = false;
  int epsg_ = 2180;
  bool smoothContours_ = false;
  double cloudTerrainStep_ = 1.0;
  MunicipalityCache municipalityCache_;
  FetchFunction fetchFunction_;   // used by the fetch worker only while a fetch runs
  // Number of the newest "setOrigin"; its height worker applies only the newest one's answer.
  std::shared_ptr<std::uint64_t> originRequest_ = std::make_shared<std::uint64_t>(0);
  AddressWorker addresses_{page_};       // last: stops before the rest goes
};

}  // namespace veldra
