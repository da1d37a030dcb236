// One building's roof read from its points and built as a closed solid: turned so
// that its longest footprint edge runs along x, heights and planes read, the kind
// classified, the primitive built and scored, and the solid turned back. The primitive is
// laid every way the footprint allows (a four-corner footprint from each corner, a shed
// rising to either side) and the way nearest the points is kept, the longest edge first
// on ties.
#pragma once

#include "lod2fit/RoofTypes.h"

namespace veldra::lod2fit {

// Points that are not finite are left out. The result needs correction unless its
// mean distance is under 1.6 m with a confidence of at least 0.5; a footprint no solid
// can stand on gives an empty mesh, distance 1e9 and the correction flag.
RoofFitResult reconstructBuilding(const ReconstructionInput& input);

}  // namespace veldra::lod2fit
