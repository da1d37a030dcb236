// The fetch pipeline: each requested phase asks its services, parses what
// comes back and adds its notes; a failing service never stops the fetch.
#include <algorithm>
#include <cmath>
#include <string>
#include <utility>
#include <vector>

#include "bridge/ImportController.h"
#include "formats/GmlParser.h"
#include "geo/Projections.h"
#include "net/Endpoints.h"
#include "net/LocalServices.h"
#include "net/NationalIndexes.h"
#include "net/OgcClient.h"
#include "net/RasterTiles.h"
#include "net/ServiceDirectory.h"
#include "net/UrbanRegistry.h"
#include "platform/MainLoop.h"
#include "terrain/Contours.h"
#include "terrain/ElevationGrid.h"
#include "terrain/TerrainPatches.h"

namespace veldra {

namespace {

constexpr long kSheetTimeoutMs = 240000;
constexpr const char* kBdot10kBuildingsType = "ms:bud_2025";
constexpr const char* kOrthoLayer = "Raster";
constexpr double kOrthoMetresPerPixel = 0.25;

bool hasKey(const std::vector<std::string>& keys, const char* key) {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

std::string joinNames(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) {
    if (!out.empty()) out += ',';
    out += n;
  }
  return out;
}

// Drawing layers of a municipal plan WMS: names with "rysun"; else names
// without any of the auxiliary words; else every name.
std::vector<std::string> planDrawingLayers(const std::vector<std::string>& names) {
  std::vector<std::string> drawing;
  for (const auto& n : names)
    if (lowerAscii(n).find("rysun") != std::string::npos) drawing.push_back(n);
  if (!drawing.empty()) return drawing;
  static const char* const kAuxiliary[] = {"granic", "zasieg", "obrys", "zbior", "aktplanowania"};
  for (const auto& n : names) {
    const std::string low = lowerAscii(n);
    if (std::none_of(std::begin(kAuxiliary), std::end(kAuxiliary),
                     [&](const char* w) { return low.find(w) != std::string::npos; }))
      drawing.push_back(n);
  }
  if (!drawing.empty()) return drawing;
  return names;
}

TileProgressFn progressWith(const std::string& label) {
  return [label](int done, int total) { ImportController::postProgress(done, total, label); };
}

// Metres per pixel of the county and municipal renderings.
double countyRasterDensity(int rasterScale) {
  const int s = (rasterScale < 100 || rasterScale > 10000) ? 1000 : rasterScale;
  return s * 0.00028;
}

// The NMT sheets of the frame, downloaded and read; `found` tells whether the
// index had any sheet at all. A year whose index request failed is noted once.
std::vector<ElevationGrid> loadNmtGrids(WfsClient& client, const Bbox& frame, const std::string& label,
                                        bool& found, std::string& notes) {
  std::vector<ElevationGrid> grids;
  const SheetSearch search = searchNmtIndex(client, frame);
  if (const std::string n = failedYearsNote("NMT", search); notes.find(n) == std::string::npos) appendNote(notes, n);
  const std::vector<SheetRecord>& sheets = search.sheets;
  found = !sheets.empty();
  const int n = static_cast<int>(sheets.size());
  for (int i = 0; i < n; ++i) {
    ImportController::postProgress(i, n, label);
    std::string error;
    const std::string path = client.getCachedFile(sheets[static_cast<std::size_t>(i)].url, {}, kSheetTimeoutMs, error);
    if (path.empty()) continue;
    ElevationGrid grid;
    if (readAsciiGrid(path, grid)) grids.push_back(std::move(grid));
  }
  return grids;
}

}  // namespace

FetchedData ImportController::fetchForImport(const Bbox& frame, const std::vector<std::string>& keys,
                                             int rasterScale, int terrainStep, double contourCut,
                                             std::string notes) {
  FetchedData data;
  OgcClient& ogc = ogc_;
  const double countyDensity = countyRasterDensity(rasterScale);
  auto note = [&notes](const std::string& text) { appendNote(notes, text); };
  auto report = [this](const std::string& line) {
    platform::runOnMainThread([this, line] { host_.writeReportLine(line); });
  };
  // A WMS rendering of the frame; the clamping notice joins the notes.
  auto rasterTiles = [&](const std::string& wms, const std::string& layers, double density, DataType type,
                         int epsg) {
    const RasterFetchResult r = fetchRasterTiles(client_, frame, wms, layers, density, type, epsg, data.rasters, report);
    note(r.notice);
    return r.tiles;
  };
  // The capabilities text of a county or municipal WMS; empty unless it answered 200.
  auto wmsCapabilities = [&](const std::string& wms) {
    HttpResponse r = client_.get(capabilitiesUrl(wms, "WMS"));
    return r.status == 200 ? std::move(r.body) : std::string();
  };
  // Addresses the user keeps for offices the compiled directories lack.
  const LocalServiceFile localServices = loadLocalServices();
  for (const auto& problem : localServices.problems) report("VELDRA: " + problem);

  // Phase 1: cadastre.
  const bool wantParcels = hasKey(keys, "dzialki");
  const bool wantBuildings = hasKey(keys, "budynki");
  if (wantParcels || wantBuildings) {
    const std::string code = resolveMunicipality(client_, municipalityCache_, frame);
    const std::string county = code.substr(0, std::min<std::size_t>(4, code.size()));
    const std::string wfs = findService(localServices, ServiceKind::Egib, code).wfs;
    std::vector<GisFeature> parcels;
    std::vector<GisFeature> buildings;
    if (wfs.empty()) {
      note(code.empty() ? "Nie udalo sie ustalic powiatu dla widoku."
                        : "Powiat (TERYT " + county + ") nie publikuje WFS EGiB w EZiU.");
    } else {
      LayerPair types;
      if (!ogc.resolveLayers(wfs, types)) {
        note("Powiatowa usluga WFS EGiB nie odpowiada.");
      } else {
        if (wantParcels && !types.parcels.empty())
          parcels = ogc.fetchFeatures(wfs, types.parcels, frame, DataType::Dzialki, progressWith("Import: dzialki"));
        if (wantBuildings && !types.buildings.empty())
          buildings =
              ogc.fetchFeatures(wfs, types.buildings, frame, DataType::Budynki, progressWith("Import: budynki"));
        report("VELDRA EGiB [TERYT " + code + "] " + wfs + " | tn.dzialki='" + types.parcels + "' -> " +
               std::to_string(parcels.size()) + " | tn.budynki='" + types.buildings + "' -> " +
               std::to_string(buildings.size()));
      }
    }
    if (wantParcels && parcels.empty()) note("Brak dzialek dla tego obszaru.");
    if (wantBuildings && buildings.empty()) {
      if (!parcels.empty())
        note("Powiatowa usluga zwraca dzialki, ale nie filtruje budynkow po obszarze (blad konfiguracji serwera "
             "powiatu - np. Zabrze).");
      const std::string gml =
          ogc.getFeaturesTiled(endpoints::url(endpoints::Service::Bdot10kNewBuildingsWfs), kBdot10kBuildingsType,
                               frame, progressWith("Import: budynki (BDOT10k)"), true, false, 2180);
      buildings = removeDuplicateFeatures(GmlParser::parseFeatureCollection(gml, DataType::Budynki));
      if (!buildings.empty()) note("Budynki z BDOT10k NoweBudynki (fallback - tylko nowe obiekty).");
    }
    for (auto& f : parcels) data.features.push_back(std::move(f));
    for (auto& f : buildings) data.features.push_back(std::move(f));
  }

  // Phases 2 and 3 share one municipality code.
  const bool wantPog = hasKey(keys, "pog");
  const bool wantMpzp = hasKey(keys, "mpzp");
  if (wantPog || wantMpzp) {
    const std::string code = resolveMunicipality(client_, municipalityCache_, frame);
    if (code.empty()) {
      note("MPZP/POG pominiete: nie udalo sie ustalic gminy (TERYT) dla widoku.");
    } else {
      // Phase 2: general plan.
      if (wantPog) {
        PlanAct act;
        if (!chooseAct(queryActs(client_, code), "MUNICIPAL_GENERAL_PLAN", act)) {
          note("Brak POG dla gminy " + code + " (Plan Ogolny jeszcze nieuchwalony w Rejestrze Urbanistycznym).");
        } else {
          std::size_t kept = 0;
          for (auto& zone : downloadAct(client_, act.publishedActId, DataType::Pog)) {
            // Label point or any vertex inside the frame, edges included.
            if (!featureTouchesFrame(zone, frame)) continue;
            data.features.push_back(std::move(zone));
            ++kept;
          }
          if (kept == 0) note("POG gminy " + code + ": akt jest, ale zadna strefa nie wpada w kadr.");
        }
      }
      // Phase 3: local plans.
      if (wantMpzp) {
        const std::string wms = findService(localServices, ServiceKind::Plans, code).wms;
        if (wms.empty()) {
          note("Brak MPZP dla gminy " + code + ": brak uslugi WMS w EZiU.");
        } else {
          const std::string caps = wmsCapabilities(wms);
          const std::vector<std::string> layers = caps.empty() ? std::vector<std::string>{}
                                                               : planDrawingLayers(wmsLayerChoice(caps, DataType::Mpzp));
          int tiles = 0;
          if (!layers.empty())
            tiles = rasterTiles(wms, joinNames(layers), countyDensity, DataType::Mpzp, epsgFromSrsName(caps, epsg_));
          note(tiles > 0 ? "MPZP: pobrano rysunek planu (rastr) z uslugi gminnej dla " + code + "."
                         : "MPZP gminy " + code + ": usluga WMS nie odpowiada albo nie ma rysunku planu.");
        }
      }
    }
  }

  // Phase 4: utility networks.
  if (hasKey(keys, "gesut")) {
    const std::string code = resolveMunicipality(client_, municipalityCache_, frame);
    const ServiceAddresses svc = findService(localServices, ServiceKind::Gesut, code);
    std::size_t found = 0;
    if (!svc.wfs.empty()) {
      HttpResponse caps = client_.get(capabilitiesUrl(svc.wfs, "WFS"));
      if (caps.status == 200) {
        for (const auto& type : gesutWfsTypes(caps.body)) {
          for (auto& f : ogc.fetchFeatures(svc.wfs, type, frame, DataType::Gesut, progressWith("GESUT (WFS)"))) {
            f.attributes["rodzajSieci"] = type;
            data.features.push_back(std::move(f));
            ++found;
          }
        }
      }
    }
    if (found == 0) {
      if (!svc.wms.empty()) {
        const std::string caps = wmsCapabilities(svc.wms);
        int tiles = 0;
        if (!caps.empty()) {
          std::vector<std::string> layers = wmsLayerChoice(caps, DataType::Gesut);
          if (layers.empty()) layers = wmsLayerChoice(caps, DataType::Mpzp);   // every layer
          if (!layers.empty())
            tiles = rasterTiles(svc.wms, joinNames(layers), countyDensity, DataType::Gesut,
                                epsgFromSrsName(caps, epsg_));
        }
        note(tiles > 0 ? "GESUT jako rastr (WMS powiatowy) - brak WFS lub brak przewodow w WFS."
                       : "GESUT: powiatowa usluga nie odpowiada.");
      } else if (svc.wfs.empty()) {
        note("GESUT: powiat nie publikuje uslugi w EZiU.");
      }
    }
  }

  // Phase 5: base map.
  if (hasKey(keys, "bdot500")) {
    const std::string code = resolveMunicipality(client_, municipalityCache_, frame);
    const std::string wms = findService(localServices, ServiceKind::Bdot500, code).wms;
    if (wms.empty()) {
      note("BDOT500: powiat nie publikuje uslugi w EZiU.");
    } else {
      const std::string caps = wmsCapabilities(wms);
      int tiles = 0;
      if (!caps.empty()) {
        std::vector<std::string> layers = wmsLayerChoice(caps, DataType::Bdot500);
        if (layers.empty()) layers = wmsLayerChoice(caps, DataType::Mpzp);   // every layer
        if (!layers.empty())
          tiles = rasterTiles(wms, joinNames(layers), countyDensity, DataType::Bdot500, epsgFromSrsName(caps, epsg_));
      }
      if (tiles == 0) note("BDOT500: usluga WMS nie odpowiada.");
    }
  }

  // Phase 6: orthophoto, always at 0.25 m per pixel in the project's zone.
  if (hasKey(keys, "rastr")) {
    if (rasterTiles(endpoints::url(endpoints::Service::OrthoWms), kOrthoLayer, kOrthoMetresPerPixel, DataType::Rastry,
                    epsg_) == 0)
      note("Ortofotomapa WMS nie odpowiada - rastr pominiety.");
  }

  // Phase 7: terrain from NMT.
  if (hasKey(keys, "teren")) {
    bool found = false;
    const std::vector<ElevationGrid> grids = loadNmtGrids(client_, frame, "Pobieranie NMT", found, notes);
    if (!found) {
      note("Teren: brak kafli NMT dla tego obszaru w skorowidzu.");
    } else if (grids.empty()) {
      note("Teren: nie udalo sie pobrac/sparsowac zadnego pliku NMT.");
    } else {
      TerrainPatchSet set = buildTerrainPatches(frame, terrainStep, makeGridSampler(grids));
      const bool anyPoint = std::any_of(set.patches.begin(), set.patches.end(),
                                        [](const TerrainPatch& p) { return !p.points.empty(); });
      data.terrainNote = set.message;
      note(set.message);
      if (anyPoint)
        data.terrain.push_back(std::move(set));
      else
        note("Teren: brak waznych punktow NMT w kadrze.");
    }
  }

  // Phase 8: terrain, contours and water from LiDAR.
  // Phase 9: LOD1 buildings.
  // Phase 10: buildings from the normalised surface model.
  // Phase 11: bridges and roads.
  // Phase 12: LOD2 buildings.
  // Phase 13: roofs from LiDAR.
  // Phase 14: LOD2 reconstruction.

  // Phase 15: contours from NMT.
  if (hasKey(keys, "poziomice2d") || hasKey(keys, "poziomice3d")) {
    if (!isAllowedContourInterval(contourCut)) {
      note(contourIntervalNotice(contourCut));
    } else {
      bool found = false;
      const std::vector<ElevationGrid> grids = loadNmtGrids(client_, frame, "Poziomice: NMT", found, notes);
      if (!found) {
        note("Poziomice: brak kafli NMT dla tego obszaru w skorowidzu.");
      } else if (grids.empty()) {
        note("Poziomice: nie udalo sie pobrac zadnego pliku NMT.");
      } else {
        std::string stepNote;
        const double step = contourGridStep(frame, terrainStep, stepNote);
        note(stepNote);
        ContourLattice lattice = buildContourLattice(frame, step, makeGridSampler(grids));
        if (lattice.validCount() == 0) {
          note("Poziomice: caly probkowany obszar to NODATA (brak danych NMT dla tego kadru).");
        } else {
          if (smoothContours_) smoothLattice(lattice);
          std::string message;
          data.contours = ContourBuilder::build(
              lattice, contourCut, message, ContourLimits{}, [this] { return cancelRequested_.load(); }, nullptr,
              [](int done, int total) { postCountedProgress(done, total, "Poziomice: liczenie warstwic"); });
          for (const auto& c : data.contours) {
            if (!c.index) continue;
            auto labels = labelContour(c);
            data.contourLabels.insert(data.contourLabels.end(), labels.begin(), labels.end());
          }
          data.contoursNote = message;
          note(message);
        }
      }
    }
  }

  data.warning = std::move(notes);
  return data;
}

}  // namespace veldra
