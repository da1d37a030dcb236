#include "terrain/SurfaceOverPolygon.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "geo/RingScanline.h"
#include "terrain/NdsmLattice.h"

namespace veldra {

namespace {

constexpr double kNone = std::numeric_limits<double>::quiet_NaN();

// The ring cut to the rectangle (one half-plane at a time); a flat fallback
// of a clipped ribbon must not reach outside the frame the lattice kept to.
std::vector<Point2> clipRing(std::vector<Point2> ring, const Bbox& r) {
  auto cut = [&ring](auto inside, auto meet) {
    std::vector<Point2> out;
    for (std::size_t i = 0; i < ring.size(); ++i) {
      const Point2& a = ring[i];
      const Point2& b = ring[(i + 1) % ring.size()];
      if (inside(a)) out.push_back(a);
      if (inside(a) != inside(b)) out.push_back(meet(a, b));
    }
    ring = std::move(out);
  };
  auto atX = [](double x) {
    return [x](const Point2& a, const Point2& b) { return Point2{x, a.y + (b.y - a.y) * (x - a.x) / (b.x - a.x)}; };
  };
  auto atY = [](double y) {
    return [y](const Point2& a, const Point2& b) { return Point2{a.x + (b.x - a.x) * (y - a.y) / (b.y - a.y), y}; };
  };
  cut([&](const Point2& p) { return p.x >= r.minX; }, atX(r.minX));
  cut([&](const Point2& p) { return p.x <= r.maxX; }, atX(r.maxX));
  cut([&](const Point2& p) { return p.y >= r.minY; }, atY(r.minY));
  cut([&](const Point2& p) { return p.y <= r.maxY; }, atY(r.maxY));
  return ring;
}

// Heights of one lattice line: NaN where the point is outside the polygon or
// the grid has no value; `set` lists the indices that have one, ascending.
struct LatticeLine {
  std::vector<double> z;
  std::vector<long> set;
};

}  // namespace

SurfaceSettings bridgeSurface() {
  SurfaceSettings s;
  s.minCoverage = 0.35;
  return s;
}

SurfaceSettings roadSurface(const Bbox& frame) {
  SurfaceSettings s;
  s.grid = SampledGrid::Ground;
  s.clip = frame;
  return s;
}

NdsmShape surfaceOverPolygon(const std::vector<Point2>& polygon, const NdsmModel& model,
                             const SurfaceSettings& settings) {
  NdsmShape out;
  out.needsCorrection = true;
  const std::vector<Point2> ring = openRing(polygon);
  if (ring.size() < 3 || !allFinite(ring)) return out;
  Bbox box = boundsOf(ring);
  if (settings.clip) {
    box.minX = std::max(box.minX, settings.clip->minX);
    box.minY = std::max(box.minY, settings.clip->minY);
    box.maxX = std::min(box.maxX, settings.clip->maxX);
    box.maxY = std::min(box.maxY, settings.clip->maxY);
    if (!(box.minX <= box.maxX && box.minY <= box.maxY)) return out;
  }
  const double s = settings.step;
  const long wx = latticeSteps(box.maxX - box.minX, s, false);
  const long wy = latticeSteps(box.maxY - box.minY, s, false);
  if (wx < 0 || wy < 0) return out;
  const long nx = std::max(1L, wx), ny = std::max(1L, wy);
  if (static_cast<double>(nx) * static_cast<double>(ny) > kMaxSurfaceCells) return out;

  const ElevationGrid& grid = settings.grid == SampledGrid::Surface ? model.surface : model.ground;
  const LatticeSpan cols = latticeSpanOver(box.minX, s, nx, grid.x0, grid.ncols, grid.cellSize);
  const LatticeSpan rows = latticeSpanOver(box.minY, s, ny, grid.y0, grid.nrows, grid.cellSize);
  const RingScanline scan(ring);
  auto xAt = [&](long i) { return box.minX + static_cast<double>(i) * s; };
  auto yAt = [&](long j) { return box.minY + static_cast<double>(j) * s; };
  auto fill = [&](long j, LatticeLine& line) {
    for (long i : line.set) line.z[static_cast<std::size_t>(i)] = kNone;
    line.set.clear();
    const double y = yAt(j);
    for (const auto& [a, b] : scan.insideRuns(y, box.minX, s, nx))
      for (long i = std::max(a, cols.first); i <= std::min(b, cols.last); ++i)
        if (const std::optional<double> z = sampleGrid(grid, xAt(i), y)) {
          line.z[static_cast<std::size_t>(i)] = *z;
          line.set.push_back(i);
        }
  };

  std::vector<double> heights;
  long counted = 0, raised = 0;
  if (!rows.empty()) {
    LatticeLine lower{std::vector<double>(static_cast<std::size_t>(nx) + 1, kNone), {}};
    LatticeLine upper = lower;
    fill(rows.first, lower);
    for (long j = rows.first; j < std::min(rows.last, ny); ++j) {
      fill(j + 1, upper);
      for (long i : lower.set) {
        if (i + 1 > nx) continue;
        const auto u = static_cast<std::size_t>(i);
        const double z0 = lower.z[u], z1 = lower.z[u + 1], z2 = upper.z[u + 1], z3 = upper.z[u];
        if (std::isnan(z1) || std::isnan(z2) || std::isnan(z3)) continue;
        ++counted;
        const double x = xAt(i), y = yAt(j), x1 = xAt(i + 1), y1 = yAt(j + 1);
        const std::optional<double> h = ndsmHeightAt(model, x + 0.5 * s, y + 0.5 * s);
        if (h && *h > settings.minHeight) ++raised;
        out.faces.push_back({{x, y, z0}, {x1, y, z1}, {x1, y1, z2}});
        out.faces.push_back({{x, y, z0}, {x1, y1, z2}, {x, y1, z3}});
        heights.push_back(z0);
      }
      std::swap(lower, upper);
    }
  }
  out.coverage = counted > 0 ? static_cast<double>(raised) / static_cast<double>(counted) : 0.0;
  if (!out.faces.empty() && out.coverage >= settings.minCoverage) {
    out.needsCorrection = false;
    return out;
  }

  out.faces.clear();
  double level = 0;
  if (!heights.empty()) {
    level = medianOf(heights);
  } else if (const std::optional<double> z =
                 sampleGrid(grid, 0.5 * (box.minX + box.maxX), 0.5 * (box.minY + box.maxY))) {
    level = *z;
  } else {
    return out;
  }
  const std::vector<Point2> flat = settings.clip ? clipRing(ring, *settings.clip) : ring;
  if (flat.size() < 3) return out;
  std::vector<Point3> face;
  for (const Point2& p : flat) face.push_back({p.x, p.y, level});
  out.faces.push_back(std::move(face));
  return out;
}

}  // namespace veldra
