#include "terrain/NdsmBuilding.h"

#include <algorithm>

#include "geo/RingScanline.h"
#include "terrain/NdsmLattice.h"

namespace veldra {

namespace {

struct Samples {
  std::vector<double> roof;   // surface heights of the kept points
  long counted = 0;
  long raised = 0;
};

void sampleAt(const NdsmModel& model, double minHeight, double x, double y, Samples& s) {
  const std::optional<double> top = sampleGrid(model.surface, x, y);
  if (!top) return;
  s.roof.push_back(*top);
  ++s.counted;
  const std::optional<double> h = ndsmHeightAt(model, x, y);
  if (h && *h > minHeight) ++s.raised;
}

}  // namespace

NdsmShape buildingFromNdsm(const std::vector<Point2>& outline, const NdsmModel& model,
                           const NdsmBuildingSettings& settings) {
  NdsmShape out;
  out.needsCorrection = true;
  const std::vector<Point2> ring = openRing(outline);
  if (ring.size() < 3 || !allFinite(ring)) return out;

  const auto [minX, minY, maxX, maxY] = boundsOf(ring);
  const double step = settings.step;
  const long nx = latticeSteps(maxX - minX, step, true);
  const long ny = latticeSteps(maxY - minY, step, true);
  if (nx < 0 || ny < 0 || (static_cast<double>(nx) + 1) * (static_cast<double>(ny) + 1) > kMaxLatticePoints) return out;

  const ElevationGrid& top = model.surface;
  const LatticeSpan cols = latticeSpanOver(minX, step, nx, top.x0, top.ncols, top.cellSize);
  const LatticeSpan rows = latticeSpanOver(minY, step, ny, top.y0, top.nrows, top.cellSize);
  Samples s;
  const RingScanline scan(ring);
  for (long j = rows.first; j <= rows.last; ++j) {
    const double y = minY + static_cast<double>(j) * step;
    for (const auto& [a, b] : scan.insideRuns(y, minX, step, nx))
      for (long i = std::max(a, cols.first); i <= std::min(b, cols.last); ++i)
        sampleAt(model, settings.minHeight, minX + static_cast<double>(i) * step, y, s);
  }
  if (s.roof.empty()) {
    // An outline too small to hold a lattice point: its vertices' mean stands in.
    Point2 mean{0, 0};
    for (const Point2& p : ring) {
      mean.x += p.x / static_cast<double>(ring.size());
      mean.y += p.y / static_cast<double>(ring.size());
    }
    sampleAt(model, settings.minHeight, mean.x, mean.y, s);
    if (s.roof.empty()) return out;
  }
  out.coverage = s.counted > 0 ? static_cast<double>(s.raised) / static_cast<double>(s.counted) : 0.0;
  const double roof = medianOf(s.roof);

  std::vector<Point3> top3;
  for (const Point2& p : ring) top3.push_back({p.x, p.y, roof});
  out.faces.push_back(std::move(top3));
  for (std::size_t i = 0; i < ring.size(); ++i) {
    const Point2& a = ring[i];
    const Point2& b = ring[(i + 1) % ring.size()];
    if (a.x == b.x && a.y == b.y) continue;
    const std::optional<double> g0 = sampleGrid(model.ground, a.x, a.y);
    const std::optional<double> g1 = sampleGrid(model.ground, b.x, b.y);
    if (!g0 || !g1) continue;
    if (roof - *g0 < settings.minWallHeight && roof - *g1 < settings.minWallHeight) continue;
    out.faces.push_back({{a.x, a.y, roof}, {b.x, b.y, roof}, {b.x, b.y, *g1}, {a.x, a.y, *g0}});
  }
  out.needsCorrection = out.coverage < settings.minCoverage;
  return out;
}

}  // namespace veldra
