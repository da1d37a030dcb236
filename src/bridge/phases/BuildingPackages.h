// What the LOD1 and LOD2 phases share: the county of the frame and the
// cancellable progress of a package download and of its sheets.
#pragma once

#include <string>

#include "bridge/FetchContext.h"
#include "net/BuildingPackages.h"

namespace veldra::phase_support {

// The first four digits of the frame's municipality code; empty when unknown.
std::string frameCounty(FetchContext& ctx);
// Download percent and sheets done, under `prefix`; both stop the transfer
// once the user cancels.
PackageProgress packageProgress(FetchContext& ctx, const std::string& prefix);

}  // namespace veldra::phase_support
