// Terrain kernels: contour building, ESRI ASCII reading, terrain patches.
//
//   cmake -S /work/main -B /work/build-terrain -G Ninja -DVELDRA_BENCH=ON
//   ninja -C /work/build-terrain -j2 bench_terrain
//   /work/build-terrain/bench/bench_terrain --benchmark_min_time=0.05
// or, optimised: scripts/build.sh release bench_terrain && build/release/bench/bench_terrain
//
// BM_GdalContour* run `gdal_contour -q -f Memory -a elev -i 1 GRID mem` on the very lattice
// BM_ContourBuilder3000 contours (written once to a temporary .tif and .asc), so both are
// measured in the same run on the same machine. The GeoTIFF variant reads binary data, which
// leaves mostly GDAL's contouring and its process start (a few tens of ms); the .asc variant
// adds GDAL's grid parsing. Skipped with a message when gdal_contour is not installed.
#include "terrain/Contours.h"
#include "terrain/ElevationGrid.h"
#include "terrain/TerrainPatches.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace veldra;
namespace fs = std::filesystem;

// Rolling hills with small ripples: about 60 m of relief over 3 km, contours of realistic
// density that stay below the point and contour limits at 1 m.
double terrain(double x, double y) {
  return 150.0 + 22.0 * std::sin(x / 310.0) * std::cos(y / 270.0) + 9.0 * std::exp(-((x - 1900) * (x - 1900) +
                                                                                     (y - 1100) * (y - 1100)) / 2.0e5) +
         1.2 * std::sin(x / 43.0) * std::sin(y / 51.0) + 0.004 * x + 0.0137;
}

fs::path tempPath(const std::string& name) {
  return fs::temp_directory_path() / ("veldra_bench_" + std::to_string(::getpid()) + "_" + name);
}

// Files written once per run and removed at exit.
struct TempFile {
  fs::path path;
  ~TempFile() {
    std::error_code ec;
    fs::remove(path, ec);
  }
};

// Writes values as an ESRI ASCII sheet with two decimals, as NMT sheets come.
void writeAsc(const fs::path& path, std::int32_t ncols, std::int32_t nrows, double x0, double y0,
              double (*f)(double, double), bool centre) {
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> out(std::fopen(path.c_str(), "wb"), &std::fclose);
  if (!out) return;
  std::fprintf(out.get(), "ncols %d\nnrows %d\n%s %.3f\n%s %.3f\ncellsize 1\nnodata_value -9999\n", ncols, nrows,
               centre ? "xllcenter" : "xllcorner", x0, centre ? "yllcenter" : "yllcorner", y0);
  std::string line;
  char buf[32];
  for (std::int32_t r = nrows - 1; r >= 0; --r) {
    line.clear();
    for (std::int32_t c = 0; c < ncols; ++c) {
      std::snprintf(buf, sizeof buf, c ? " %.2f" : "%.2f", f(c, r));
      line += buf;
    }
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), out.get());
  }
}

// The contour lattice as a grid whose cell centres are the lattice nodes.
const TempFile& contourAsc() {
  static const TempFile f = [] {
    TempFile t{tempPath("contours.asc")};
    writeAsc(t.path, 3000, 3000, 500000.0, 300000.0, &terrain, true);
    return t;
  }();
  return f;
}

const TempFile& contourTif() {
  static const TempFile f = [] {
    TempFile t{tempPath("contours.tif")};
    const std::string cmd =
        "gdal_translate -q -ot Float64 '" + contourAsc().path.string() + "' '" + t.path.string() + "'";
    if (std::system(cmd.c_str()) != 0) t.path.clear();
    return t;
  }();
  return f;
}

const Bbox kContourFrame{500000.0, 300000.0, 502999.0, 302999.0};

// Read back from the sheet GDAL gets, so both contour exactly the same values.
const ContourLattice& lattice3000() {
  static const ContourLattice l = [] {
    std::vector<ElevationGrid> grids(1);
    if (!readAsciiGrid(contourAsc().path, grids[0])) return ContourLattice{};
    return buildContourLattice(kContourFrame, 1.0, makeGridSampler(grids));
  }();
  return l;
}

void BM_ContourBuilder3000(benchmark::State& state) {
  if (lattice3000().ncols != 3000) {
    state.SkipWithError("lattice not built");
    return;
  }
  const ContourLattice& lat = lattice3000();
  std::size_t contours = 0, points = 0;
  for (auto _ : state) {
    std::string msg;
    const auto cs = ContourBuilder::build(lat, 1.0, msg);
    contours = cs.size();
    points = 0;
    for (const auto& c : cs) points += c.points.size();
    if (!msg.empty()) state.SkipWithError(msg.c_str());
    benchmark::DoNotOptimize(cs.data());
  }
  state.counters["contours"] = static_cast<double>(contours);
  state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_ContourBuilder3000)->Unit(benchmark::kMillisecond)->UseRealTime();

double childCpuSeconds() {
  rusage ru{};
  getrusage(RUSAGE_CHILDREN, &ru);
  return static_cast<double>(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
         static_cast<double>(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

void runGdalContour(benchmark::State& state, const fs::path& grid) {
  if (std::system("command -v gdal_contour > /dev/null 2>&1") != 0 || grid.empty()) {
    state.SkipWithError("gdal_contour or gdal_translate not installed");
    return;
  }
  const std::string cmd = "gdal_contour -q -f Memory -a elev -i 1 '" + grid.string() + "' mem";
  // The work happens in a child: its CPU time is reported beside the wall time, to be
  // compared with BM_ContourBuilder3000's CPU column when the machine is shared.
  const double before = childCpuSeconds();
  for (auto _ : state) {
    if (std::system(cmd.c_str()) != 0) {
      state.SkipWithError("gdal_contour failed");
      break;
    }
  }
  if (state.iterations() > 0)
    state.counters["child_cpu_ms"] = (childCpuSeconds() - before) * 1000.0 / static_cast<double>(state.iterations());
}

void BM_GdalContourTif3000(benchmark::State& state) { runGdalContour(state, contourTif().path); }
BENCHMARK(BM_GdalContourTif3000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_GdalContourAsc3000(benchmark::State& state) { runGdalContour(state, contourAsc().path); }
BENCHMARK(BM_GdalContourAsc3000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

// Whole path as the subcommand runs it: read the sheet, sample the lattice, build.
void BM_AscToContours3000(benchmark::State& state) {
  const fs::path& path = contourAsc().path;
  for (auto _ : state) {
    std::vector<ElevationGrid> grids(1);
    if (!readAsciiGrid(path, grids[0])) {
      state.SkipWithError("read failed");
      break;
    }
    const auto lat = buildContourLattice(kContourFrame, 1.0, makeGridSampler(grids));
    std::string msg;
    benchmark::DoNotOptimize(ContourBuilder::build(lat, 1.0, msg).size());
  }
}
BENCHMARK(BM_AscToContours3000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);

void BM_ReadAsciiGrid4000(benchmark::State& state) {
  static const TempFile sheet = [] {
    TempFile t{tempPath("sheet4000.asc")};
    writeAsc(t.path, 4000, 4000, 600000.0, 400000.0, &terrain, false);
    return t;
  }();
  std::error_code ec;
  const auto bytes = fs::file_size(sheet.path, ec);
  for (auto _ : state) {
    ElevationGrid g;
    if (!readAsciiGrid(sheet.path, g)) {
      state.SkipWithError("read failed");
      break;
    }
    benchmark::DoNotOptimize(g.values.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(bytes));
}
// CPU time: the sheet sits in the page cache and the machine may be shared.
BENCHMARK(BM_ReadAsciiGrid4000)->Unit(benchmark::kMillisecond);

// A 1 km frame at 1 m: 1001 nodes per axis, clamped to 4 x 4 patches of 200.
void BM_BuildTerrainPatches1km(benchmark::State& state) {
  static const std::vector<ElevationGrid> grids = [] {
    std::vector<ElevationGrid> g(2);
    for (int i = 0; i < 2; ++i) {
      auto& e = g[static_cast<std::size_t>(i)];
      e.ncols = 600;
      e.nrows = 1100;
      e.cellSize = 1.0;
      e.x0 = 499950.0 + i * 550.0;
      e.y0 = 299950.0;
      e.values.resize(static_cast<std::size_t>(e.ncols) * e.nrows);
      for (std::int32_t r = 0; r < e.nrows; ++r)
        for (std::int32_t c = 0; c < e.ncols; ++c)
          e.values[static_cast<std::size_t>(e.nrows - 1 - r) * e.ncols + c] = terrain(c + i * 550.0, r);
    }
    return g;
  }();
  const auto sampler = makeGridSampler(grids);
  std::size_t points = 0;
  for (auto _ : state) {
    const auto set = buildTerrainPatches({500000.0, 300000.0, 501000.0, 301000.0}, 1.0, sampler);
    points = 0;
    for (const auto& p : set.patches) points += p.points.size();
    benchmark::DoNotOptimize(set.patches.data());
  }
  state.counters["points"] = static_cast<double>(points);
}
BENCHMARK(BM_BuildTerrainPatches1km)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
