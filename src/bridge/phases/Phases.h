// The phases of a fetch, one file each, run in this table's order. A phase
// runs when the request holds any of its keys; it reads the FetchContext and
// adds its results and notes. A failing service never stops the fetch: it
// becomes a note and the next phase runs.
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "bridge/FetchContext.h"
#include "cloud/FrameCloud.h"
#include "net/NationalCascades.h"
#include "place/FetchedData.h"

namespace veldra {

struct FetchPhase {
  const char* name;
  std::vector<std::string_view> keys;   // any of them wakes the phase
  void (*run)(FetchContext& ctx, FetchedData& data);
};

// All phases in their fixed order.
const std::vector<FetchPhase>& fetchPhases();

// Runs the woken phases in order until the request is cancelled; the notes of
// the fetch end up in FetchedData::warning. A cancelled fetch keeps what the
// finished phases gathered and ends with kFetchCancelledNote.
inline constexpr const char* kFetchCancelledNote = "Pobieranie przerwane przez uzytkownika - wynik niepelny.";
FetchedData runFetchPhases(FetchContext& ctx);

void fetchCadastre(FetchContext& ctx, FetchedData& data);
void fetchGeneralPlan(FetchContext& ctx, FetchedData& data);
void fetchLocalPlans(FetchContext& ctx, FetchedData& data);
void fetchUtilities(FetchContext& ctx, FetchedData& data);
void fetchBaseMap(FetchContext& ctx, FetchedData& data);
void fetchOrthophoto(FetchContext& ctx, FetchedData& data);
void fetchNmtTerrain(FetchContext& ctx, FetchedData& data);
void fetchCloudSurfaces(FetchContext& ctx, FetchedData& data);
void fetchLod1Buildings(FetchContext& ctx, FetchedData& data);
void fetchNdsmBuildings(FetchContext& ctx, FetchedData& data);
void fetchBridgesAndRoads(FetchContext& ctx, FetchedData& data);
void fetchLod2Buildings(FetchContext& ctx, FetchedData& data);
void fetchCloudRoofs(FetchContext& ctx, FetchedData& data);
void fetchLod2Reconstruction(FetchContext& ctx, FetchedData& data);
void fetchNmtContours(FetchContext& ctx, FetchedData& data);

// Shared by the county and municipal raster phases.
namespace phase_support {
// Metres per pixel of the county and municipal renderings for a raster scale.
double countyRasterDensity(int rasterScale);
// The capabilities text of a WMS; empty unless it answered 200.
std::string wmsCapabilities(FetchContext& ctx, const std::string& wms);
// Raster tiles of the frame from a WMS into data.rasters; the clamping notice
// joins the notes. Gives the number of tiles.
int rasterTiles(FetchContext& ctx, FetchedData& data, const std::string& wms, const std::string& layers,
                double metresPerPixel, DataType type, int epsg);
std::string joinNames(const std::vector<std::string>& names);
// What a national integration service needs to stand in for an office's own
// (the county density, the project's zone, data.rasters, the report window).
CascadeContext cascadeContext(FetchContext& ctx, FetchedData& data);
// The frame's LiDAR points for a phase fitting the LOD1 outlines; the notes of no tile, no
// point and the point limit begin with `prefix` ("Dachy z chmury: "). Empty when there is
// nothing to fit.
std::optional<FrameCloud> outlineCloud(FetchContext& ctx, const std::string& prefix);
}  // namespace phase_support

}  // namespace veldra
