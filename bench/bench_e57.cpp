// E57 writing of the palette's largest cloud (8,000,000 points) against plain fwrite of the same
// number of bytes, and the heap the writer needs beyond the points.
//
//   cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELDRA_BENCH=ON
//   ninja -C build-bench bench_e57
//   build-bench/bench/bench_e57 --benchmark_min_time=2 --benchmark_repetitions=3
//
// Compare the times of BM_WriteE57 with BM_FwriteSameBytes (target: within 1.5x), wall and CPU;
// CPU time is the whole process's, so work moved to another thread would still count. Both write
// the same number of bytes into the same folder, and neither pays for removing its file.
// peak_heap_MB is the largest heap use during one writeE57 call (target: under 150 MB).
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "cloud/E57Writer.h"

namespace {

std::atomic<long long> gHeapNow{0};
std::atomic<long long> gHeapPeak{0};

void noteAlloc(std::size_t n) {
  const long long now = gHeapNow.fetch_add(static_cast<long long>(n)) + static_cast<long long>(n);
  long long peak = gHeapPeak.load();
  while (now > peak && !gHeapPeak.compare_exchange_weak(peak, now)) {
  }
}

}  // namespace

// Heap accounting: every block carries its size in a 16-byte prefix.
void* operator new(std::size_t n) {
  void* p = std::malloc(n + 16);
  if (!p) throw std::bad_alloc();
  *static_cast<std::size_t*>(p) = n;
  noteAlloc(n);
  return static_cast<char*>(p) + 16;
}
void operator delete(void* p) noexcept {
  if (!p) return;
  char* base = static_cast<char*>(p) - 16;
  gHeapNow.fetch_sub(static_cast<long long>(*reinterpret_cast<std::size_t*>(base)));
  std::free(base);
}
void operator delete(void* p, std::size_t) noexcept { operator delete(p); }

namespace {

constexpr std::size_t kPoints = 8'000'000;

const std::vector<veldra::CloudPoint>& cloud() {
  static const std::vector<veldra::CloudPoint> pts = [] {
    std::vector<veldra::CloudPoint> v(kPoints);
    uint64_t s = 12345;
    for (auto& p : v) {
      s = s * 6364136223846793005ull + 1442695040888963407ull;
      p.x = double(s >> 40) * 1e-4;
      p.y = double((s >> 16) & 0xFFFFFF) * 1e-4;
      p.z = 200.0 + double(s & 0xFFFF) * 1e-3;
      p.red = uint8_t(s >> 8);
      p.green = uint8_t(s >> 16);
      p.blue = uint8_t(s >> 24);
    }
    return v;
  }();
  return pts;
}

std::string scratch(const char* name) { return (std::filesystem::temp_directory_path() / name).string(); }

void BM_WriteE57(benchmark::State& state) {
  const auto& pts = cloud();
  const std::string path = scratch("veldra_bench_e57.e57");
  long long peak = 0;
  int64_t bytes = 0;
  for (auto _ : state) {
    const long long base = gHeapNow.load();
    gHeapPeak.store(base);
    std::string err;
    if (!veldra::writeE57(path, pts, err)) {
      state.SkipWithError(err.c_str());
      break;
    }
    peak = std::max(peak, gHeapPeak.load() - base);
    state.PauseTiming();
    bytes = static_cast<int64_t>(std::filesystem::file_size(path));
    std::filesystem::remove(path);  // neither side pays for dropping the previous file
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * bytes);
  state.counters["file_MB"] = double(bytes) / 1e6;
  state.counters["peak_heap_MB"] = double(peak) / 1e6;
}
BENCHMARK(BM_WriteE57)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

// The size of the E57 file of the same cloud, written once beforehand.
std::size_t e57FileSize() {
  static const std::size_t size = [] {
    const std::string path = scratch("veldra_bench_e57_size.e57");
    std::string err;
    if (!veldra::writeE57(path, cloud(), err)) return std::size_t(0);
    const auto bytes = static_cast<std::size_t>(std::filesystem::file_size(path));
    std::filesystem::remove(path);
    return bytes;
  }();
  return size;
}

void BM_FwriteSameBytes(benchmark::State& state) {
  // Exactly the bytes of the E57 file, from one buffer in 1 MiB pieces (the writer's block size).
  const std::size_t bytes = e57FileSize();
  if (bytes == 0) {
    state.SkipWithError("cannot write the E57 file to size it");
    return;
  }
  std::vector<char> buf(bytes, 'x');
  const std::string path = scratch("veldra_bench_fwrite.bin");
  for (auto _ : state) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
      state.SkipWithError("cannot open scratch file");
      break;
    }
    for (std::size_t off = 0; off < bytes; off += 1 << 20)
      std::fwrite(buf.data() + off, 1, std::min<std::size_t>(1 << 20, bytes - off), f);
    std::fclose(f);
    state.PauseTiming();
    std::filesystem::remove(path);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
  state.counters["file_MB"] = double(bytes) / 1e6;
}
BENCHMARK(BM_FwriteSameBytes)->Unit(benchmark::kMillisecond)->UseRealTime()->MeasureProcessCPUTime();

}  // namespace

BENCHMARK_MAIN();
