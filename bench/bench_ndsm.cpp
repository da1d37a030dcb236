// Shapes from the surface model: 1 000 building outlines and 200 way corridors
// (100 bridge decks on the surface, 100 road ribbons on the terrain, clipped to
// the frame) over a 1 km x 1 km pair of 0.5 m grids (2 000 x 2 000 cells each).
//
//   scripts/build.sh release --target bench_ndsm && build/release/bench/bench_ndsm
//
// Counters: s_per_outline / s_per_corridor (seconds per shape), triangles per
// corridor, and peak_rss_mb, the process's peak resident memory (the two grids
// alone are 64 MB).
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cmath>
#include <random>
#include <vector>

#include "terrain/Corridor.h"
#include "terrain/NdsmBuilding.h"
#include "terrain/SurfaceOverPolygon.h"

namespace {

using namespace veldra;

constexpr int kCells = 2000;
constexpr double kCell = 0.5;
constexpr double kX0 = 500000, kY0 = 300000;

double peakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

double hills(double x, double y) { return 120 + 6 * std::sin(x / 130) * std::cos(y / 170) + 0.01 * x; }

// 40 x 25 blocks, 15 m x 20 m each, on 25 m x 40 m plots: the outlines' ground.
bool inBlock(double x, double y) {
  const double u = std::fmod(x, 25.0), v = std::fmod(y, 40.0);
  return u >= 5 && u < 20 && v >= 10 && v < 30;
}

const NdsmModel& model() {
  static const NdsmModel m = [] {
    NdsmModel s;
    for (ElevationGrid* g : {&s.surface, &s.ground}) {
      g->ncols = g->nrows = kCells;
      g->x0 = kX0;
      g->y0 = kY0;
      g->cellSize = kCell;
      g->values.reserve(static_cast<std::size_t>(kCells) * kCells);
    }
    for (int r = kCells - 1; r >= 0; --r)
      for (int c = 0; c < kCells; ++c) {
        const double x = (c + 0.5) * kCell, y = (r + 0.5) * kCell;
        const double g = hills(x, y);
        s.ground.values.push_back(g);
        s.surface.values.push_back(inBlock(x, y) ? g + 6 + std::fmod(x * 0.37 + y * 0.11, 9.0) : g);
      }
    s.tried = s.covered = s.parsed = true;
    return s;
  }();
  return m;
}

// L-shaped outlines inside the blocks, 6 corners each.
std::vector<std::vector<Point2>> outlines() {
  std::vector<std::vector<Point2>> out;
  for (int i = 0; i < 40; ++i)
    for (int j = 0; j < 25; ++j) {
      const double x = kX0 + i * 25 + 5.7, y = kY0 + j * 40 + 10.6;
      out.push_back({{x, y}, {x + 13.6, y}, {x + 13.6, y + 8}, {x + 7, y + 8}, {x + 7, y + 18.7}, {x, y + 18.7}});
    }
  return out;
}

// Ways of 10 vertices, about 300 m long, 6 to 14 m wide, in random directions.
struct Way {
  std::vector<Point2> points;
  double width;
};
std::vector<Way> ways() {
  std::mt19937 rng(18);
  std::uniform_real_distribution<double> pos(100, 900), dir(0, 6.283), bend(-0.3, 0.3), w(6, 14);
  std::vector<Way> out;
  for (int k = 0; k < 200; ++k) {
    Way way{{{kX0 + pos(rng), kY0 + pos(rng)}}, w(rng)};
    double a = dir(rng);
    for (int i = 1; i < 10; ++i) {
      a += bend(rng);
      way.points.push_back({way.points.back().x + 33 * std::cos(a), way.points.back().y + 33 * std::sin(a)});
    }
    out.push_back(std::move(way));
  }
  return out;
}

void BM_BuildingsFromNdsm(benchmark::State& state) {
  const NdsmModel& m = model();
  const auto shapes = outlines();
  for (auto _ : state)
    for (const auto& o : shapes) benchmark::DoNotOptimize(buildingFromNdsm(o, m));
  state.counters["s_per_outline"] = benchmark::Counter(static_cast<double>(state.iterations() * shapes.size()),
                                                       benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["peak_rss_mb"] = peakRssMb();
}
BENCHMARK(BM_BuildingsFromNdsm)->Unit(benchmark::kMillisecond);

void BM_CorridorsOverNdsm(benchmark::State& state) {
  const NdsmModel& m = model();
  const auto all = ways();
  const SurfaceSettings deck = bridgeSurface();
  const SurfaceSettings ribbon = roadSurface({kX0, kY0, kX0 + kCells * kCell, kY0 + kCells * kCell});
  double triangles = 0;
  for (auto _ : state) {
    triangles = 0;
    for (std::size_t k = 0; k < all.size(); ++k) {
      const std::vector<double> half(all[k].points.size(), all[k].width * 0.5);
      const NdsmShape s = surfaceOverPolygon(corridorPolygon(all[k].points, half, half), m, k % 2 ? ribbon : deck);
      triangles += static_cast<double>(s.faces.size());
    }
  }
  state.counters["s_per_corridor"] = benchmark::Counter(static_cast<double>(state.iterations() * all.size()),
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["triangles_per_corridor"] = triangles / static_cast<double>(all.size());
  state.counters["peak_rss_mb"] = peakRssMb();
}
BENCHMARK(BM_CorridorsOverNdsm)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
