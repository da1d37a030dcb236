// LOD2 reconstruction of the LOD1 outlines from LiDAR points.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchLod2Reconstruction(FetchContext&, FetchedData&) {}

}  // namespace veldra
