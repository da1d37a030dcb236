#include "bridge/ImportController.h"

#include "bridge/MessageNumbers.h"

#include <cstdlib>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "bridge/Bridge.h"
#include "bridge/PageChannel.h"
#include "bridge/phases/Phases.h"
#include "net/HttpTransport.h"
#include "place/DataKinds.h"
#include "formats/GeoJsonWriter.h"
#include "geo/Projections.h"
#include "place/ProjectGeoref.h"
#include "platform/MainLoop.h"

namespace veldra {

using nlohmann::json;

namespace {

Host* g_processHost = nullptr;

const char* const kBusyText = "Trwa pobieranie danych - sprobuj za chwile";

json errorReply(const std::string& msg) { return json{{"type", "error"}, {"msg", msg}}; }

}  // namespace

void ImportController::setProcessHost(Host* host) { g_processHost = host; }

ImportController& ImportController::instance() {
  // Function-local statics are initialised once, thread-safely.
  static ImportController* controller = [] {
    if (!g_processHost) throw std::logic_error("ImportController: no host attached");
    return new ImportController(*g_processHost, Settings::load());
  }();
  return *controller;
}

ImportController::ImportController(Host& host, Settings settings) : host_(host), settings_(std::move(settings)) {
  if (!settings_.upgToken.empty()) client_.token = settings_.upgToken;
}

void ImportController::registerHandlers(Bridge& bridge) {
  bridge.on("searchAddress", [this](const json& m) { return onSearchAddress(m); });
  bridge.on("searchAddressSuggest", [this](const json& m) { return onSearchAddressSuggest(m); });
  bridge.on("fetch", [this](const json& m) { return onFetch(m); });
  bridge.on("place", [this](const json& m) { return onPlace(m); });
  bridge.on("setOrigin", [this](const json& m) { return onSetOrigin(m); });
  bridge.on("getLayers", [this](const json& m) { return onGetLayers(m); });
  bridge.on("settingsChanged", [this](const json& m) { return onSettingsChanged(m); });
  bridge.on("getInit", [this](const json& m) { return onGetInit(m); });
  bridge.on("cancel", [this](const json& m) { return onCancel(m); });
}

// The geocoders answer on the address worker; the page gets their messages later.
json ImportController::onSearchAddress(const json& msg) {
  const std::string query = msg.value("query", std::string());
  if (query.empty()) return json{{"type", "addressResults"}};
  addresses_.search(query);
  return nullptr;
}

json ImportController::onSearchAddressSuggest(const json& msg) {
  const std::string query = msg.value("query", std::string());
  if (query.size() < 3) return nullptr;
  addresses_.suggest(query);
  return nullptr;
}

json ImportController::onFetch(const json& msg) {
  if (!msg.is_object() || !msg.contains("bboxWgs84") || !msg["bboxWgs84"].is_array() ||
      msg["bboxWgs84"].size() != 4)
    return errorReply("Nieprawidlowy bbox");
  if (fetching_) return errorReply(kBusyText);

  // Read every input before touching controller state, so a malformed member
  // fails the message without leaving anything half-changed.
  const json& b = msg["bboxWgs84"];
  const double west = b[0].get<double>();
  const double south = b[1].get<double>();
  const double east = b[2].get<double>();
  const double north = b[3].get<double>();
  std::vector<std::string> keys;
  if (msg.contains("layers")) keys = msg["layers"].get<std::vector<std::string>>();
  const int rasterScale = msg.contains("rasterScale") ? messageInt(msg["rasterScale"]) : 1000;
  const int terrainStep = msg.contains("terrainStep") ? messageInt(msg["terrainStep"]) : 1;
  const double contourCut = msg.contains("poziomiceCiecie") ? msg["poziomiceCiecie"].get<double>() : 1.0;
  const bool smooth = msg.contains("poziomiceWygladz") ? msg["poziomiceWygladz"].get<bool>() : false;
  const double cloudStep = msg.contains("terenChmuraKrok") ? msg["terenChmuraKrok"].get<double>() : 1.0;

  FetchRequest request;
  request.frame = bboxFromWgs84(west, south, east, north);
  request.keys = std::move(keys);
  request.rasterScale = rasterScale;
  request.terrainStep = terrainStep;
  request.contourCut = contourCut;
  request.smoothContours = smooth;
  request.cloudTerrainStep = cloudStep;
  request.zone = pl2000ZoneForLongitude((west + east) / 2.0);
  GeoLocation loc;
  if (host_.readGeoLocation(loc) == kHostOk) {
    const int named = findPlEpsgInText(loc.crsName);
    if (named >= 2176 && named <= 2179) request.zone = named;
  }
  epsg_ = request.zone;
  smoothContours_ = smooth;
  cloudTerrainStep_ = cloudStep;

  startFetch(std::move(request));
  return nullptr;
}

FetchEvents ImportController::fetchEvents() {
  FetchEvents events;
  events.progress = [this](int done, int total, const std::string& label) {
    platform::runOnMainThread(
        [=, this] { page_.post("progress", json{{"done", done}, {"total", total}, {"label", label}}); });
  };
  events.cancellableProgress = [this](int done, int total, const std::string& label) {
    platform::runOnMainThread([=, this] {
      page_.post("progress", json{{"done", done}, {"total", total}, {"label", label}, {"cancellable", true}});
    });
  };
  events.report = [this](const std::string& line) {
    platform::runOnMainThread([this, line] { host_.writeReportLine(line); });
  };
  return events;
}

FetchedData ImportController::fetchForImport(const FetchRequest& request) {
  // Every transfer of this worker stops when the page cancels.
  const TransferCancelScope cancelScope(cancelRequested_);
  FetchContext ctx(request, FetchServices{client_, ogc_, municipalityCache_}, fetchEvents(), cancelRequested_);
  return runFetchPhases(ctx);
}

void ImportController::startFetch(FetchRequest request) {
  fetching_ = true;
  cancelRequested_ = false;
  page_.post("progress", json{{"done", 0}, {"total", 1}, {"label", "Pobieranie warstw"}});
  try {
    platform::WorkToken token;
    std::thread worker([this, request = std::move(request), token = std::move(token)]() mutable {
      FetchedData data;
      try {
        data = fetchFunction_ ? fetchFunction_(request) : fetchForImport(request);
      } catch (const std::exception& e) {
        data = FetchedData{};
        data.warning = std::string("Blad pobierania: ") + e.what();
      }
      platform::runOnMainThread([this, request = std::move(request), data = std::move(data)]() mutable {
        completeFetch(request, std::move(data));
      });
      // `token` is released here, after the completion has been queued.
    });
    worker.detach();
  } catch (const std::system_error&) {
    // No worker: keep later fetches possible, then report through the Bridge.
    fetching_ = false;
    throw;
  }
}

void ImportController::completeFetch(const FetchRequest& request, FetchedData data) {
  fetching_ = false;

  json counts = json::object();
  for (const auto& [label, n] : fetchCounts(data)) counts[label] = n;
  const bool isEmpty = holdsNothing(data);
  const std::string notes = data.warning;
  std::string preview;
  if (!data.features.empty()) preview = toGeoJson(data.features);

  lastData_ = std::move(data);
  lastBbox_ = request.frame;
  lastLayers_ = request.keys;
  hasData_ = !isEmpty;

  json done{{"counts", counts}};
  if (!preview.empty()) done["geojson"] = std::move(preview);
  if (isEmpty)
    done["warning"] = notes.empty() ? std::string("Nic nie pobrano dla tego obszaru.") : notes;
  else if (!notes.empty())
    done["warning"] = notes;
  if (!notes.empty()) host_.writeReportLine("VELDRA: " + notes);
  page_.post("fetchDone", done);
}

json ImportController::onGetLayers(const json&) {
  json names = json::array();
  std::vector<Attribute> layers;
  if (host_.listAttributes(AttributeKind::Layer, layers) == kHostOk)
    for (const auto& l : layers) names.push_back(l.name);
  json mapping = json::object();
  for (DataType t : Settings::wszystkieTypy()) mapping[typeKey(t)] = settings_.layerFor(t);
  return json{{"type", "layerList"}, {"layers", names}, {"mapping", mapping}};
}

json ImportController::onSettingsChanged(const json& msg) {
  if (!msg.is_object() || !msg.contains("mapping")) return nullptr;
  const auto& mapping = msg["mapping"].get_ref<const json::object_t&>();
  for (DataType t : Settings::wszystkieTypy()) {
    auto it = mapping.find(typeKey(t));
    if (it != mapping.end() && it->second.is_string()) settings_.layers[t] = it->second.get<std::string>();
  }
  settings_.save();
  return nullptr;
}

json ImportController::onGetInit(const json&) {
  const GeorefReading r = readProjectGeoref(host_);
  if (r.quality == GeorefQuality::None) return nullptr;
  std::pair<double, double> ll;
  if (r.epsg >= 2176 && r.epsg <= 2179)
    ll = pl2000ToWgs84(r.georef.E0, r.georef.N0, r.epsg);
  else
    ll = pl1992ToWgs84(r.georef.E0, r.georef.N0);
  return json{{"type", "init"}, {"lat", ll.first}, {"lon", ll.second}, {"zoom", 17}};
}

json ImportController::onCancel(const json&) {
  cancelRequested_ = true;
  return json{{"type", "cancelled"}};
}

}  // namespace veldra
