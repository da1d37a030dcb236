#include <gtest/gtest.h>

#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "net/Endpoints.h"
#include "net/ServiceDirectory.h"
#include "unit/net/OgcTestSupport.h"

namespace veldra {
namespace {

using testing::collection;
using testing::ok;

using testing::has;

// ---------------------------------------------------------------------------
// Directories

TEST(LookupService, ShortOrUnknownCodesGiveNothingFirstEqualRowWins) {
  for (const char* code : {"", "02", "020", "9999", "abcd", "2099", "0299"}) {
    const ServiceAddresses a = lookupService(countyEgibServices, code, 4);
    EXPECT_EQ(a.wms + a.wfs, "") << code;
  }
  EXPECT_EQ(lookupService(municipalPlanServices, "12010", 6).wfs, "");
  // The first equal row wins.
  const ServiceRecord rows[] = {{"0201", "a", ""}, {"0201", "b", "x"}, {"020", "c", "y"}};
  EXPECT_EQ(lookupService(rows, "020155", 4).wms, "a");
  EXPECT_EQ(lookupService(rows, "0205", 3).wms, "c");
}

// The form and order of keys and addresses are the generator's checks (its black-box test);
// here what holds across the tables.
TEST(Directories, CountyTablesShareTheirKeysAndMunicipalitiesBelongToListedCounties) {
  ASSERT_EQ(countyEgibServices.size(), 380u);   // every county of the country
  ASSERT_EQ(countyBdot500Services.size(), countyEgibServices.size());
  ASSERT_EQ(countyGesutServices.size(), countyEgibServices.size());
  std::set<std::string_view> counties;
  for (std::size_t i = 0; i < countyEgibServices.size(); ++i) {
    const auto& e = countyEgibServices[i];
    EXPECT_EQ(countyBdot500Services[i].key, e.key);
    EXPECT_EQ(countyGesutServices[i].key, e.key);
    EXPECT_FALSE(e.wfs.empty()) << e.key;
    counties.insert(e.key);
  }
  ASSERT_GT(municipalPlanServices.size(), 2400u);   // nearly every municipality of the country
  std::size_t withService = 0;
  for (const auto& r : municipalPlanServices) {
    EXPECT_TRUE(counties.count(r.key.substr(0, 4))) << r.key;
    if (!r.wms.empty() || !r.wfs.empty()) ++withService;
  }
  EXPECT_GT(withService, 0u);
}

// ---------------------------------------------------------------------------
// Municipality under the frame

std::string municipalityAnswer(const std::string& key, const std::string& value) {
  return collection(
      "<wfs:member><ms:A03_Granice_gmin gml:id=\"A03.1\"><ms:JPT_NAZWA_>Boleslawiec</ms:JPT_NAZWA_><ms:" + key + ">" +
      value + "</ms:" + key + "><ms:msGeometry><gml:Polygon srsName=\"urn:ogc:def:crs:EPSG::2180\"><gml:exterior>"
      "<gml:LinearRing><gml:posList>300000 200000 300000 210000 310000 210000 300000 200000</gml:posList>"
      "</gml:LinearRing></gml:exterior></gml:Polygon></ms:msGeometry></ms:A03_Granice_gmin></wfs:member>");
}

class Municipality : public testing::OgcTest {
 protected:
  static bool isCapabilities(const std::string& url) { return has(url, "request=GetCapabilities"); }
  MunicipalityCache cache;
  const std::string prg = endpoints::url(endpoints::Service::PrgBoundariesWfs);
};

TEST_F(Municipality, SevenDigitCodeGivesTheMunicipalityAndTheRequestIsA2MetreFrame) {
  transport.answer = [](const std::string&) { return ok(municipalityAnswer("JPT_KOD_JE", "0201011")); };
  EXPECT_EQ(resolveMunicipality(client, cache, {205000, 305000, 205400, 305200}), "020101");
  ASSERT_EQ(transport.urls.size(), 1u);
  EXPECT_EQ(transport.urls[0], prg +
                                   "?service=WFS&version=2.0.0&request=GetFeature&typenames=ms%3AA03_Granice_gmin"
                                   "&COUNT=5&BBOX=305099%2C205199%2C305101%2C205201%2C"
                                   "urn%3Aogc%3Adef%3Acrs%3AEPSG%3A%3A2180");
  EXPECT_EQ(std::tie(cache.centre.x, cache.centre.y), std::make_tuple(205200.0, 305100.0));
}

TEST_F(Municipality, OnlySixOrSevenDigitValuesUnderTerytOrKodKeysCount) {
  struct Case {
    const char* key;
    const char* value;
    const char* code;
  } cases[] = {{"JPT_KOD_JE", "02010", ""},      {"JPT_KOD_JE", "020101", "020101"}, {"TERYT", "1465011", "146501"},
               {"JPT_KOD_JE", "02010a1", ""},    {"JPT_ID", "0201011", ""},          {"kodTeryt", "02010111", ""}};
  for (const auto& c : cases) {
    MunicipalityCache fresh;
    fresh.capabilitiesProbed = true;  // no probe here
    transport.answer = [&](const std::string&) { return ok(municipalityAnswer(c.key, c.value)); };
    EXPECT_EQ(resolveMunicipality(client, fresh, {0, 0, 10, 10}), c.code) << c.key << "=" << c.value;
  }
}

TEST_F(Municipality, CentresWithin10KmShareOneRequest) {
  transport.answer = [](const std::string&) { return ok(municipalityAnswer("JPT_KOD_JE", "0201011")); };
  EXPECT_EQ(resolveMunicipality(client, cache, {200000, 300000, 200100, 300100}), "020101");
  EXPECT_EQ(resolveMunicipality(client, cache, {209000, 300000, 209100, 300100}), "020101");  // 9 km east
  EXPECT_EQ(transport.urls.size(), 1u);
  EXPECT_EQ(cache.centre.x, 200050);  // the cached centre stays where it was found
  resolveMunicipality(client, cache, {211000, 300000, 211100, 300100});  // 11 km from it
  EXPECT_EQ(transport.urls.size(), 2u);
  EXPECT_EQ(cache.centre.x, 211050);
}

// That the suggested layer stays for later frames is the black-box municipality test's.
TEST_F(Municipality, CapabilitiesSuggestTheLayer) {
  transport.answer = [&](const std::string& url) {
    if (isCapabilities(url)) {
      EXPECT_EQ(url, prg + "?service=WFS&version=2.0.0&request=GetCapabilities");
      return ok("<FeatureType><Name>ms:A01_Granice_wojewodztw</Name></FeatureType>"
                "<FeatureType><Name>ms:Gminy_obrony</Name></FeatureType>"
                "<FeatureType><Name>ms:Gminy_punkty</Name></FeatureType>"
                "<FeatureType><Name>ms:Granice_Gmin_2026</Name></FeatureType>"
                "<FeatureType><Name>ms:granice_gmin_stare</Name></FeatureType>");
    }
    if (has(url, "typenames=ms%3AGranice_Gmin_2026")) return ok(municipalityAnswer("JPT_KOD_JE", "0201011"));
    return ok(testing::emptyCollection());
  };
  EXPECT_EQ(resolveMunicipality(client, cache, {200000, 300000, 200100, 300100}), "020101");
  EXPECT_EQ(transport.urls.size(), 3u);
  EXPECT_EQ(cache.layer, "ms:Granice_Gmin_2026");
}

TEST_F(Municipality, NothingFoundLeavesTheCacheAndProbesOnlyOnce) {
  cache.code = "020101";
  cache.centre = {0, 0};
  int capabilities = 0;
  transport.answer = [&](const std::string& url) {
    if (isCapabilities(url)) {
      ++capabilities;
      return ok("<Name>ms:A03_Granice_gmin</Name><Name>ms:A02_Granice_powiatow</Name>");
    }
    return TransportResponse{404, "", "", false};
  };
  EXPECT_EQ(resolveMunicipality(client, cache, {200000, 300000, 200100, 300100}), "");
  EXPECT_EQ(resolveMunicipality(client, cache, {200000, 300000, 200100, 300100}), "");
  EXPECT_EQ(capabilities, 1);
  // The suggested layer equals the current one: no second query.
  EXPECT_EQ(transport.urls.size(), 3u);
  EXPECT_EQ(cache.code, "020101");
  EXPECT_EQ(cache.centre.x, 0);
}

}  // namespace
}  // namespace veldra
