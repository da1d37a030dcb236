// CityGML reading on arbitrary bytes: no crash, no hang; every building that
// comes out is usable by placement (a footprint of at least 3 points with a
// positive height, LOD2 rings with one height per point).
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/CityGml.h"

namespace {

void checkRing(const veldra::Lod2Ring& r) {
  if (r.points.size() != r.z.size()) std::abort();
  for (const auto& h : r.holes) checkRing(h);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const veldra::Bbox all{-1e12, -1e12, 1e12, 1e12};
  for (const auto& b : veldra::parseLod1Buildings(text, all))
    if (b.footprint.size() < 3 || !(b.height > 0)) std::abort();
  for (const auto& b : veldra::parseLod2Buildings(text, all))
    for (const auto& s : b.surfaces) {
      if (s.points.size() < 3) std::abort();
      checkRing(s);
    }
  veldra::Bbox box;
  (void)veldra::readEnvelope(text, box);
  (void)veldra::scanEnvelope(text, box);
  return 0;
}
