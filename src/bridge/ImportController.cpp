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

  const Bbox frame = bboxFromWgs84(west, south, east, north);
  int zone = pl2000ZoneForLongitude((west + east) / 2.0);
  GeoLocation loc;
  if (host_.readGeoLocation(loc) == kHostOk) {
    const int named = findPlEpsgInText(loc.crsName);
    if (named >= 2176 && named <= 2179) zone = named;
  }
  epsg_ = zone;
  smoothContours_ = smooth;
  cloudTerrainStep_ = cloudStep;

  startFetch(frame, keys, rasterScale, terrainStep, contourCut);
  return nullptr;
}

void ImportController::startFetch(const Bbox& frame, const std::vector<std::string>& keys, int rasterScale,
                                  int terrainStep, double contourCut) {
  fetching_ = true;
  cancelRequested_ = false;
  postToPage("progress", json{{"done", 0}, {"total", 1}, {"label", "Pobieranie warstw"}});
  try {
    platform::WorkToken token;
    std::thread worker([this, frame, keys, rasterScale, terrainStep, contourCut, token = std::move(token)]() mutable {
      FetchedData data;
      try {
        data = fetchFunction_ ? fetchFunction_(frame, keys, rasterScale, terrainStep, contourCut)
                              : fetchForImport(frame, keys, rasterScale, terrainStep, contourCut, std::string());
      } catch (const std::exception& e) {
        data = FetchedData{};
        data.warning = std::string("Blad pobierania: ") + e.what();
      }
      platform::runOnMainThread([this, frame, keys, data = std::move(data)]() mutable {
        completeFetch(frame, keys, std::move(data));
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

void ImportController::completeFetch(const Bbox& frame, const std::vector<std::string>& keys, FetchedData data) {
  fetching_ = false;

  json counts = json::object();
  for (const auto& f : data.features) {
    const std::string key = typeKey(f.type);
    counts[key] = counts.value(key, 0) + 1;
  }
  for (const auto& r : data.rasters) {
    const std::string key = typeKey(r.type) + " (rastr)";
    counts[key] = counts.value(key, 0) + 1;
  }
  if (!data.terrain.empty()) counts["teren (Siatka)"] = data.terrain.size();
  if (!data.contours.empty()) counts["poziomice (warstwice)"] = data.contours.size();

  const bool isEmpty = data.empty();
  const std::string notes = data.warning;
  std::string preview;
  if (!data.features.empty()) preview = toGeoJson(data.features);

  lastData_ = std::move(data);
  lastBbox_ = frame;
  lastLayers_ = keys;
  hasData_ = !isEmpty;

  json done{{"counts", counts}};
  if (!preview.empty()) done["geojson"] = std::move(preview);
  if (isEmpty)
    done["warning"] = notes.empty() ? std::string("Nic nie pobrano dla tego obszaru.") : notes;
  else if (!notes.empty())
    done["warning"] = notes;
  if (!notes.empty()) host_.writeReportLine("VELDRA: " + notes);
  postToPage("fetchDone", done);
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

void ImportController::postProgress(int done, int total, const std::string& label) {
  platform::runOnMainThread(
      [=] { postToPage("progress", json{{"done", done}, {"total", total}, {"label", label}}); });
}

void ImportController::postPercentProgress(int percent, const std::string& label) {
  platform::runOnMainThread([=] {
    postToPage("progress", json{{"done", percent}, {"total", 100}, {"label", label}, {"cancellable", true}});
  });
}

void ImportController::postCountedProgress(int done, int total, const std::string& label) {
  platform::runOnMainThread([=] {
    postToPage("progress", json{{"done", done}, {"total", total}, {"label", label}, {"cancellable", true}});
  });
}

}  // namespace veldra
