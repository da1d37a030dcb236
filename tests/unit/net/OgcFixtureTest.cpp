// The OGC client over real HTTP against the fixture server on loopback (the
// binary's own black-box tests are tests/integration/test_ogc_services.py).
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/OgcClient.h"
#include "unit/net/OgcTestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::collection;
using testing::memberSquare;

const fs::path kSamples = fs::path(VELDRA_SHARED_DATA) / "samples";

#define REQUIRE_SAMPLES(...)                                                               \
  for (const char* f : {__VA_ARGS__}) {                                                    \
    if (!fs::exists(kSamples / f)) GTEST_SKIP() << "recorded answer missing: " << (kSamples / f); \
  }

class OgcOverHttp : public testing::OgcTest {
 protected:
  void SetUp() override {
    OgcTest::SetUp();
    http.setHostSpacingMs(0);
  }
  void serve(const json& manifest, const fs::path& root = kSamples) {
    server = testing::startServer(manifest.dump(), root.string());
    ASSERT_TRUE(server);
    base = server->baseUrl() + "/egib/wfs";
  }
  long requests() const { return server->requestCount(); }

  WfsClient http;
  OgcClient ogc{http};
  std::unique_ptr<fixture::FixtureServer> server;
  std::string base;
};

TEST_F(OgcOverHttp, RecordedErrorPassedThroughWithStatus200GivesNoFeatures) {
  REQUIRE_SAMPLES("kimpzp_gfi/bielsko_biala_246101_layer_not_defined_http200.html");
  serve({{"routes",
          {{{"path", "/egib/wfs"}, {"body_file", "kimpzp_gfi/bielsko_biala_246101_layer_not_defined_http200.html"}}}}});
  EXPECT_TRUE(ogc.fetchFeatures(base, "ms:dzialki", {500000, 600000, 500300, 600300}, DataType::Dzialki, nullptr)
                  .empty());
}

TEST_F(OgcOverHttp, TilesAreMergedAndFeaturesRepeatedAcrossTilesKeptOnce) {
  const std::string shared = memberSquare("B.shared", 500495, 600100);
  serve({{"routes",
          {{{"path", "/egib/wfs"},
            {"query_includes", {{"BBOX", "600000,500000,600300,500500,urn:ogc:def:crs:EPSG::2180"}}},
            {"body", collection(memberSquare("B.1", 500100, 600100) + shared)}},
           {{"path", "/egib/wfs"},
            {"query_includes", {{"BBOX", "600000,500500,600300,501000,urn:ogc:def:crs:EPSG::2180"}}},
            {"body", collection(shared + memberSquare("B.2", 500700, 600100))}}}}},
        ".");
  std::vector<std::pair<int, int>> reports;
  auto f = ogc.fetchFeatures(base, "ms:budynki", {500000, 600000, 501000, 600300}, DataType::Budynki,
                             [&](int d, int t) { reports.emplace_back(d, t); });
  ASSERT_EQ(f.size(), 3u);
  EXPECT_EQ(f[0].attributes["ID"], "B.1");
  EXPECT_EQ(f[1].attributes["ID"], "B.shared");
  EXPECT_EQ(f[2].attributes["ID"], "B.2");
  EXPECT_EQ(reports, (std::vector<std::pair<int, int>>{{1, 2}, {2, 2}}));
  EXPECT_EQ(requests(), 2);
  EXPECT_EQ(cacheFiles().size(), 2u);
}

}  // namespace
}  // namespace veldra
