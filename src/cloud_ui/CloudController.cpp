#include "cloud_ui/CloudController.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "bridge/Bridge.h"
#include "cloud/LidarResolver.h"
#include "geo/Bbox.h"
#include "geo/Projections.h"
#include "net/HttpTransport.h"
#include "place/ProjectGeoref.h"
#include "platform/AtomicFile.h"
#include "platform/MainLoop.h"
#include "platform/Paths.h"

namespace veldra {

using nlohmann::json;

namespace {

Host* g_processHost = nullptr;

const char* const kTitle = "Orvane Cloud";

json errorReply(const std::string& msg) { return json{{"type", "error"}, {"msg", msg}}; }

// The page's frame: exactly four numbers that usableFrame accepts.
bool readFrame(const json& msg, Wgs84Frame& frame) {
  if (!msg.is_object() || !msg.contains("bboxWgs84")) return false;
  const json& b = msg["bboxWgs84"];
  if (!b.is_array() || b.size() != 4) return false;
  for (int i = 0; i < 4; ++i)
    if (!b[i].is_number()) return false;
  frame = {b[0].get<double>(), b[1].get<double>(), b[2].get<double>(), b[3].get<double>()};
  return usableFrame(frame);
}

cloudui::Detail readDetail(const json& msg) {
  if (msg.contains("detail") && msg["detail"].is_string()) return cloudui::parseDetail(msg["detail"].get<std::string>());
  return cloudui::Detail::Standard;
}

json estimateMessage(const CloudEstimate& e, double density) {
  return json{{"points", e.points}, {"sizeMB", static_cast<double>(e.bytes) / 1e6}, {"overLimit", e.overLimit},
              {"density", density}};
}

std::string number(const char* fmt, double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, fmt, v);
  return buf;
}

// Copies through the atomic writer: an interrupted copy never replaces the previous cloud.
std::string copyFile(const std::filesystem::path& from, const std::filesystem::path& to) {
  std::ifstream in(from, std::ios::binary);
  if (!in) return "cannot read " + from.string();
  platform::AtomicFile out(to);
  if (!out.error().empty()) return out.error();
  std::vector<char> buf(1 << 20);
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const std::streamsize got = in.gcount();
    if (got > 0 && !out.append(std::string_view(buf.data(), static_cast<std::size_t>(got)))) return out.error();
  }
  if (in.bad()) return "cannot read " + from.string();
  return out.commit();
}

}  // namespace

bool usableFrame(const Wgs84Frame& f) {
  for (double v : {f.west, f.south, f.east, f.north})
    if (!std::isfinite(v)) return false;
  // Beyond these the projections give nothing meaningful.
  return std::fabs(f.south) <= 90 && std::fabs(f.north) <= 90 && std::fabs(f.west) <= 180 && std::fabs(f.east) <= 180;
}

CloudDownloadJob cloudDownloadJob(Host& host, const Wgs84Frame& f, cloudui::Detail detail) {
  CloudDownloadJob job;
  job.frame = bboxFromWgs84(f.west, f.south, f.east, f.north);
  job.detail = detail;
  job.zoneEpsg = pl2000ZoneForLongitude((f.west + f.east) / 2.0);
  GeoLocation loc;
  if (host.readGeoLocation(loc) == kHostOk) {
    const int named = findPlEpsgInText(loc.crsName);
    if (named >= 2176 && named <= 2179) job.zoneEpsg = named;
  }
  const GeorefReading georef = readProjectGeoref(host);
  if (georef.quality != GeorefQuality::None && georef.recordRead && georef.epsg == job.zoneEpsg) {
    job.originX = georef.record.surveyEasting;
    job.originY = georef.record.surveyNorthing;
    job.originZ = georef.record.surveyHeight;
    job.hasOrigin = true;
  }
  return job;
}

void CloudController::setProcessHost(Host* host) { g_processHost = host; }

CloudController& CloudController::instance() {
  // Function-local statics are initialised once, thread-safely.
  static CloudController* controller = [] {
    if (!g_processHost) throw std::logic_error("CloudController: no host attached");
    return new CloudController(*g_processHost);
  }();
  return *controller;
}

CloudController::CloudController(Host& host, HttpTransport* transport) : host_(host), transport_(transport) {}

void CloudController::registerHandlers(Bridge& bridge) {
  bridge.on("frameEstimate", [this](const json& m) { return onFrameEstimate(m); });
  bridge.on("download", [this](const json& m) { return onDownload(m); });
  bridge.on("cancel", [this](const json& m) { return onCancel(m); });
  bridge.on("setOrigin", [this](const json& m) { return onSetOrigin(m); });
  bridge.on("getInit", [this](const json& m) { return onGetInit(m); });
}

std::string CloudController::targetPath() {
  return (platform::userDataDir() / "Orvane_Cloud" / "ostatnia_chmura.e57").string();
}

json CloudController::onFrameEstimate(const json& msg) {
  Wgs84Frame f;
  if (!readFrame(msg, f)) return errorReply("Nieprawidlowy bbox");
  const Bbox frame = bboxFromWgs84(f.west, f.south, f.east, f.north);
  const double area = (frame.maxX - frame.minX) * (frame.maxY - frame.minY);
  const cloudui::Detail detail = readDetail(msg);
  const double density = cachedDensity_.load();
  const CloudEstimate now = estimateCloud(area, density, detail);
  const std::uint64_t generation = ++estimateGeneration_;

  // The index may know a better density. One worker asks it; a frame moved meanwhile waits as the
  // one request after it, and only the newest request's answer reaches the page.
  {
    const std::lock_guard<std::mutex> lock(estimateMutex_);
    waitingEstimate_ = EstimateRequest{frame, detail, area, density, generation};
    if (!estimateWorking_) {
      platform::WorkToken token;
      std::thread([this, token = std::move(token)] { runEstimates(); }).detach();
      estimateWorking_ = true;
    }
  }

  json reply = estimateMessage(now, density);
  reply["type"] = "estimateDone";
  return reply;
}

void CloudController::runEstimates() {
  WfsClient client(transport_);
  for (;;) {
    EstimateRequest r;
    {
      const std::lock_guard<std::mutex> lock(estimateMutex_);
      if (!waitingEstimate_) {
        estimateWorking_ = false;
        return;
      }
      r = *waitingEstimate_;
      waitingEstimate_.reset();
    }
    std::vector<LidarTile> tiles;
    try {
      tiles = LidarResolver(client).queryLidarIndex(r.frame);
    } catch (const std::exception&) {
      continue;   // the page keeps the immediate estimate
    }
    double best = 0;
    for (const LidarTile& t : tiles)
      if (std::isfinite(t.density)) best = std::max(best, t.density);
    if (!(best > 0) || estimateGeneration_.load() != r.generation) continue;
    cachedDensity_.store(best);
    if (std::fabs(best - r.density) < 0.01) continue;
    const CloudEstimate late = estimateCloud(r.area, best, r.detail);
    platform::runOnMainThread([this, late, best, generation = r.generation] {
      if (estimateGeneration_.load() == generation) page_.post("estimateDone", estimateMessage(late, best));
    });
  }
}

json CloudController::onDownload(const json& msg) {
  Wgs84Frame f;
  if (!readFrame(msg, f)) return errorReply("Nieprawidlowy bbox");
  if (busy_) return errorReply("Trwa pobieranie danych - sprobuj za chwile");
  const CloudDownloadJob job = cloudDownloadJob(host_, f, readDetail(msg));
  startDownload(job);
  return nullptr;
}

void CloudController::startDownload(CloudDownloadJob job) {
  busy_ = true;
  cancelRequested_ = false;
  page_.post("progress", json{{"label", "Pobieranie skorowidza LiDAR"}, {"pct", 0}});
  try {
    platform::WorkToken token;
    std::thread([this, job, token = std::move(token)] {
      // Every transfer of this worker, the index query included, stops when the page cancels.
      const TransferCancelScope scope(cancelRequested_);
      CloudDownloadEvents events;
      events.progress = [this](const std::string& label, double pct, bool cancellable) {
        platform::runOnMainThread([this, label, pct, cancellable] {
          json p{{"label", label}, {"pct", pct}};
          if (cancellable) p["cancellable"] = true;
          page_.post("progress", p);
        });
      };
      CloudDownloadResult result = runCloudDownload(job, client_, cancelRequested_, events, downloadOptions_);
      platform::runOnMainThread([this, result = std::move(result)]() mutable { completeDownload(std::move(result)); });
    }).detach();
  } catch (const std::system_error&) {
    busy_ = false;   // no worker: later downloads stay possible
    throw;
  }
}

void CloudController::writeDiagnostics(const CloudDownloadResult& r) {
  const GeorefReading g = readProjectGeoref(host_);
  const GeoLocation& rec = g.record;
  std::string t;
  t += "=== Orvane Cloud \xE2\x80\x94 diagnostyka zgrania ===\n";
  t += "punktow=" + std::to_string(r.count) + " placeEpsg=" + std::to_string(r.epsg) + "\n";
  t += "[CHMURA] offset(rog kadru PL-2000) offE=" + number("%.3f", r.offE) + " offN=" + number("%.3f", r.offN) + "\n";
  t += "[CHMURA] bbox lokalny lx[" + number("%.3f", r.minX) + ".." + number("%.3f", r.maxX) + "] ly[" +
       number("%.3f", r.minY) + ".." + number("%.3f", r.maxY) + "]\n";
  t += "[CHMURA] Z bezwzgledne(npm) z[" + number("%.3f", r.minZ) + ".." + number("%.3f", r.maxZ) + "]\n";
  t += "[PROJEKT] survey point quality=" + std::to_string(static_cast<int>(g.quality)) + " east=" +
       number("%.3f", rec.surveyEasting) + " north=" + number("%.3f", rec.surveyNorthing) + " rot(rad)=" +
       number("%.6f", g.georef.a) + " epsg=" + std::to_string(g.epsg) + "\n";
  t += "[PROJEKT] orthogonalHeight=" + number("%.3f", rec.surveyHeight) + "\n";
  t += "--- oczekiwany rozjazd: XY = offset chmury vs survey point; Z = orthogonalHeight (chmura wyzej) ---\n";
  platform::rewriteDiagFile("orvane_cloud_diag.txt", t);
}

void CloudController::completeDownload(CloudDownloadResult result) {
  busy_ = false;
  bool ok = result.ok;
  std::string msg = result.message;
  if (ok) {
    writeDiagnostics(result);
    const std::string target = targetPath();
    const std::string err = copyFile(result.path, target);
    if (!err.empty()) {
      ok = false;
      msg = "Nie udalo sie zapisac chmury punktow w " + target + ".";
    } else {
      host_.showAlert(AlertRequest{AlertKind::Information, kTitle,
                                   "Chmura punktow gotowa i zgrana z projektem.\n"
                                   "Zaimportuj ja: Plik > Interoperacyjnosc > Chmura punktow -> wskaz plik:\n" +
                                       target,
                                   {"OK"}});
      msg = "Chmura zapisana: " + target + " - zaimportuj: Plik > Interoperacyjnosc > Chmura punktow.";
    }
  }
  if (!result.path.empty()) {
    std::error_code ec;
    std::filesystem::remove(result.path, ec);
  }
  page_.post("downloadDone", json{{"ok", ok}, {"msg", msg}});
}

json CloudController::onCancel(const json&) {
  cancelRequested_ = true;
  return json{{"type", "cancelled"}};
}

json CloudController::onSetOrigin(const json& msg) {
  if (!msg.is_object() || !msg.contains("lat") || !msg.contains("lon") || !msg["lat"].is_number() ||
      !msg["lon"].is_number())
    return errorReply("Brak wspolrzednych srodka mapy");
  const double lat = msg["lat"].get<double>(), lon = msg["lon"].get<double>();
  if (!std::isfinite(lat) || !std::isfinite(lon)) return errorReply("Brak wspolrzednych srodka mapy");
  const int zone = pl2000ZoneForLongitude(lon);
  const auto [e92, n92] = wgs84ToPl1992(lat, lon);
  const auto [E, N] = pl1992ToPl2000(e92, n92, zone);

  GeoLocation g;
  if (host_.readGeoLocation(g) != kHostOk) return errorReply("Nie mozna odczytac georeferencji projektu");
  g.crsName = "EPSG:" + std::to_string(zone);
  g.geodeticDatum = "ETRF2000 (PL-ETRF2000)";
  g.mapProjection = "PL-2000";
  g.surveyEasting = E;
  g.surveyNorthing = N;
  g.scale = 1.0;
  if (host_.writeGeoLocation(g) != kHostOk) return errorReply("Nie udalo sie zapisac georeferencji projektu");

  host_.writeReportLine("Orvane Cloud: ustawiono georeferencje projektu: E=" + number("%.2f", E) +
                        " N=" + number("%.2f", N) + " (EPSG:" + std::to_string(zone) + ")");
  return json{{"type", "originSet"}, {"e", E}, {"n", N}};
}

json CloudController::onGetInit(const json&) {
  const GeorefReading r = readProjectGeoref(host_);
  if (r.quality == GeorefQuality::None) return nullptr;
  const std::pair<double, double> ll = (r.epsg >= 2176 && r.epsg <= 2179) ? pl2000ToWgs84(r.georef.E0, r.georef.N0, r.epsg)
                                                                         : pl1992ToWgs84(r.georef.E0, r.georef.N0);
  return json{{"type", "init"}, {"lat", ll.first}, {"lon", ll.second}, {"zoom", 17}};
}

}  // namespace veldra
