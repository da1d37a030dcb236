// The single instances of the primitives, for the registry and for the
// composites that build their wings with other primitives.
#pragma once

#include "lod2fit/RoofPrimitive.h"

namespace veldra::lod2fit::primitives {

const RoofPrimitive& flat();
const RoofPrimitive& shed();
const RoofPrimitive& tent();
const RoofPrimitive& gabled();
const RoofPrimitive& hipped();
const RoofPrimitive& halfHipped();
const RoofPrimitive& hippedOneSided();
const RoofPrimitive& asymGabled();
const RoofPrimitive& mansard();
const RoofPrimitive& fiveSidedGabled();
const RoofPrimitive& berlinRoof();
const RoofPrimitive& barrel();
const RoofPrimitive& cone();
const RoofPrimitive& dome();
const RoofPrimitive& nave();
const RoofPrimitive& gabledCross();
const RoofPrimitive& gabledCorner();
const RoofPrimitive& gabledTElement();
const RoofPrimitive& shedGabledCross();
const RoofPrimitive& shedBerlinCross();
const RoofPrimitive& shedCornerInvers();
const RoofPrimitive& shedGabledCorner();
const RoofPrimitive& berlinShedCorner();
const RoofPrimitive& shedDormer();
const RoofPrimitive& gabledDormer();

}  // namespace veldra::lod2fit::primitives
