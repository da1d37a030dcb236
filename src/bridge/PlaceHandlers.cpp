// "place" and "setOrigin": the handlers that change the project.
#include <cmath>
#include <cstdint>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include <nlohmann/json.hpp>

#include "bridge/ImportController.h"
#include "bridge/OriginHeight.h"
#include "net/NationalIndexes.h"
#include "place/DataKinds.h"
#include "place/Placement.h"
#include "place/ProjectGeoref.h"
#include "place/Solids.h"
#include "platform/MainLoop.h"
#include "terrain/ElevationGrid.h"

namespace veldra {

using nlohmann::json;

namespace {

json errorReply(const std::string& msg) { return json{{"type", "error"}, {"msg", msg}}; }
const char* const kBusyText = "Trwa pobieranie danych - sprobuj za chwile";
const char* const kOriginCommand = "Lokalizacja projektu wg mapy";
const char* const kOriginHeightCommand = "Wysokosc lokalizacji projektu";

std::mutex g_lookupMutex;
OriginHeightLookup g_lookup;

std::string wholeMetres(double v) {
  if (!std::isfinite(v) || std::fabs(v) > 9e18) return "0";
  return std::to_string(static_cast<long long>(v));
}

bool hasKey(const std::vector<std::string>& keys, const char* key) {
  for (const auto& k : keys)
    if (k == key) return true;
  return false;
}

}  // namespace

std::optional<double> nationalTerrainHeight(double e1992, double n1992) {
  constexpr long kSheetTimeoutMs = 60000;
  try {
    WfsClient client;
    const Bbox frame{e1992 - 1.0, n1992 - 1.0, e1992 + 1.0, n1992 + 1.0};
    const std::vector<SheetRecord> sheets = queryNmtIndex(client, frame);
    if (sheets.empty()) return std::nullopt;
    std::string error;
    const std::string path = client.getCachedFile(sheets.front().url, {}, kSheetTimeoutMs, error);
    if (path.empty()) return std::nullopt;
    ElevationGrid grid;
    if (!readAsciiGrid(path, grid)) return std::nullopt;
    return sampleGrid(grid, e1992, n1992);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void setOriginHeightLookup(OriginHeightLookup lookup) {
  std::lock_guard<std::mutex> lock(g_lookupMutex);
  g_lookup = std::move(lookup);
}

OriginHeightLookup originHeightLookup() {
  std::lock_guard<std::mutex> lock(g_lookupMutex);
  if (g_lookup) return g_lookup;
  return &nationalTerrainHeight;
}

json ImportController::onPlace(const json&) {
  if (!hasData_) return errorReply("Najpierw kliknij \"1. Pobierz elementy\".");
  if (fetching_) return errorReply(kBusyText);

  PlacementGeorefInput in;
  in.currentZone = epsg_;
  in.frameMinX = lastBbox_.minX;
  in.frameMinY = lastBbox_.minY;
  in.frameMaxX = lastBbox_.maxX;
  in.frameMaxY = lastBbox_.maxY;
  in.zAnchor = settings_.zAnchor;
  in.hasZAnchor = settings_.hasZAnchor;
  for (const auto& set : lastData_.terrain) {
    bool any = false;
    for (const auto& patch : set.patches) {
      in.terrainMinZ = lowestTerrainZ(patch.points, in.terrainMinZ);
      any = any || !patch.points.empty();
    }
    if (any) ++in.gridTerrainSets;
  }
  for (const auto& set : lastData_.cloudTerrain) {
    for (const auto& patch : set.patches) in.terrainMinZ = lowestTerrainZ(patch.points, in.terrainMinZ);
    if (!set.patches.empty()) ++in.cloudTerrainSets;
  }
  const PlacementGeorefResult geo = checkPlacementGeoref(host_, in);
  if (geo.refused) return errorReply(geo.error);
  if (geo.zAnchorChanged) {
    settings_.zAnchor = geo.newZAnchor;
    settings_.hasZAnchor = true;
    settings_.save();
  }
  const PlacementData data = moveToZone(lastData_, lastBbox_, geo.zone);
  ImportOptions options;
  options.terrainZOffset = geo.terrainZOffset;
  options.smoothContours = smoothContours_;
  {
    GeoLocation loc;
    const bool surveyRead = host_.readGeoLocation(loc) == kHostOk;
    const bool terrainFetched = in.gridTerrainSets > 0 || in.cloudTerrainSets > 0;
    options.buildingZOffset = buildingZOffset(terrainFetched, geo.terrainZOffset, surveyRead, loc.surveyHeight,
                                              settings_.hasZAnchor ? settings_.zAnchor : 0.0);
  }
  // Contours are built when either kind was asked for; place only the kinds asked for.
  const bool any2d = hasKey(lastLayers_, "poziomice2d"), any3d = hasKey(lastLayers_, "poziomice3d");
  options.contours2d = any2d || !any3d;
  options.contours3d = any3d || !any2d;
  const ImportOutcome outcome = runImport(host_, geo.georef, geo.zone, data, options, [this](DataType t) {
    auto it = settings_.layers.find(t);
    return it == settings_.layers.end() ? std::string() : it->second;
  });
  if (outcome.failed())
    return errorReply(outcome.result.error.empty() ? std::string("Import nieudany (transakcja wycofana)")
                                                   : outcome.result.error);

  const PlacementResult& res = outcome.result;
  std::string warning;
  for (const auto& n : geo.notices) appendNote(warning, n);
  appendNote(warning, lastData_.warning);
  for (const auto& n : res.notices) appendNote(warning, n);
  if (res.failures >= 1)
    appendNote(warning, "Pominieto " + std::to_string(res.failures) + " wadliwych geometrii lub bryl.");
  if (res.hasBox)
    host_.writeReportLine("VELDRA: wektory w lokalnych wsp. X[" + wholeMetres(res.minX) + ".." +
                          wholeMetres(res.maxX) + "] Y[" + wholeMetres(res.minY) + ".." + wholeMetres(res.maxY) +
                          "] m od zera projektu.");
  json counts = json::object();
  for (const auto& [k, v] : res.counts) counts[k] = v;
  json reply{{"type", "placeDone"}, {"counts", counts}};
  if (!warning.empty()) {
    reply["warning"] = warning;
    host_.writeReportLine("VELDRA: " + warning);
  }
  return reply;
}

json ImportController::onSetOrigin(const json& msg) {
  if (!msg.is_object() || !msg.contains("lat") || !msg.contains("lon") || !msg["lat"].is_number() ||
      !msg["lon"].is_number())
    return errorReply("Brak wspolrzednych srodka mapy");
  const double lat = msg["lat"].get<double>();
  const double lon = msg["lon"].get<double>();
  // Undoable like every change of the project: a change outside a command would end the
  // host's undo history.
  OriginWriteResult r;
  const HostErr rc = host_.runUndoableCommand(kOriginCommand, [&] {
    r = writeProjectOrigin(host_, lat, lon);
    return r.ok ? kHostOk : kHostErrRefused;
  });
  if (!r.ok || rc != kHostOk)
    return errorReply(!r.error.empty() ? r.error
                                       : "Nie udalo sie zapisac georeferencji projektu (kod " + std::to_string(rc) + ").");
  host_.writeReportLine(r.reportLine);

  // The terrain height comes later, as a step of its own, and only for the newest origin: a
  // late answer for an earlier one is dropped. Failures leave the height at 0 silently.
  const auto [e92, n92] = pl2000ToPl1992(r.E, r.N, r.zone);
  OriginHeightLookup lookup = originHeightLookup();
  Host* host = &host_;
  const std::uint64_t request = ++*originRequest_;
  try {
    platform::WorkToken token;
    std::thread([lookup = std::move(lookup), e92 = e92, n92 = n92, host, request, latest = originRequest_,
                 token = std::move(token)]() mutable {
      std::optional<double> h;
      try {
        h = lookup(e92, n92);
      } catch (...) {
        h.reset();
      }
      if (h && std::isfinite(*h)) {
        const double v = *h;
        platform::runOnMainThread([host, v, request, latest] {
          if (request != *latest) return;
          host->runUndoableCommand(kOriginHeightCommand, [&] { return writeOriginHeight(*host, v); });
        });
      }
    }).detach();
  } catch (const std::system_error&) {
    // No worker: the height stays 0.
  }
  return json{{"type", "originSet"}, {"e", r.E}, {"n", r.N}, {"h", 0.0}, {"epsg", r.zone}};
}

}  // namespace veldra
