#include "lod2fit/RoofPrimitive.h"

#include <string>

#include "lod2fit/Primitives.h"

namespace veldra::lod2fit {

const std::vector<const RoofPrimitive*>& roofPrimitives() {
  using namespace primitives;
  static const std::vector<const RoofPrimitive*> all{
      &flat(),         &shed(),           &gabled(),           &hipped(),          &tent(),
      &halfHipped(),   &hippedOneSided(), &mansard(),          &fiveSidedGabled(), &asymGabled(),
      &berlinRoof(),   &barrel(),         &cone(),             &dome(),            &nave(),
      &gabledCross(),  &gabledCorner(),   &gabledTElement(),   &shedGabledCross(), &shedBerlinCross(),
      &shedCornerInvers(), &shedGabledCorner(), &berlinShedCorner(), &shedDormer(), &gabledDormer()};
  return all;
}

const RoofPrimitive& roofPrimitiveNamed(const std::string& name) {
  for (const RoofPrimitive* p : roofPrimitives())
    if (name == p->name()) return *p;
  return primitives::flat();
}

}  // namespace veldra::lod2fit
