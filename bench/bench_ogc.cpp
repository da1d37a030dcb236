// OGC client: a repeated fetch of a 2 x 2 km frame served from the tile cache
// (read, merge, parse, drop repeats), capabilities scans, duplicate removal.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "net/OgcClient.h"

namespace {

using namespace veldra;

std::string squareMember(int id, double x, double y) {
  auto n = [](double v) { return std::to_string(v); };
  const double s = 12;
  return "<wfs:member><ms:budynki><ms:ID>" + std::to_string(id) +
         "</ms:ID><ms:geom><gml:Polygon srsName=\"urn:ogc:def:crs:EPSG::2180\"><gml:exterior><gml:LinearRing>"
         "<gml:posList>" +
         n(y) + " " + n(x) + " " + n(y) + " " + n(x + s) + " " + n(y + s) + " " + n(x + s) + " " + n(y + s) + " " +
         n(x) + " " + n(y) + " " + n(x) +
         "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></ms:geom></ms:budynki></wfs:member>";
}

// 250 buildings per 500 m tile, 33 m apart (the last ones overhang the tile edge).
class GridTransport : public HttpTransport {
 public:
  TransportResponse performRequest(const std::string&, const std::string& url, const std::string&,
                                   const std::string&, long, long, const std::string&) override {
    auto p = url.find("&BBOX=");
    double minY = std::stod(url.substr(p + 6));
    double minX = std::stod(url.substr(url.find("%2C", p) + 3));
    std::string body =
        "<wfs:FeatureCollection xmlns:wfs=\"http://www.opengis.net/wfs/2.0\" "
        "xmlns:gml=\"http://www.opengis.net/gml/3.2\" xmlns:ms=\"m\">";
    for (int i = 0; i < 16; ++i) {
      for (int j = 0; j < 16 && i * 16 + j < 250; ++j) {
        double x = minX + i * 33.0, y = minY + j * 33.0;
        body += squareMember(static_cast<int>(x * 7 + y), x, y);
      }
    }
    body += "</wfs:FeatureCollection>";
    return {200, body, "", true};
  }
  StreamResult performStreamingGet(const std::string&, long, long, const std::string&, const ChunkSink&) override {
    return {};
  }
};

void BM_CachedFrameFetch(benchmark::State& state) {
  GridTransport transport;
  WfsClient http(&transport);
  http.setHostSpacingMs(0);
  OgcClient ogc(http);
  const Bbox frame{500000, 600000, 502000, 602000};
  std::size_t n = ogc.fetchFeatures("https://h/wfs", "ms:budynki", frame, DataType::Budynki, nullptr).size();
  for (auto _ : state) {
    auto f = ogc.fetchFeatures("https://h/wfs", "ms:budynki", frame, DataType::Budynki, nullptr);
    benchmark::DoNotOptimize(f.data());
  }
  state.counters["features"] = static_cast<double>(n);
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(n));
}
BENCHMARK(BM_CachedFrameFetch)->Unit(benchmark::kMillisecond);

void BM_ScanLayerPair(benchmark::State& state) {
  std::string caps = "<wfs:WFS_Capabilities><FeatureTypeList>";
  for (int i = 0; i < 5000; ++i) {
    caps += "<FeatureType><Name>ns:layer_" + std::to_string(i) + "</Name><Title>Warstwa " + std::to_string(i) +
            "</Title><DefaultCRS>urn:ogc:def:crs:EPSG::2180</DefaultCRS></FeatureType>\n";
  }
  caps += "<FeatureType><Name>ns:dzialki</Name></FeatureType></FeatureTypeList></wfs:WFS_Capabilities>";
  for (auto _ : state) benchmark::DoNotOptimize(scanLayerPair(caps));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(caps.size()));
}
BENCHMARK(BM_ScanLayerPair);

void BM_RemoveDuplicates(benchmark::State& state) {
  std::vector<GisFeature> features;
  for (int i = 0; i < 4000; ++i) {
    GisFeature f;
    double x = (i % 3000) * 20.0;
    f.polygons.push_back({{{x, 0}, {x + 10, 0}, {x + 10, 10}, {x, 10}, {x, 0}}, {}});
    f.attributes["ID"] = std::to_string(i % 3000);
    features.push_back(std::move(f));
  }
  for (auto _ : state) benchmark::DoNotOptimize(removeDuplicateFeatures(features));
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(features.size()));
}
BENCHMARK(BM_RemoveDuplicates);

}  // namespace

int main(int argc, char** argv) {
  // Tiles go to a cache folder of this run only.
  std::string tmpl = (std::filesystem::temp_directory_path() / "veldra-bench-ogc-XXXXXX").string();
  const char* home = ::mkdtemp(tmpl.data());
  if (home) ::setenv("XDG_CACHE_HOME", home, 1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::error_code ec;
  if (home) std::filesystem::remove_all(home, ec);
  return 0;
}
