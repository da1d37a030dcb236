// The roof-fit text input: bytes up to the first NUL are the points, the rest the
// footprint; what reads is reconstructed, and built by a primitive the first byte picks.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "lod2fit/Reconstruction.h"
#include "lod2fit/RoofPrimitive.h"
#include "lod2fit/XyzText.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace veldra::lod2fit;
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = all.find('\0');
  const auto points = parseXyzText(all.substr(0, cut), XyzHeights::Required);
  const auto footprint = parseXyzText(cut == std::string_view::npos ? std::string_view{} : all.substr(cut + 1),
                                      XyzHeights::Optional);
  if (!points.error.empty() || !footprint.error.empty() || points.points.size() > 4000 ||
      footprint.points.size() > 64)
    return 0;
  ReconstructionInput in;
  in.points = points.points;
  for (const auto& p : footprint.points) in.footprint.push_back({p.x, p.y});
  in.groundZ = footprint.points.empty() ? 0.0 : footprint.points.front().z;
  in.forcedType = size ? roofPrimitives()[data[0] % roofPrimitives().size()]->name() : "";
  reconstructBuilding(in);
  return 0;
}
