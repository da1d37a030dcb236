// Roofs fitted to LiDAR points over the LOD1 outlines.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchCloudRoofs(FetchContext&, FetchedData&) {}

}  // namespace veldra
