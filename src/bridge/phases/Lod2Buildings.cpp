// LOD2 buildings from the national 3D packages.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchLod2Buildings(FetchContext&, FetchedData&) {}

}  // namespace veldra
