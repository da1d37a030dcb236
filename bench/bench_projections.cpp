// Points per second of the projections on one core, over a grid across Poland.
#include "geo/Projections.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

std::vector<std::pair<double, double>> latLonGrid() {
  std::vector<std::pair<double, double>> pts;
  for (double lat = 49.0; lat <= 54.8; lat += 0.1)
    for (double lon = 14.2; lon <= 24.1; lon += 0.1) pts.emplace_back(lat, lon);
  return pts;
}

std::vector<std::pair<double, double>> pl1992Grid() {
  std::vector<std::pair<double, double>> out;
  for (const auto& [lat, lon] : latLonGrid()) out.push_back(veldra::wgs84ToPl1992(lat, lon));
  return out;
}

void BM_Wgs84ToPl1992(benchmark::State& state) {
  const auto pts = latLonGrid();
  for (auto _ : state)
    for (const auto& [lat, lon] : pts) benchmark::DoNotOptimize(veldra::wgs84ToPl1992(lat, lon));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pts.size()));
}
BENCHMARK(BM_Wgs84ToPl1992);

void BM_Pl1992ToWgs84(benchmark::State& state) {
  const auto pts = pl1992Grid();
  for (auto _ : state)
    for (const auto& [e, n] : pts) benchmark::DoNotOptimize(veldra::pl1992ToWgs84(e, n));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pts.size()));
}
BENCHMARK(BM_Pl1992ToWgs84);

void BM_Pl1992ToPl2000(benchmark::State& state) {
  const auto pts = pl1992Grid();
  for (auto _ : state)
    for (const auto& [e, n] : pts) benchmark::DoNotOptimize(veldra::pl1992ToPl2000(e, n, 2178));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pts.size()));
}
BENCHMARK(BM_Pl1992ToPl2000);

void BM_ApplyLocalAffine(benchmark::State& state) {
  const auto pts = pl1992Grid();
  const auto a = veldra::makeLocalAffine(630000, 480000, 640000, 490000, 2178);
  for (auto _ : state)
    for (const auto& [e, n] : pts) benchmark::DoNotOptimize(veldra::applyLocalAffine(a, e, n));
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pts.size()));
}
BENCHMARK(BM_ApplyLocalAffine);

}  // namespace

BENCHMARK_MAIN();
