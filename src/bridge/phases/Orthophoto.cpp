// The national orthophoto, always at 0.25 m per pixel in the project's zone.
#include "bridge/phases/Phases.h"

#include "net/Endpoints.h"

namespace veldra {

void fetchOrthophoto(FetchContext& ctx, FetchedData& data) {
  constexpr const char* kOrthoLayer = "Raster";
  constexpr double kOrthoMetresPerPixel = 0.25;
  if (phase_support::rasterTiles(ctx, data, endpoints::url(endpoints::Service::OrthoWms), kOrthoLayer,
                                 kOrthoMetresPerPixel, DataType::Rastry, ctx.request().zone) == 0)
    ctx.note("Ortofotomapa WMS nie odpowiada - rastr pominiety.");
}

}  // namespace veldra
