// Placement and export at import scale: 20 000 parcels with labels plus 16
// terrain patches of 201 x 201 nodes into the stand-in host, then the project
// as DXF and GLB. peak_rss_MB is the process's high-water mark so far (run one
// benchmark with --benchmark_filter for its own peak).
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDRA_BENCH=ON
//   ninja -C build-bench bench_place && build-bench/bench/bench_place --benchmark_min_time=0.05
#include <benchmark/benchmark.h>

#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "geo/Projections.h"
#include "host/DxfExport.h"
#include "host/GltfExport.h"
#include "host/MemoryHost.h"
#include "place/DataKinds.h"
#include "place/Placement.h"

namespace {

using namespace veldra;

constexpr double kE = 637000, kN = 486000;

std::vector<GisFeature> parcels() {
  std::vector<GisFeature> out;
  out.reserve(20000);
  for (int i = 0; i < 20000; ++i) {
    const double x = kE - 1400 + (i % 140) * 20.0, y = kN - 1400 + (i / 140) * 20.0;
    GisFeature f;
    f.type = DataType::Dzialki;
    f.polygons.push_back(Polygon2{{{x, y}, {x + 18, y}, {x + 18, y + 18}, {x, y + 18}}, {}});
    f.point = {x + 9, y + 9};
    f.hasPoint = true;
    f.attributes["numerDzialki"] = "146501_1.0001." + std::to_string(i) + "/1";
    out.push_back(std::move(f));
  }
  return out;
}

std::vector<TerrainPatchSet> terrain() {
  TerrainPatchSet set;
  for (int py = 0; py < 4; ++py)
    for (int px = 0; px < 4; ++px) {
      TerrainPatch p;
      p.minX = kE - 1600 + px * 800.0;
      p.minY = kN - 1600 + py * 800.0;
      p.maxX = p.minX + 800;
      p.maxY = p.minY + 800;
      p.points.reserve(201 * 201);
      for (int r = 0; r <= 200; ++r)
        for (int c = 0; c <= 200; ++c)
          p.points.push_back({p.minX + c * 4.0, p.minY + r * 4.0, 100 + 0.01 * c + 0.02 * r});
      set.patches.push_back(std::move(p));
    }
  return {set};
}

long peakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

struct Scene {
  std::vector<GisFeature> features = parcels();
  std::vector<TerrainPatchSet> sets = terrain();
  Bbox frame{kE - 1600, kN - 1600, kE + 1600, kN + 1600};
  ProjectGeoref georef() const {
    const auto [E, N] = pl1992ToPl2000(kE, kN, 2178);
    return ProjectGeoref{E, N, 0, 0, 0, true};
  }
  std::filesystem::path dir = std::filesystem::temp_directory_path() /
                              ("veldra_bench_place_" + std::to_string(::getpid()));
  Scene() {
    std::filesystem::create_directories(dir);
    ::setenv("VELDRA_DIAG_DIR", dir.c_str(), 1);
  }
  ~Scene() {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
  }
  bool place(MemoryHost& host) const {
    FetchedData fetched;
    fetched.features = features;
    fetched.terrain = sets;
    const PlacementData data = moveToZone(fetched, frame, 2178);
    ImportOptions o;
    o.terrainZOffset = 100;
    return !runImport(host, georef(), 2178, data, o, {}).failed();
  }
};

// Placement alone: the data move and the undoable command.
void BM_Place(benchmark::State& state) {
  const Scene scene;
  std::size_t elements = 0;
  for (auto _ : state) {
    MemoryHost host;
    if (!scene.place(host)) state.SkipWithError("placement failed");
    elements = host.elementCount();
  }
  state.counters["elements"] = static_cast<double>(elements);
  state.counters["peak_rss_MB"] = static_cast<double>(peakRssKb()) / 1024.0;
}
BENCHMARK(BM_Place)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ExportDxf(benchmark::State& state) {
  const Scene scene;
  MemoryHost host;
  if (!scene.place(host)) state.SkipWithError("placement failed");
  const ProjectData p = host.exportProject();
  for (auto _ : state)
    if (!exportDxf(p, scene.dir / "b.dxf").empty()) state.SkipWithError("dxf failed");
  state.counters["dxf_MB"] = static_cast<double>(std::filesystem::file_size(scene.dir / "b.dxf")) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(peakRssKb()) / 1024.0;
}
BENCHMARK(BM_ExportDxf)->Unit(benchmark::kMillisecond)->Iterations(1);

void BM_ExportGlb(benchmark::State& state) {
  const Scene scene;
  MemoryHost host;
  if (!scene.place(host)) state.SkipWithError("placement failed");
  const ProjectData p = host.exportProject();
  for (auto _ : state)
    if (!exportGlb(p, scene.dir / "b.glb").empty()) state.SkipWithError("glb failed");
  state.counters["glb_MB"] = static_cast<double>(std::filesystem::file_size(scene.dir / "b.glb")) / 1e6;
  state.counters["peak_rss_MB"] = static_cast<double>(peakRssKb()) / 1024.0;
}
BENCHMARK(BM_ExportGlb)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
