// Bridge decks and road ribbons along OpenStreetMap corridors.
#include "bridge/phases/Phases.h"

#include "bridge/NdsmModelLoad.h"
#include "net/Geocoding.h"
#include "terrain/Corridor.h"
#include "terrain/SurfaceOverPolygon.h"

namespace veldra {

void fetchBridgesAndRoads(FetchContext& ctx, FetchedData& data) {
  const bool wantBridges = ctx.has("mosty");
  const bool wantRoads = ctx.has("drogi");
  std::string error;
  const std::vector<OsmWay> ways = fetchOsmWays(ctx.client(), ctx.frame(), wantBridges, wantRoads, error);
  if (ways.empty()) {
    ctx.note(error);
    return;
  }
  const NdsmModel& model = ctx.ndsmModel();
  if (const std::string note = ndsmModelNote(model, "Mosty/drogi: "); !note.empty()) {
    ctx.note(note);
    return;
  }
  const SurfaceSettings deck = bridgeSurface();
  const SurfaceSettings ribbon = roadSurface(ctx.frame());
  const int n = static_cast<int>(ways.size());
  for (int i = 0; i < n; ++i) {
    ctx.progress(i, n, "Mosty/drogi: korytarze");
    const OsmWay& way = ways[static_cast<std::size_t>(i)];
    const std::vector<double> half(way.points.size(), way.width * 0.5);
    const std::vector<Point2> corridor = corridorPolygon(way.points, half, half);
    const std::string id = way.name.empty() ? way.kind : way.name;
    // A bridge the user did not ask for is still a road when roads were asked for.
    if (way.isBridge && wantBridges)
      data.bridges.push_back({id, surfaceOverPolygon(corridor, model, deck)});
    else
      data.roads.push_back({id, surfaceOverPolygon(corridor, model, ribbon)});
  }
  ctx.note("Mosty (OSM): " + std::to_string(data.bridges.size()) + " w kadrze.");
  ctx.note("Drogi (OSM): " + std::to_string(data.roads.size()) + " w kadrze.");
}

}  // namespace veldra
