// Terrain from the cloud over four LiDAR tiles: loading their ground (class 2) and water (class 9)
// points and building the height grid, as the fetch's LiDAR step does. Reports points read per
// second (elapsed time), the CPU time of all threads and the process's peak memory.
//
//   bash scripts/build.sh release --target bench_cloud_grid
//   for c in 0/1 0/2 1/1 1/2; do uptime; build/release/bench/bench_cloud_grid --benchmark_filter="/$c/"; done
// (one case per process: the peak memory is the process's). Cases /F/T: F = 0 a 1 km frame on the
// corner the four tiles share (a quarter of each), F = 1 the four whole tiles; T threads, as
// VELDRA_THREADS=T gives them.
// The tiles (PL-1992 LAS 1.4, point format 6, 1 km x 1 km, 10 million points each by default,
// VELDRA_BENCH_TILE_POINTS to change) are written once into a temporary folder and reused.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bridge/CloudSurfacesPhase.h"
#include "cloud/CloudGrid.h"
#include "cloud/GroundWaterTiles.h"
#include "platform/AtomicFile.h"

namespace fs = std::filesystem;

namespace veldra {
namespace {

constexpr double kTileSize = 1000;
constexpr double kWestEdge = 636000, kSouthEdge = 486000;  // PL-1992, near Warsaw
constexpr uint16_t kRecordLength = 30;                       // point format 6
constexpr uint16_t kHeaderSize = 375;                        // LAS 1.4
constexpr double kScale = 0.01;

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double peakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

template <typename T>
void put(std::string& s, std::size_t at, T v) {
  std::memcpy(s.data() + at, &v, sizeof v);
}

std::string lasHeader(uint64_t points, double x0, double y0) {
  std::string h(kHeaderSize, '\0');
  std::memcpy(h.data(), "LASF", 4);
  put<uint16_t>(h, 6, 16);  // coordinate system as WKT, as format 6 requires
  h[24] = 1;
  h[25] = 4;
  std::memcpy(h.data() + 26, "veldra bench", 12);
  put<uint16_t>(h, 94, kHeaderSize);
  put<uint32_t>(h, 96, kHeaderSize);
  h[104] = 6;
  put<uint16_t>(h, 105, kRecordLength);
  const double bounds[3][2] = {{x0, x0 + kTileSize}, {y0, y0 + kTileSize}, {0, 200}};
  for (int a = 0; a < 3; ++a) {
    put<double>(h, 131 + 8 * a, kScale);
    put<double>(h, 155 + 8 * a, a < 2 ? bounds[a][0] : 0.0);
    put<double>(h, 179 + 16 * a, bounds[a][1]);
    put<double>(h, 187 + 16 * a, bounds[a][0]);
  }
  put<uint64_t>(h, 247, points);
  return h;
}

// splitmix64: cheap and reproducible.
struct Random {
  uint64_t s;
  uint64_t next() {
    uint64_t z = (s += 0x9e3779b97f4a7c15ull);
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
    return z ^ (z >> 31);
  }
  double unit() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
};

// Rolling ground, a lake of 150 m radius on the corner the four tiles share, and a third of the
// points above ground (vegetation, buildings) that the loader drops. Points come in scan lines
// sweeping to and fro across the tile, as a scanner delivers them.
std::string writeTile(const fs::path& path, uint64_t points, int col, int row) {
  const double x0 = kWestEdge + col * kTileSize, y0 = kSouthEdge + row * kTileSize;
  const uint64_t lines = std::max<uint64_t>(1, static_cast<uint64_t>(std::sqrt(static_cast<double>(points))));
  const uint64_t perLine = (points + lines - 1) / lines;
  const double lakeX = kWestEdge + kTileSize, lakeY = kSouthEdge + kTileSize;
  platform::AtomicFile out(path);
  out.append(lasHeader(points, x0, y0));
  Random rng{static_cast<uint64_t>(col * 7 + row + 1)};
  std::string block;
  constexpr uint64_t kBlock = 1 << 20;
  for (uint64_t done = 0; done < points;) {
    const uint64_t n = std::min(kBlock, points - done);
    block.assign(n * kRecordLength, '\0');
    for (uint64_t i = 0; i < n; ++i) {
      const uint64_t p = done + i, line = p / perLine;
      const double along = (static_cast<double>(p % perLine) + rng.unit()) / static_cast<double>(perLine);
      const double x = x0 + (line % 2 ? 1 - along : along) * kTileSize;
      const double y = y0 + (static_cast<double>(line) + rng.unit()) / static_cast<double>(lines) * kTileSize;
      const double ground = 100 + 5 * std::sin(x / 150) + 3 * std::cos(y / 90) + 0.05 * rng.unit();
      const bool lake = std::hypot(x - lakeX, y - lakeY) < 150;
      const double u = rng.unit();
      uint8_t cls = 2;
      double z = ground;
      if (lake) {
        cls = 9;
        z = 98.2 + 0.02 * u;
      } else if (u > 0.6) {
        cls = u > 0.9 ? 6 : 5;
        z = ground + 15 * (u - 0.6);
      }
      char* r = block.data() + i * kRecordLength;
      const int32_t X = static_cast<int32_t>(std::lround((x - x0) / kScale));
      const int32_t Y = static_cast<int32_t>(std::lround((y - y0) / kScale));
      const int32_t Z = static_cast<int32_t>(std::lround(z / kScale));
      std::memcpy(r, &X, 4);
      std::memcpy(r + 4, &Y, 4);
      std::memcpy(r + 8, &Z, 4);
      r[14] = 0x11;  // return 1 of 1
      r[16] = static_cast<char>(cls);
      const double t = static_cast<double>(done + i) * 1e-6;
      std::memcpy(r + 22, &t, 8);
    }
    out.append(block);
    done += n;
  }
  return out.commit();
}

struct Tiles {
  std::vector<LidarTile> tiles;
  std::vector<std::string> paths;
  std::string error;
};

const Tiles& benchTiles() {
  static const Tiles tiles = [] {
    Tiles t;
    const char* env = std::getenv("VELDRA_BENCH_TILE_POINTS");
    const uint64_t points = env ? std::strtoull(env, nullptr, 10) : 10'000'000;
    const fs::path dir = fs::temp_directory_path() / "veldra-bench-lidar-tiles";
    for (int row = 0; row < 2; ++row)
      for (int col = 0; col < 2; ++col) {
        const fs::path path =
            dir / ("scan_" + std::to_string(points) + "_" + std::to_string(col) + "_" + std::to_string(row) + ".las");
        std::error_code ec;
        if (fs::file_size(path, ec) != kHeaderSize + points * kRecordLength) {
          const std::string err = writeTile(path, points, col, row);
          if (!err.empty() && t.error.empty()) t.error = err;
        }
        t.tiles.push_back({"bench-" + std::to_string(col) + "-" + std::to_string(row), "", 0, 2180});
        t.paths.push_back(path.string());
      }
    return t;
  }();
  return tiles;
}

void BM_GroundWaterAndGrid(benchmark::State& state) {
  const Tiles& t = benchTiles();
  if (!t.error.empty()) {
    state.SkipWithError(("cannot write the tiles: " + t.error).c_str());
    return;
  }
  const double margin = state.range(0) == 0 ? kTileSize / 2 : kTileSize;
  const Bbox frame{kWestEdge + kTileSize - margin, kSouthEdge + kTileSize - margin, kWestEdge + kTileSize + margin,
                   kSouthEdge + kTileSize + margin};
  const GroundWaterThreads threads{static_cast<int>(state.range(1)), t.tiles.size()};
  std::string coarsening;
  const double step = cloudGridStep(frame, 1.0, coarsening);
  int64_t points = 0;
  std::size_t ground = 0, water = 0;
  uint64_t cells = 0;
  double loadSeconds = 0, gridSeconds = 0;
  const double cpu0 = processCpuSeconds();
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    GroundWaterLoader loader(frame, threads);
    for (std::size_t i = 0; i < t.tiles.size(); ++i) loader.add(t.tiles[i], t.paths[i]);
    const GroundWaterContext g = loader.finish();
    const auto t1 = std::chrono::steady_clock::now();
    const CloudGrid grid = buildCloudGrid(frame, g.ground, step, g.water, WaterFlattening::On);
    loadSeconds += std::chrono::duration<double>(t1 - t0).count();
    gridSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count();
    points += g.total;
    ground = g.ground.size();
    water = g.water.size();
    cells = grid.validCells;
    benchmark::DoNotOptimize(grid.heights.data());
  }
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
  state.counters["ground"] = static_cast<double>(ground);
  state.counters["water"] = static_cast<double>(water);
  state.counters["cells"] = static_cast<double>(cells);
  state.counters["step_m"] = step;
  state.counters["peak_MB"] = peakRssMb();
  // CPU of every thread: what the work costs, whatever else the machine runs.
  state.counters["cpu_ms_all_threads"] =
      benchmark::Counter(1e3 * (processCpuSeconds() - cpu0), benchmark::Counter::kAvgIterations);
  state.counters["load_ms"] = benchmark::Counter(1e3 * loadSeconds, benchmark::Counter::kAvgIterations);
  state.counters["grid_ms"] = benchmark::Counter(1e3 * gridSeconds, benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_GroundWaterAndGrid)
    ->ArgsProduct({{0, 1}, {1, 2}})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);

}  // namespace
}  // namespace veldra

BENCHMARK_MAIN();
