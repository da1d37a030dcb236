// The OGC client and the municipality lookup over real HTTP against the
// fixture server on loopback; recorded service answers are served from the
// shared sample folder when it is present.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/Endpoints.h"
#include "net/OgcClient.h"
#include "net/ServiceDirectory.h"
#include "unit/net/OgcTestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using testing::collection;
using testing::exceptionReport;
using testing::memberSquare;

const fs::path kSamples = fs::path(VELDRA_SHARED_DATA) / "samples";
// One building of county 0201 in PL-1992, x 260658..260684, y 382870..382896.
const char* kBuilding = "egib_wfs/budynki_geoportal_gml_building_2180_crs.xml";
const char* kNoBuilding = "egib_wfs/budynki_geoportal2_gml_no_building.xml";

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

TEST_F(OgcOverHttp, ExceptionReportWithStatus200EndsAsNoData) {
  serve({{"routes", {{{"path", "/egib/wfs"}, {"body", exceptionReport()}, {"content_type", "text/xml"}}}}}, ".");
  Bbox frame{500000, 600000, 500300, 600300};
  EXPECT_TRUE(ogc.fetchFeatures(base, "ms:dzialki", frame, DataType::Dzialki, nullptr).empty());
  EXPECT_EQ(requests(), 5);  // four variants and the count
  EXPECT_EQ(ogc.rememberedStrategy(base, "ms:dzialki"), 0);
  EXPECT_TRUE(cacheFiles().empty());
  // Nothing was kept: the next fetch asks the server again.
  ogc.fetchFeatures(base, "ms:dzialki", frame, DataType::Dzialki, nullptr);
  EXPECT_EQ(requests(), 10);
}

TEST_F(OgcOverHttp, RecordedErrorPassedThroughWithStatus200GivesNoFeatures) {
  REQUIRE_SAMPLES("kimpzp_gfi/bielsko_biala_246101_layer_not_defined_http200.html");
  serve({{"routes",
          {{{"path", "/egib/wfs"}, {"body_file", "kimpzp_gfi/bielsko_biala_246101_layer_not_defined_http200.html"}}}}});
  EXPECT_TRUE(ogc.fetchFeatures(base, "ms:dzialki", {500000, 600000, 500300, 600300}, DataType::Dzialki, nullptr)
                  .empty());
}

TEST_F(OgcOverHttp, ServiceUnavailableIsAskedOnceMore) {
  serve({{"routes",
          {{{"path", "/egib/wfs"},
            {"responses",
             {{{"status", 503}, {"body", "busy"}},
              {{"body", "<wfs:WFS_Capabilities><FeatureTypeList><FeatureType><Name>ms:dzialki</Name></FeatureType>"
                        "<FeatureType><Name>ms:budynki</Name></FeatureType></FeatureTypeList>"
                        "</wfs:WFS_Capabilities>"}}}}}}}},
        ".");
  LayerPair layers;
  ASSERT_TRUE(ogc.resolveLayers(base, layers));
  EXPECT_EQ(layers.parcels, "ms:dzialki");
  EXPECT_EQ(layers.buildings, "ms:budynki");
  EXPECT_EQ(requests(), 2);
  ASSERT_TRUE(ogc.resolveLayers(base, layers));
  EXPECT_EQ(requests(), 2);
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

TEST_F(OgcOverHttp, RecordedBuildingOnATileEdgeComesOnce) {
  REQUIRE_SAMPLES(kBuilding);
  serve({{"routes", {{{"path", "/egib/wfs"}, {"body_file", kBuilding}}}}});
  // The tile edge at x 260671 runs through the building; both tiles return it.
  auto f = ogc.fetchFeatures(base, "ms:budynki", {260171, 382700, 261171, 383000}, DataType::Budynki, nullptr);
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(f[0].attributes["_typ"], "budynki");
  EXPECT_EQ(requests(), 2);
  EXPECT_EQ(ogc.rememberedStrategy(base, "ms:budynki"), 1);
}

TEST_F(OgcOverHttp, RecordedHitsAnswerLeadsToTheWholeLayerFilteredLocally) {
  REQUIRE_SAMPLES(kBuilding, kNoBuilding, "registry/ru_app-mpzp_hits_146501_wfs20.xml");
  serve({{"routes",
          {{{"path", "/egib/wfs"},
            {"query_includes", {{"resultType", "hits"}}},
            {"body_file", "registry/ru_app-mpzp_hits_146501_wfs20.xml"}},  // numberMatched 14
           {{"path", "/egib/wfs"},
            {"query", {{"service", "WFS"}, {"version", "2.0.0"}, {"request", "GetFeature"}, {"typenames", "ms:budynki"}}},
            {"body_file", kBuilding}},
           {{"path", "/egib/wfs"}, {"body_file", kNoBuilding}}}}});
  std::vector<std::pair<int, int>> reports;
  Bbox frame{260600, 382800, 260800, 383000};
  auto f = ogc.fetchFeatures(base, "ms:budynki", frame, DataType::Budynki,
                             [&](int d, int t) { reports.emplace_back(d, t); });
  ASSERT_EQ(f.size(), 1u);
  EXPECT_EQ(requests(), 6);  // four variants, the count, the layer
  EXPECT_EQ(reports.back(), std::make_pair(1, 1));
  EXPECT_EQ(ogc.rememberedStrategy(base, "ms:budynki"), 0);

  // The same layer for a frame beside the building: fetched from the cache, filtered away.
  EXPECT_TRUE(ogc.fetchFeatures(base, "ms:budynki", {268000, 382800, 268200, 383000}, DataType::Budynki, nullptr)
                  .empty());
  EXPECT_EQ(requests(), 6 + 5);
}

TEST_F(OgcOverHttp, RememberedVariantIsTheOnlyOneAskedLater) {
  REQUIRE_SAMPLES(kBuilding, kNoBuilding);
  // Only requests with the frame easting first find the building.
  serve({{"routes",
          {{{"path", "/egib/wfs"},
            {"query_includes", {{"BBOX", "260600,382800,260800,383000,urn:ogc:def:crs:EPSG::2180"}}},
            {"body_file", kBuilding}},
           {{"path", "/egib/wfs"},
            {"query_includes", {{"BBOX", "260650,382850,260850,383050,urn:ogc:def:crs:EPSG::2180"}}},
            {"body_file", kBuilding}},
           {{"path", "/egib/wfs"}, {"body_file", kNoBuilding}}}}});
  EXPECT_EQ(ogc.fetchFeatures(base, "ms:budynki", {260600, 382800, 260800, 383000}, DataType::Budynki, nullptr).size(),
            1u);
  EXPECT_EQ(requests(), 2);
  EXPECT_EQ(ogc.rememberedStrategy(base, "ms:budynki"), 2);
  EXPECT_EQ(ogc.fetchFeatures(base, "ms:budynki", {260650, 382850, 260850, 383050}, DataType::Budynki, nullptr).size(),
            1u);
  EXPECT_EQ(requests(), 3);
  auto log = testing::stats(*server)["requests"];
  EXPECT_NE(log.back()["query"].get<std::string>().find("BBOX=260650%2C382850"), std::string::npos);
}

// Municipality with geometry and the 7-digit code of Boleslawiec (rural), county 0201.
std::string municipalityAnswer() {
  return collection(
      "<wfs:member><ms:A03_Granice_gmin><ms:JPT_KOD_JE>0201022</ms:JPT_KOD_JE><ms:msGeometry><gml:Polygon "
      "srsName=\"urn:ogc:def:crs:EPSG::2180\"><gml:exterior><gml:LinearRing><gml:posList>300000 200000 300000 210000 "
      "310000 210000 300000 200000</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></ms:msGeometry>"
      "</ms:A03_Granice_gmin></wfs:member>");
}

class PrgOverHttp : public OgcOverHttp {
 protected:
  void serveBoundaries(const json& routes) {
    json r = routes;
    for (auto& route : r) route["path"] = "/mapy/wss/service/PZGIK/PRG/WFS/AdministrativeBoundaries";
    serve({{"routes", r}});
    endpoints::setProcessRewriteTable(endpoints::loopbackRewrites(server->baseUrl()));
  }
  MunicipalityCache cache;
};

TEST_F(PrgOverHttp, MunicipalityFoundAndItsCountyServicesLookedUp) {
  serveBoundaries(json::array({{{"body", municipalityAnswer()}}}));
  std::string code = resolveMunicipality(http, cache, {205000, 305000, 205400, 305400});
  ASSERT_EQ(code, "020102");
  EXPECT_FALSE(lookupService(countyEgibServices, code, 4).wfs.empty());
  EXPECT_EQ(requests(), 1);
  auto log = testing::stats(*server)["requests"];
  EXPECT_NE(log[0]["query"].get<std::string>().find("typenames=ms%3AA03_Granice_gmin"), std::string::npos);
}

TEST_F(PrgOverHttp, RecordedCountyAnswerHoldsNoMunicipalitySoCapabilitiesAreAsked) {
  REQUIRE_SAMPLES("prg/a02_powiaty_two_counties_propertyname_wfs20.xml");
  // Answers to the default layer with the recorded county answer (4-digit
  // codes, no geometry); the capabilities point at another layer.
  serveBoundaries(json::array(
      {{{"query_includes", {{"request", "GetCapabilities"}}},
        {"body", "<WFS_Capabilities><FeatureType><Name>ms:A02_Granice_powiatow</Name></FeatureType>"
                 "<FeatureType><Name>ms:A03_Granice_gmin_2026</Name></FeatureType></WFS_Capabilities>"}},
       {{"query_includes", {{"typenames", "ms:A03_Granice_gmin_2026"}}}, {"body", municipalityAnswer()}},
       {{"body_file", "prg/a02_powiaty_two_counties_propertyname_wfs20.xml"}}}));
  EXPECT_EQ(resolveMunicipality(http, cache, {205000, 305000, 205400, 305400}), "020102");
  EXPECT_EQ(cache.layer, "ms:A03_Granice_gmin_2026");
  EXPECT_EQ(requests(), 3);
}

TEST_F(PrgOverHttp, RecordedCountyAnswerAloneGivesNoMunicipality) {
  REQUIRE_SAMPLES("prg/a02_powiaty_two_counties_propertyname_wfs20.xml");
  serveBoundaries(json::array({{{"query_includes", {{"request", "GetCapabilities"}}}, {"status", 503}},
                               {{"body_file", "prg/a02_powiaty_two_counties_propertyname_wfs20.xml"}}}));
  EXPECT_EQ(resolveMunicipality(http, cache, {205000, 305000, 205400, 305400}), "");
  EXPECT_TRUE(cache.code.empty());
  EXPECT_TRUE(cache.capabilitiesProbed);
  EXPECT_EQ(requests(), 3);  // query, capabilities and its one retry
}

}  // namespace
}  // namespace veldra
