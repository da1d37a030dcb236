// Download throughput of the service client over loopback, streamed into the
// cache versus held in memory, with the peak resident size it costs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <curl/curl.h>
#include <sys/resource.h>

#include "net/Endpoints.h"
#include "net/FixtureServer.h"
#include "net/WfsClient.h"

namespace {

namespace fs = std::filesystem;

long peakRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

std::unique_ptr<veldra::fixture::FixtureServer> server(std::int64_t bytes) {
  std::string error;
  auto s = veldra::fixture::FixtureServer::fromManifest(
      R"({"routes":[{"path":"/f","body_size":)" + std::to_string(bytes) + R"(,"chunk_size":262144}]})", ".", error);
  if (s) s->start(0, error);
  return s;
}

void BM_CachedDownload(benchmark::State& state) {
  fs::path home = fs::temp_directory_path() / "veldra-bench-net";
  ::setenv("XDG_CACHE_HOME", home.c_str(), 1);
  auto s = server(state.range(0));
  veldra::WfsClient client;
  client.setHostSpacingMs(0);
  long before = peakRssKb();
  int i = 0;
  for (auto _ : state) {
    std::string error;
    // A fresh URL each round so that the cache never answers.
    std::string path = client.getCachedFile(s->baseUrl() + "/f?r=" + std::to_string(i++), {}, 10000, error);
    if (path.empty()) state.SkipWithError(error.c_str());
    state.PauseTiming();
    fs::remove(path);
    state.ResumeTiming();
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
  state.counters["peak_rss_growth_MB"] = static_cast<double>(peakRssKb() - before) / 1024.0;
  fs::remove_all(home);
}
BENCHMARK(BM_CachedDownload)->Arg(64 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_InMemoryRequest(benchmark::State& state) {
  auto s = server(state.range(0));
  veldra::WfsClient client;
  client.setHostSpacingMs(0);
  for (auto _ : state) {
    auto r = client.getOnce(s->baseUrl() + "/f", 10000);
    if (r.status != 200) state.SkipWithError("request failed");
    benchmark::DoNotOptimize(r.body.data());
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_InMemoryRequest)->Arg(8 << 20)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  veldra::endpoints::setProcessRewriteTable(veldra::endpoints::RewriteTable{});
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
