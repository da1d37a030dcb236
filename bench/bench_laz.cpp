// Point decoding throughput of our LAS/LAZ reader, with the laz-perf WebAssembly decoder (npm
// laz-perf 0.0.7 under node) timed on the same files for comparison: one thread each, and ours
// with the chunks of a multi-chunk file decoded on 1 and 2 threads.
//
// Build and run (Release, separate folder):
//   cmake -S /work/main -B /work/build-laz-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDRA_BENCH=ON -DVELDRA_TESTS=OFF
//   ninja -C /work/build-laz-bench bench_laz
//   /work/build-laz-bench/bench/bench_laz --benchmark_min_time=0.5
// Other files:  bench_laz --laz3=a.laz --laz14=b.laz --lazpl=c.laz --las=d.las --multi=e.laz [benchmark flags]
// The third LAZ is a German 2023 survey tile (ETRS89 / UTM 32N, format 7) whose points change
// scanner channel almost every point, as the Polish national LiDAR tiles do. The multi-chunk file
// (--multi, default a PDAL sample of 14 chunks of 50,000 points, format 8) is decoded on 1 and 2
// threads. Two threads can gain at most chunks / ceil(chunks / 2): 2.0 for 14 chunks, 1.83 for
// the 11 of lone-star.laz.
// --quiet-turns=N instead times the multi-chunk file on 1 and 2 threads in N turns, only while
// the rest of the machine is quiet, against two one-thread decodes at once (bench/laz_threads.sh).
// After the benchmarks it prints "ours vs laz-perf" per LAZ file; laz-perf alone:
//   node bench/lazperf_rate.js <file.laz> 5
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "cloud/las/LasReader.h"

namespace fs = std::filesystem;

namespace {

const fs::path kRepo = VELDRA_SOURCE_DIR;
std::string gLaz3 = (kRepo / "../shared/data/lidar/laz-perf/autzen_trim.laz").lexically_normal().string();
std::string gLaz14 = (kRepo / "../shared/data/lidar/pdal/las_with_several_extra_byte_bloc.laz").lexically_normal().string();
std::string gLazPl =
    (kRepo / "../shared/data/lidar/laszip4j/500m_5460_59370_IM2023_subset.laz").lexically_normal().string();
std::string gLas = (kRepo / "../shared/data/lidar/laz-perf/autzen_trim.las").lexically_normal().string();
std::string gMulti = (kRepo / "../shared/data/lidar/pdal/las_with_several_extra_byte_bloc.laz").lexically_normal().string();

// Decodes every point of the file once; returns the number of points.
uint64_t decodeAll(const std::string& path, uint64_t* checksum, int threads = 1) {
  auto r = veldra::las::LasReader::open(path);
  if (!r) return 0;
  r->setDecodeThreads(threads);
  std::vector<uint8_t> rec(r->header().recordLength);
  uint64_t n = 0, sum = 0;
  while (r->readPoint(rec.data())) {
    sum += rec[0];
    ++n;
  }
  *checksum += sum;
  return n;
}

void decodeFile(benchmark::State& state, const std::string& path) {
  if (!fs::exists(path)) {
    state.SkipWithError(("missing " + path).c_str());
    return;
  }
  uint64_t points = 0, checksum = 0;
  for (auto _ : state) points += decodeAll(path, &checksum);
  benchmark::DoNotOptimize(checksum);
  state.SetItemsProcessed(static_cast<int64_t>(points));
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
}

void BM_DecodeLazFormat3(benchmark::State& s) { decodeFile(s, gLaz3); }
void BM_DecodeLazFormat6to8(benchmark::State& s) { decodeFile(s, gLaz14); }
void BM_DecodeLazGermanChannels(benchmark::State& s) { decodeFile(s, gLazPl); }
void BM_ReadPlainLas(benchmark::State& s) { decodeFile(s, gLas); }
BENCHMARK(BM_DecodeLazFormat3)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLazFormat6to8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeLazGermanChannels)->Unit(benchmark::kMillisecond);

double processCpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Elapsed time is what parallel decoding shortens.
void BM_DecodeLazThreads(benchmark::State& state) {
  if (!fs::exists(gMulti)) {
    state.SkipWithError(("missing " + gMulti).c_str());
    return;
  }
  uint64_t points = 0, checksum = 0;
  const double cpu0 = processCpuSeconds();
  for (auto _ : state) points += decodeAll(gMulti, &checksum, static_cast<int>(state.range(0)));
  benchmark::DoNotOptimize(checksum);
  state.counters["points/s"] = benchmark::Counter(static_cast<double>(points), benchmark::Counter::kIsRate);
  // CPU of every thread per decode: equal for 1 and 2 threads when the parallel path costs
  // nothing extra, whatever else the machine runs.
  state.counters["cpu_ms_all_threads"] =
      1e3 * (processCpuSeconds() - cpu0) / static_cast<double>(std::max<int64_t>(1, state.iterations()));
}
BENCHMARK(BM_DecodeLazThreads)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadPlainLas)->Unit(benchmark::kMillisecond);

struct Rate {
  double wall = -1, cpu = -1;  // points per second of elapsed and of process CPU time
};

Rate bestOurs(const std::string& path, int threads = 1) {
  double wall = 1e30, cpu = 1e30;
  uint64_t checksum = 0, points = 0;
  for (int i = 0; i < 5; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::clock_t c0 = std::clock();
    points = decodeAll(path, &checksum, threads);
    cpu = std::min(cpu, static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
    wall = std::min(wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  benchmark::DoNotOptimize(checksum);
  return {static_cast<double>(points) / wall, static_cast<double>(points) / cpu};
}

double jsonNumber(const std::string& out, const std::string& key) {
  const auto at = out.find("\"" + key + "\":");
  return at == std::string::npos ? -1 : std::atof(out.c_str() + at + key.size() + 3);
}

// Runs the node script; it answers with one line of JSON.
Rate lazPerfRate(const std::string& path) {
  const fs::path script = kRepo / "bench/lazperf_rate.js";
  if (!fs::exists(kRepo / "tests/node/node_modules/laz-perf")) return {};
  const std::string cmd = "node '" + script.string() + "' '" + path + "' 5 2>/dev/null";
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return {};
  char buf[1024] = {};
  const size_t got = fread(buf, 1, sizeof buf - 1, p);
  pclose(p);
  const std::string out(buf, got);
  return {jsonNumber(out, "pointsPerSecond"), jsonNumber(out, "pointsPerCpuSecond")};
}

Rate better(Rate a, Rate b) { return {std::max(a.wall, b.wall), std::max(a.cpu, b.cpu)}; }

// The machine's clock drifts over seconds, so both decoders are timed in turns, three times
// each, and each keeps its best.
void compareWithLazPerf() {
  std::printf("\nbest of 3 x 5 decodes taken in turns, points per second (CPU time; elapsed time in brackets)\n");
  std::printf("%-40s %24s %24s %14s\n", "file", "ours", "laz-perf (node)", "ratio");
  for (const auto& path : {gLaz3, gLaz14, gLazPl}) {
    if (!fs::exists(path)) continue;
    Rate ours, theirs;
    for (int round = 0; round < 3; ++round) {
      ours = better(ours, bestOurs(path));
      theirs = better(theirs, lazPerfRate(path));
    }
    const std::string name = fs::path(path).filename().string();
    if (theirs.cpu > 0)
      std::printf("%-40s %11.0f (%10.0f) %11.0f (%10.0f) %5.2fx (%5.2fx)\n", name.c_str(), ours.cpu, ours.wall,
                  theirs.cpu, theirs.wall, ours.cpu / theirs.cpu, ours.wall / theirs.wall);
    else
      std::printf("%-40s %11.0f (%10.0f) %24s\n", name.c_str(), ours.cpu, ours.wall, "node/laz-perf missing");
  }
  if (!fs::exists(gMulti)) return;
  Rate one, two, theirs;
  for (int round = 0; round < 3; ++round) {
    one = better(one, bestOurs(gMulti, 1));
    two = better(two, bestOurs(gMulti, 2));
    theirs = better(theirs, lazPerfRate(gMulti));
  }
  std::printf("\n%s, elapsed points per second: 1 thread %.0f, 2 threads %.0f (%.2fx), laz-perf %.0f "
              "(2 threads / laz-perf %.2fx)\n",
              fs::path(gMulti).filename().string().c_str(), one.wall, two.wall, two.wall / one.wall, theirs.wall,
              theirs.wall > 0 ? two.wall / theirs.wall : 0.0);
}

// Busy and idle time of the whole machine so far, in clock ticks (/proc/stat).
struct MachineTicks {
  double busy = 0, idle = 0;
};

MachineTicks machineTicks() {
  MachineTicks t;
  FILE* f = std::fopen("/proc/stat", "r");
  if (!f) return t;
  double v[8] = {};
  if (std::fscanf(f, "cpu %lf %lf %lf %lf %lf %lf %lf %lf", &v[0], &v[1], &v[2], &v[3], &v[4], &v[5], &v[6], &v[7]) == 8) {
    t.idle = v[3] + v[4];
    t.busy = v[0] + v[1] + v[2] + v[5] + v[6] + v[7];
  }
  std::fclose(f);
  return t;
}

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::sort(v.begin(), v.end());
  const std::size_t m = v.size() / 2;
  return v.size() % 2 ? v[m] : (v[m - 1] + v[m]) / 2;
}

// 1 and 2 threads in turns, each decode timed only when the rest of the machine is quiet: it
// waits for a tenth of a second in which other processes used under 5 % of the cores, and a
// decode during which they used more is retried. The control, in the same turns: two whole
// one-thread decodes at once, which is what the cores give two threads that share nothing
// (2 x one decode / both together). Medians of the kept decodes and of each turn's ratios; CPU
// time counts every thread of ours.
void quietTurns(int turns) {
  if (!fs::exists(gMulti)) return;
  const long ticksPerSecond = sysconf(_SC_CLK_TCK);
  // Share of the cores other processes used since `t0` while we used `ownCpu` seconds.
  auto othersShare = [&](const MachineTicks& t0, double ownCpu) {
    const MachineTicks t1 = machineTicks();
    const double all = (t1.busy + t1.idle) - (t0.busy + t0.idle);
    if (all <= 0) return 1.0;
    return std::max(0.0, (t1.busy - t0.busy) - ownCpu * static_cast<double>(ticksPerSecond)) / all;
  };
  auto waitQuiet = [&] {
    for (int i = 0; i < 600; ++i) {
      const MachineTicks t0 = machineTicks();
      const double c0 = processCpuSeconds();
      usleep(100000);
      if (othersShare(t0, processCpuSeconds() - c0) < 0.05) return;
    }
  };
  uint64_t checksum = 0;
  // Runs: 0 one thread, 1 two threads, 2 two independent one-thread decodes at once.
  auto run = [&](int kind) {
    if (kind < 2) {
      decodeAll(gMulti, &checksum, kind + 1);
      return;
    }
    uint64_t other = 0;
    std::thread second([&other] { decodeAll(gMulti, &other, 1); });
    decodeAll(gMulti, &checksum, 1);
    second.join();
    checksum += other;
  };
  std::vector<double> wall[3], cpu[3], speedup, ceiling;
  int retried = 0;
  for (int turn = 0; turn < turns; ++turn) {
    double w[3] = {};
    for (int k = 0; k < 3; ++k) {
      const int kind = (turn + k) % 3;  // each goes first in turn
      for (int attempt = 0; attempt < 20; ++attempt) {
        waitQuiet();
        const MachineTicks m0 = machineTicks();
        const double c0 = processCpuSeconds();
        const auto w0 = std::chrono::steady_clock::now();
        run(kind);
        w[kind] = std::chrono::duration<double>(std::chrono::steady_clock::now() - w0).count();
        const double c = processCpuSeconds() - c0;
        if (othersShare(m0, c) >= 0.05 && attempt < 19) {
          ++retried;
          continue;
        }
        wall[kind].push_back(w[kind]);
        cpu[kind].push_back(c);
        break;
      }
    }
    speedup.push_back(w[0] / w[1]);
    ceiling.push_back(2 * w[0] / w[2]);
  }
  benchmark::DoNotOptimize(checksum);
  std::printf("\n%s, %d quiet turns (%d runs retried), medians:\n"
              "  elapsed ms: 1 thread %.1f, 2 threads %.1f; speed-up %.2fx (of the turns' ratios %.2fx)\n"
              "  CPU ms of all threads: 1 thread %.1f, 2 threads %.1f (%+.1f %%)\n"
              "  control, two one-thread decodes at once: %.1f ms elapsed, %.1f ms CPU (%+.1f %% per decode); "
              "the cores give %.2fx; 2 threads take %.1f %% of half its time\n",
              fs::path(gMulti).filename().string().c_str(), turns, retried, 1e3 * median(wall[0]), 1e3 * median(wall[1]),
              median(wall[0]) / median(wall[1]), median(speedup), 1e3 * median(cpu[0]), 1e3 * median(cpu[1]),
              100.0 * (median(cpu[1]) / median(cpu[0]) - 1.0), 1e3 * median(wall[2]), 1e3 * median(cpu[2]),
              100.0 * (median(cpu[2]) / (2 * median(cpu[0])) - 1.0), median(ceiling),
              100.0 * median(wall[1]) / (median(wall[2]) / 2));
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> rest;
  int turns = 0;
  for (int i = 0; i < argc; ++i) {
    const std::string a = argv[i];
    if (a.rfind("--laz3=", 0) == 0) gLaz3 = a.substr(7);
    else if (a.rfind("--laz14=", 0) == 0) gLaz14 = a.substr(8);
    else if (a.rfind("--lazpl=", 0) == 0) gLazPl = a.substr(8);
    else if (a.rfind("--las=", 0) == 0) gLas = a.substr(6);
    else if (a.rfind("--multi=", 0) == 0) gMulti = a.substr(8);
    else if (a.rfind("--quiet-turns=", 0) == 0) turns = std::atoi(a.c_str() + 14);
    else rest.push_back(argv[i]);
  }
  if (turns > 0) {
    quietTurns(turns);
    return 0;
  }
  int n = static_cast<int>(rest.size());
  benchmark::Initialize(&n, rest.data());
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  compareWithLazPerf();
  return 0;
}
