// Terrain, contours and water surfaces from the LiDAR point clouds.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchCloudSurfaces(FetchContext&, FetchedData&) {}

}  // namespace veldra
