#include "terrain/TerrainPatches.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace veldra {

TerrainPatchSet buildTerrainPatches(const Bbox& frame, double step, const TerrainSampler& sampler) {
  TerrainPatchSet out;
  if (!(step > 0.0)) step = 1.0;
  const double width = frame.maxX - frame.minX;
  const double height = frame.maxY - frame.minY;
  if (!std::isfinite(width) || !std::isfinite(height) || !std::isfinite(step) || width < 0 || height < 0 || !sampler)
    return out;

  // Node counts stay doubles until clamped: a huge frame must not overflow an int.
  const double nxD = std::floor(width / step) + 1.0;
  const double nyD = std::floor(height / step) + 1.0;
  double px = std::max(std::ceil(nxD / kMaxPatchNodes), 1.0);
  double py = std::max(std::ceil(nyD / kMaxPatchNodes), 1.0);
  if (px > kMaxPatchesPerAxis || py > kMaxPatchesPerAxis) {
    px = std::min<double>(px, kMaxPatchesPerAxis);
    py = std::min<double>(py, kMaxPatchesPerAxis);
    char buf[256];
    std::snprintf(buf, sizeof buf,
                  "Kadr za duzy dla kroku %.0f m - teren ograniczony do 4x4 platek. Zwieksz krok do >= %.0f m, aby "
                  "pokryc caly kadr.",
                  step, std::ceil(std::max(width, height) / 799.0));
    out.message = buf;
  }
  const double sxD = std::min(std::ceil(nxD / px), static_cast<double>(kMaxPatchNodes));
  const double syD = std::min(std::ceil(nyD / py), static_cast<double>(kMaxPatchNodes));
  // Past the clamp only the first px*sx (at most 800) nodes are ever visited.
  const auto nx = static_cast<std::int64_t>(std::min(nxD, px * sxD + 1.0));
  const auto ny = static_cast<std::int64_t>(std::min(nyD, py * syD + 1.0));
  const auto npx = static_cast<int>(px), npy = static_cast<int>(py);
  const auto sx = static_cast<std::int64_t>(sxD), sy = static_cast<std::int64_t>(syD);

  for (int j = 0; j < npy; ++j) {
    const std::int64_t r0 = j * sy;
    const std::int64_t r1 = std::min(r0 + sy + (j + 1 < npy ? 1 : 0), ny);
    for (int i = 0; i < npx; ++i) {
      const std::int64_t c0 = i * sx;
      const std::int64_t c1 = std::min(c0 + sx + (i + 1 < npx ? 1 : 0), nx);
      if (c1 <= c0 || r1 <= r0) continue;
      TerrainPatch p;
      p.minX = static_cast<double>(c0) * step + frame.minX;
      p.minY = static_cast<double>(r0) * step + frame.minY;
      p.maxX = static_cast<double>(c1 - 1) * step + frame.minX;
      p.maxY = static_cast<double>(r1 - 1) * step + frame.minY;
      p.points.reserve(static_cast<std::size_t>((c1 - c0) * (r1 - r0)));
      for (std::int64_t r = r0; r < r1; ++r) {
        const double y = static_cast<double>(r) * step + frame.minY;
        for (std::int64_t c = c0; c < c1; ++c) {
          const double x = static_cast<double>(c) * step + frame.minX;
          if (auto z = sampler(x, y)) p.points.push_back({x, y, *z});
        }
      }
      if (!p.points.empty()) out.patches.push_back(std::move(p));
    }
  }
  return out;
}

}  // namespace veldra
