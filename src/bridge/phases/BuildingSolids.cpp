#include "bridge/phases/BuildingSolids.h"

#include <algorithm>
#include <set>

#include "geo/Projections.h"
#include "place/Solids.h"

namespace veldra {

namespace {

bool has(const std::vector<std::string>& keys, const char* k) { return std::find(keys.begin(), keys.end(), k) != keys.end(); }

std::string countyOf(const std::string& municipality) {
  return municipality.substr(0, std::min<std::size_t>(4, municipality.size()));
}

}  // namespace

Lod1PhaseResult runLod1BuildingsPhase(WfsClient& client, const std::string& municipality, const BuildingPhaseInput& in) {
  Lod1PhaseResult out;
  if (!has(in.keys, "budynki3d") && !has(in.keys, "dachychmura") && !has(in.keys, "budynkindsm") &&
      !has(in.keys, "budynkirekon"))
    return out;
  out.ran = true;
  Buildings3dFetch f = fetchBuildings3d(client, countyOf(municipality), in.frame, in.progress);
  out.buildings3d = std::move(f.buildings);
  out.buildings3dNote = f.note;
  out.notes.push_back(f.note);
  out.placeBuildings3d = has(in.keys, "budynki3d");
  return out;
}

Lod2PhaseResult runLod2BuildingsPhase(WfsClient& client, const std::string& municipality, const BuildingPhaseInput& in) {
  Lod2PhaseResult out;
  if (!has(in.keys, "budynkilod2")) return out;
  out.ran = true;
  BuildingsLod2Fetch f = fetchBuildingsLod2(client, countyOf(municipality), in.frame, in.progress);
  out.buildingsLod2 = std::move(f.buildings);
  out.buildingsLod2Note = f.note;
  out.notes.push_back(f.note);
  if (out.buildingsLod2.empty())
    out.notes.push_back("Brak budynkow LOD2 dla tego obszaru (pokrycie GUGiK ~236/380 powiatow).");
  return out;
}

void addBuildingFetchCounts(const std::vector<Building3D>& lod1, const std::vector<BuildingLod2>& lod2,
                            std::map<std::string, int>& counts) {
  if (!lod1.empty()) counts["budynki3d"] = static_cast<int>(lod1.size());
  if (!lod2.empty()) counts["budynkilod2"] = static_cast<int>(lod2.size());
}

std::map<std::string, int> placeBuildingSolids(Host& host, const BuildingPlacementInput& in,
                                               const std::function<int(DataType)>& layerFor, int& failures) {
  std::map<std::string, int> counts;
  const LocalAffine aff = makeLocalAffine(in.frame.minX, in.frame.minY, in.frame.maxX, in.frame.maxY, in.zone);
  const ProjectGeoref georef = in.georef;
  const ToLocal toLocal = [aff, georef](Point2 p) {
    const auto [e, n] = applyLocalAffine(aff, p.x, p.y);
    return veldra::toLocal(georef, e, n);
  };
  std::set<std::string> lod2Ids;
  if (in.buildingsLod2 && !in.buildingsLod2->empty()) {
    for (const auto& b : *in.buildingsLod2)
      if (!b.id.empty()) lod2Ids.insert(b.id);
    const SolidsPlacement p = placeLod2Buildings(host, *in.buildingsLod2, layerFor(DataType::BudynkiLod2), in.zOffset, toLocal);
    counts["budynkilod2"] = p.created;
    failures += p.skipped - p.degenerate;
  }
  if (in.placeBuildings3d && in.buildings3d && !in.buildings3d->empty()) {
    const Lod1Placement p = placeLod1Buildings(host, *in.buildings3d, lod2Ids, layerFor(DataType::Budynki3d), in.zOffset, toLocal);
    counts["budynki3d"] = p.placed;
    failures += p.failures;
  }
  return counts;
}

}  // namespace veldra
