// Buildings shaped from the normalised surface model over the LOD1 outlines.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchNdsmBuildings(FetchContext&, FetchedData&) {}

}  // namespace veldra
