// LOD1 buildings from the national 3D packages; their outlines also serve the nMPT, roof and reconstruction phases.
#include "bridge/phases/Phases.h"

namespace veldra {

void fetchLod1Buildings(FetchContext&, FetchedData&) {}

}  // namespace veldra
