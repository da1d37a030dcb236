#include "bridge/phases/BuildingPackages.h"

#include <algorithm>

namespace veldra::phase_support {

std::string frameCounty(FetchContext& ctx) {
  const std::string& m = ctx.municipality();
  return m.substr(0, std::min<std::size_t>(4, m.size()));
}

PackageProgress packageProgress(FetchContext& ctx, const std::string& prefix) {
  PackageProgress p;
  p.download = [&ctx, label = prefix + ": pobieranie paczki"](std::int64_t done, std::int64_t total) {
    if (total > 0) ctx.cancellableProgress(static_cast<int>(std::clamp<std::int64_t>(done * 100 / total, 0, 100)), 100, label);
    return !ctx.cancelled();
  };
  p.sheets = [&ctx, label = prefix + ": arkusze"](int done, int total) {
    ctx.cancellableProgress(done, total, label);
    return !ctx.cancelled();
  };
  return p;
}

}  // namespace veldra::phase_support
