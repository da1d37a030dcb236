// One building's roof read from its points and built as a closed solid: turned so
// that its longest footprint edge runs along x, heights and planes read, the kind
// classified, the primitive built and scored, and the solid turned back. Kinds that can
// lie two ways round on the same footprint (Shed, AsymGabled) are built both ways and the
// one nearer the points is kept.
#pragma once

#include "lod2fit/RoofTypes.h"

namespace veldra::lod2fit {

// Points that are not finite are left out. The result needs correction unless its
// mean distance is under 1.6 m with a confidence of at least 0.5; a footprint no solid
// can stand on gives an empty mesh, distance 1e9 and the correction flag.
RoofFitResult reconstructBuilding(const ReconstructionInput& input);

}  // namespace veldra::lod2fit
