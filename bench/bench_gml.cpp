// GML parsing throughput and peak heap on a synthetic WFS 2.0 answer of about 50 MB (~100 000 parcels).
//
//   bench_gml                               MB/s and peak heap of parsing (and of parsing + GeoJSON)
//   bench_gml --write-sample=FILE           writes the same synthetic answer, for bench/gml_vs_ogr2ogr.sh
#include <benchmark/benchmark.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <new>
#include <string>

#include <sys/resource.h>

#include "formats/GeoJsonWriter.h"
#include "formats/GmlParser.h"

namespace {

// Heap accounting for operator new and pugixml's allocations.
std::atomic<std::size_t> gCurrent{0};
std::atomic<std::size_t> gPeak{0};

// Out of line: inlined into operator delete, GCC 12 at -O3 takes the 16-byte header for an
// out-of-bounds access.
[[gnu::noinline]] void* countedAlloc(std::size_t n) {
  auto* p = static_cast<std::size_t*>(std::malloc(n + 16));
  if (!p) return nullptr;
  *p = n;
  const std::size_t now = gCurrent.fetch_add(n) + n;
  std::size_t peak = gPeak.load();
  while (now > peak && !gPeak.compare_exchange_weak(peak, now)) {
  }
  return reinterpret_cast<char*>(p) + 16;
}

[[gnu::noinline]] void countedFree(void* q) {
  if (!q) return;
  auto* p = reinterpret_cast<std::size_t*>(static_cast<char*>(q) - 16);
  gCurrent.fetch_sub(*p);
  std::free(p);
}

void* pugiAlloc(std::size_t n) { return countedAlloc(n); }
void pugiFree(void* p) { countedFree(p); }

std::string makeAnswer(std::size_t targetBytes, std::size_t& parcels) {
  static const char* kObreby[] = {"\xC5\x81osie\xC5\x84", "Strzemieszyce", "Z\xC4\x85\x62kowice", "Gołonóg", "Ujejsce"};
  std::string s;
  s.reserve(targetBytes + 4096);
  s += "<?xml version='1.0' encoding=\"UTF-8\" ?>\n<wfs:FeatureCollection xmlns:ms=\"http://mapserver.gis.umn.edu/mapserver\" "
       "xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:wfs=\"http://www.opengis.net/wfs/2.0\" "
       "timeStamp=\"2026-01-22T15:47:45\" numberMatched=\"unknown\" numberReturned=\"0\">\n";
  char buf[512];
  parcels = 0;
  unsigned seed = 12345;
  auto rnd = [&] { return (seed = seed * 1103515245u + 12345u) >> 8; };
  while (s.size() < targetBytes) {
    const std::size_t i = parcels++;
    const double n0 = 260000 + static_cast<double>(i % 1000) * 30.0;
    const double e0 = 380000 + static_cast<double>(i / 1000) * 30.0;
    const int verts = 4 + static_cast<int>(rnd() % 3);
    std::snprintf(buf, sizeof buf,
                  "<wfs:member><ms:dzialki gml:id=\"dzialki.%zu\"><ms:geom><gml:Polygon "
                  "srsName=\"urn:ogc:def:crs:EPSG::2180\"><gml:exterior><gml:LinearRing><gml:posList>",
                  i);
    s += buf;
    for (int v = 0; v < verts; ++v) {
      const double a = 6.283185307179586 * v / verts;
      std::snprintf(buf, sizeof buf, "%.2f %.2f ", n0 + 12 + 11 * __builtin_sin(a), e0 + 12 + 11 * __builtin_cos(a));
      s += buf;
    }
    std::snprintf(buf, sizeof buf, "%.2f %.2f", n0 + 12, e0 + 23.0);
    s += buf;
    std::snprintf(buf, sizeof buf,
                  "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></ms:geom>\n"
                  "<ms:ID_DZIALKI>246501_1.%04zu.%zu</ms:ID_DZIALKI><ms:NUMER_DZIALKI>%zu/%u</ms:NUMER_DZIALKI>"
                  "<ms:NAZWA_OBREBU>%s</ms:NAZWA_OBREBU><ms:NUMER_OBREBU>%04zu</ms:NUMER_OBREBU>"
                  "</ms:dzialki></wfs:member>\n",
                  i % 10000, i, i % 5000, rnd() % 9 + 1, kObreby[i % 5], i % 10000);
    s += buf;
  }
  s += "</wfs:FeatureCollection>\n";
  return s;
}

const std::string& answer(std::size_t* parcelsOut = nullptr) {
  static std::size_t parcels = 0;
  static const std::string text = makeAnswer(50u << 20, parcels);
  if (parcelsOut) *parcelsOut = parcels;
  return text;
}

long maxRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

void BM_ParseFeatureCollection(benchmark::State& state) {
  std::size_t parcels = 0;
  const std::string& text = answer(&parcels);
  std::size_t features = 0;
  std::size_t peak = 0;
  for (auto _ : state) {
    const std::size_t base = gCurrent.load();
    gPeak.store(base);
    auto fs = veldra::GmlParser::parseFeatureCollection(text, veldra::DataType::Dzialki);
    peak = std::max(peak, gPeak.load() - base);
    features = fs.size();
    benchmark::DoNotOptimize(fs.data());
  }
  if (features != parcels) state.SkipWithError("feature count differs from the generated parcels");
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["file_MB"] = static_cast<double>(text.size()) / 1e6;
  state.counters["features"] = static_cast<double>(features);
  state.counters["peak_heap_MB"] = static_cast<double>(peak) / 1e6;
  state.counters["peak_per_file_size"] = static_cast<double>(peak) / static_cast<double>(text.size());
  state.counters["max_rss_MB"] = static_cast<double>(maxRssKb()) / 1e3;
}
BENCHMARK(BM_ParseFeatureCollection)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ParseAndGeoJson(benchmark::State& state) {
  const std::string& text = answer();
  std::size_t outBytes = 0;
  for (auto _ : state) {
    auto fs = veldra::GmlParser::parseFeatureCollection(text, veldra::DataType::Dzialki);
    const std::string json = veldra::toGeoJson(fs);
    outBytes = json.size();
    benchmark::DoNotOptimize(json.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
  state.counters["geojson_MB"] = static_cast<double>(outBytes) / 1e6;
}
BENCHMARK(BM_ParseAndGeoJson)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace

void* operator new(std::size_t n) {
  if (void* p = countedAlloc(n ? n : 1)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { countedFree(p); }
void operator delete(void* p, std::size_t) noexcept { countedFree(p); }

int main(int argc, char** argv) {
  pugi::set_memory_management_functions(pugiAlloc, pugiFree);
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--write-sample=", 15) == 0) {
      std::size_t parcels = 0;
      const std::string& text = answer(&parcels);
      std::ofstream f(argv[i] + 15, std::ios::binary);
      f.write(text.data(), static_cast<std::streamsize>(text.size()));
      std::printf("%zu bytes, %zu parcels\n", text.size(), parcels);
      return f ? 0 : 1;
    }
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
