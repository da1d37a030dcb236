// Fetch phases of the national 3D building packages (LOD1 blocks, LOD2
// buildings) and the placement of what they fetched, as free functions with
// their inputs and notes, ready for the ordered phase table.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "formats/CityGml.h"
#include "formats/DataType.h"
#include "geo/Bbox.h"
#include "hostapi/Host.h"
#include "net/BuildingPackages.h"
#include "place/ProjectGeoref.h"

namespace veldra {

struct BuildingPhaseInput {
  Bbox frame;
  std::vector<std::string> keys;
  PackageProgress progress;   // download bytes and sheets; either may cancel
};

struct Lod1PhaseResult {
  bool ran = false;
  std::vector<Building3D> buildings3d;
  std::string buildings3dNote;
  bool placeBuildings3d = false;   // "budynki3d" asked for, not only the outlines for other phases
  std::vector<std::string> notes;
};
// Runs when any of "budynki3d", "dachychmura", "budynkindsm", "budynkirekon" is asked for.
// `municipality` is the frame's TERYT code (its first four digits name the
// county), empty when it could not be found.
Lod1PhaseResult runLod1BuildingsPhase(WfsClient& client, const std::string& municipality, const BuildingPhaseInput& in);

struct Lod2PhaseResult {
  bool ran = false;
  std::vector<BuildingLod2> buildingsLod2;
  std::string buildingsLod2Note;
  std::vector<std::string> notes;
};
// Runs for "budynkilod2".
Lod2PhaseResult runLod2BuildingsPhase(WfsClient& client, const std::string& municipality, const BuildingPhaseInput& in);

// "fetchDone" counts: "budynki3d" (also when fetched only as outlines) and
// "budynkilod2", each only when its list is not empty.
void addBuildingFetchCounts(const std::vector<Building3D>& lod1, const std::vector<BuildingLod2>& lod2,
                            std::map<std::string, int>& counts);

struct BuildingPlacementInput {
  const std::vector<Building3D>* buildings3d = nullptr;
  bool placeBuildings3d = false;
  const std::vector<BuildingLod2>* buildingsLod2 = nullptr;
  Bbox frame;          // PL-1992, for the move into the zone
  int zone = 2180;
  ProjectGeoref georef;
  double zOffset = 0;  // buildingZOffset
};
// Places LOD2 morphs, then LOD1 slabs where LOD2 has none; "placeDone" counts
// "budynki3d" (slabs) and "budynkilod2" (morphs); failures are added up.
std::map<std::string, int> placeBuildingSolids(Host& host, const BuildingPlacementInput& in,
                                               const std::function<int(DataType)>& layerFor, int& failures);

}  // namespace veldra
