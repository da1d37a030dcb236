// The catalogue of roof primitives: 25 stateless classes, one instance each, that
// build a closed solid (base, walls up to the eaves, roof) from a parameter record
// and a footprint. A primitive given a footprint it cannot carry builds the Flat
// roof instead; a footprint that is no simple polygon of three or more distinct,
// finite corners gives an empty mesh.
#pragma once

#include <vector>

#include "geo/Point.h"
#include "lod2fit/RoofTypes.h"

namespace veldra::lod2fit {

class RoofPrimitive {
 public:
  virtual ~RoofPrimitive() = default;
  // The class name, constant.
  virtual const char* name() const = 0;
  virtual RoofMesh build(const RoofParams& params, const std::vector<Point2>& footprint) const = 0;
};

// Flat, Shed, Gabled, Hipped, Tent, HalfHipped, HippedOneSided, Mansard, FiveSidedGabled,
// AsymGabled, BerlinRoof, Barrel, Cone, Dome, Nave, GabledCross, GabledCorner, GabledTElement,
// ShedGabledCross, ShedBerlinCross, ShedCornerInvers, ShedGabledCorner, BerlinShedCorner,
// ShedDormer, GabledDormer. Built once on first use.
const std::vector<const RoofPrimitive*>& roofPrimitives();

// The registered primitive of that exact name, else a Flat primitive of its own.
const RoofPrimitive& roofPrimitiveNamed(const std::string& name);

}  // namespace veldra::lod2fit
