// Bridge decks and road ribbons along OpenStreetMap corridors.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchBridgesAndRoads(FetchContext&, FetchedData&) {}

}  // namespace veldra
