// Costs of the stand-in host that grow with the project: one command's
// snapshot (paid by every import), saving and loading the project file, and
// the files the host window's plan and 3D views load after every change.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <unistd.h>

#include "host/GltfExport.h"
#include "host/MemoryHost.h"
#include "host/PlanExport.h"
#include "host/ProjectFile.h"

namespace {

using namespace veldra;

// n closed parcel outlines of 8 corners each.
void fillProject(MemoryHost& host, int n) {
  Element e;
  e.typeCode = static_cast<int>(ElementType::Polyline);
  host.getElementDefaults(e);
  host.runUndoableCommand("Import GIS", [&] {
    for (int i = 0; i < n; ++i) {
      Memo m;
      m.coords.push_back({});
      for (int k = 0; k < 8; ++k) m.coords.push_back({5500000.0 + i * 0.731 + k * 1.37, 5800000.0 + k * 0.113});
      m.coords.push_back(m.coords[1]);
      Element el = e;
      if (host.createElement(el, m) != kHostOk) return HostErr{1};
      host.setElementInfoString(el.guid, "dzialka " + std::to_string(i));
    }
    return kHostOk;
  });
}

void BM_EmptyCommandOnLargeProject(benchmark::State& state) {
  MemoryHost host;
  fillProject(host, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(host.runUndoableCommand("x", [] { return HostErr{1}; }));
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_EmptyCommandOnLargeProject)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_CreatePolylines(benchmark::State& state) {
  for (auto _ : state) {
    MemoryHost host;
    fillProject(host, static_cast<int>(state.range(0)));
    benchmark::DoNotOptimize(host.elementCount());
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_CreatePolylines)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_SaveLoad(benchmark::State& state) {
  MemoryHost host;
  fillProject(host, static_cast<int>(state.range(0)));
  const auto path = std::filesystem::temp_directory_path() / ("veldra_bench_host_" + std::to_string(::getpid()) + ".json");
  std::filesystem::remove(path);
  for (auto _ : state) {
    if (!saveProject(host, path).empty()) state.SkipWithError("save failed");
    MemoryHost loaded;
    if (!loadProject(path, loaded).empty()) state.SkipWithError("load failed");
  }
  state.counters["bytes"] = static_cast<double>(std::filesystem::file_size(path));
  std::filesystem::remove(path);
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_SaveLoad)->Arg(100000)->Unit(benchmark::kMillisecond);

// n parcels plus one 6 m block slab for every fourth of them.
void fillWithBlocks(MemoryHost& host, int n) {
  fillProject(host, n);
  Element e;
  e.typeCode = static_cast<int>(ElementType::Slab);
  host.getElementDefaults(e);
  host.runUndoableCommand("Import GIS", [&] {
    for (int i = 0; i < n; i += 4) {   // 5 000 blocks for 20 000 parcels
      const double x = 5500000.0 + i * 0.731, y = 5800000.0;
      Memo m;
      m.coords = {{}, {x, y}, {x + 10, y}, {x + 10, y + 12}, {x, y + 12}, {x, y}};
      m.ringEnds = {0, 5};
      Element el = e;
      el.level = 6.0;   // the top
      el.thickness = 6.0;
      if (host.createElement(el, m) != kHostOk) return HostErr{1};
    }
    return kHostOk;
  });
}

void BM_PlanJson(benchmark::State& state) {
  MemoryHost host;
  fillWithBlocks(host, static_cast<int>(state.range(0)));
  const ProjectData data = host.exportProject();
  std::size_t bytes = 0;
  for (auto _ : state) bytes = planJson(data, host.revision()).size();
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(data.elements.size()));
}
BENCHMARK(BM_PlanJson)->Arg(20000)->Unit(benchmark::kMillisecond);

void BM_ModelGlb(benchmark::State& state) {
  MemoryHost host;
  fillWithBlocks(host, static_cast<int>(state.range(0)));
  const ProjectData data = host.exportProject();
  std::size_t bytes = 0;
  for (auto _ : state) bytes = glbBytes(data).size();
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(data.elements.size()));
}
BENCHMARK(BM_ModelGlb)->Arg(20000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
