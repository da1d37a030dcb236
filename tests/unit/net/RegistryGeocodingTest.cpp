#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "net/Geocoding.h"
#include "net/UrbanRegistry.h"
#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using testing::ok;

struct NetScript : testing::ScriptedNetTest {
  void SetUp() override {
    ScriptedNetTest::SetUp();
    transport.answer = [](const std::string&) { return TransportResponse{0, "", "Brak polaczenia z test", false}; };
    setRegistryRetryScale(0.0);
  }
  void TearDown() override {
    setRegistryRetryScale(1.0);
    ScriptedNetTest::TearDown();
  }
};

TEST(UrbanRegistry, ActIdsAsNumbersOrTextAndSkippedElements) {
  auto acts = parseActs(R"({"publishedActs":[{"publishedActId":12345,"title":"A","planType":"MUNICIPAL_GENERAL_PLAN"},
      {"title":"no id"},{"publishedActId":"abc-1","publishDate":"2025-01-01","tercCode":5},
      {"publishedActId":-7},{"publishedActId":[1]},17]})");
  ASSERT_EQ(acts.size(), 3u);
  EXPECT_EQ(acts[0].publishedActId, "12345");
  EXPECT_EQ(acts[0].title, "A");
  EXPECT_EQ(acts[1].publishedActId, "abc-1");
  EXPECT_EQ(acts[1].tercCode, "");   // not text
  EXPECT_EQ(acts[2].publishedActId, "-7");
  for (const char* wrong : {"[]", "<html>", R"({"publishedActs":{}})"}) EXPECT_TRUE(parseActs(wrong).empty()) << wrong;
}

TEST(UrbanRegistry, ChooseActPrefersEnactedThenNewest) {
  std::vector<PlanAct> acts = {
      {"1", "", "MUNICIPAL_GENERAL_PLAN", "obowiazujacy", "2023-01-01", ""},
      {"2", "", "MUNICIPAL_GENERAL_PLAN", "w trakcie przyjmowania", "2025-06-01", ""},
      {"3", "", "LOCAL_SPATIAL_DEVELOPMENT_PLAN", "obowiazujacy", "2026-01-01", ""},
  };
  PlanAct out;
  ASSERT_TRUE(chooseAct(acts, "MUNICIPAL_GENERAL_PLAN", out));
  EXPECT_EQ(out.publishedActId, "1");   // older but enacted
  ASSERT_TRUE(chooseAct(acts, "", out));
  EXPECT_EQ(out.publishedActId, "3");   // any type: newest enacted
  std::vector<PlanAct> sameTier = {
      {"a", "", "P", "w opracowaniu", "2025-06-01", ""},
      {"b", "", "P", "w opracowaniu", "2025-11-20", ""},
      {"c", "", "P", "w opracowaniu", "2025-11-20", ""},
  };
  ASSERT_TRUE(chooseAct(sameTier, "P", out));
  EXPECT_EQ(out.publishedActId, "b");   // ties keep the earlier
  std::vector<PlanAct> other = {{"x", "", "P", "uchylony", "2020-01-01", ""}};
  ASSERT_TRUE(chooseAct(other, "P", out));
  EXPECT_EQ(out.publishedActId, "x");   // last tier: any
  PlanAct untouched{"keep", "", "", "", "", ""};
  EXPECT_FALSE(chooseAct(other, "MUNICIPAL_GENERAL_PLAN", untouched));
  EXPECT_EQ(untouched.publishedActId, "keep");
}

TEST_F(NetScript, RegistryRetriesAnErrorPageThenGivesUp) {
  transport.script = {ok("<html>Service unavailable</html>"), {503, "", "", false},
               ok(R"({"publishedActs":[{"publishedActId":9}]})")};
  auto acts = queryActs(client, "1465011");
  EXPECT_EQ(acts.size(), 1u);
  ASSERT_EQ(transport.calls.size(), 3u);
  // Method and address are held by the black-box registry route; the municipality rides in the body.
  EXPECT_NE(transport.calls[0].body.find("\"tercCodeList\":[\"1465011\"]"), std::string::npos);

  transport.calls.clear();
  transport.script = {ok("x"), ok("y"), ok("z"), ok(R"({"publishedActs":[]})")};
  EXPECT_TRUE(queryActs(client, "1").empty());
  EXPECT_EQ(transport.calls.size(), 3u);   // the fourth answer is never asked for
}

// How a good answer is read is the black-box address tests'.
TEST(Geocoding, PhotonAnswersOfTheWrongShapeGiveNothing) {
  for (const char* wrong : {"{}", R"({"features":{}})"}) EXPECT_TRUE(parsePhotonAnswer(wrong).empty()) << wrong;
  auto s = parsePhotonAnswer(R"({"features":[{"geometry":{"coordinates":[21.0,52.2]},"properties":{"city":"W"}},
      {"geometry":{"coordinates":["x",1]}},{"geometry":{}},7]})");
  EXPECT_EQ(s.size(), 1u);
}

// A frame too large, a failing or garbled service: the surface-model black-box test's notes.
TEST_F(NetScript, OsmWaysReadOnlyUsableWays) {
  std::string error;
  const Bbox small{637000, 486000, 638000, 487000};
  transport.script = {ok(R"({"elements":[
      {"type":"way","tags":{"railway":"rail","bridge":"yes","name":"Most"},"geometry":[{"lat":52.23,"lon":21.01},{"lat":52.231,"lon":21.011}]},
      {"type":"way","tags":{"highway":"primary"},"geometry":[{"lat":52.23,"lon":21.01}]},
      {"type":"node","geometry":[]},
      {"type":"way","geometry":[{"lat":52.23,"lon":21.01},{"lat":52.232},{"lat":52.233,"lon":21.013}]}]})")};
  auto ways = fetchOsmWays(client, small, true, true, error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(ways.size(), 2u);
  EXPECT_TRUE(ways[0].isBridge);
  EXPECT_EQ(ways[0].name, "Most");
  EXPECT_EQ(ways[1].points.size(), 2u);   // the entry without lon is left out
  ASSERT_EQ(transport.calls.size(), 1u);
  EXPECT_NE(transport.calls[0].url.find("/api/interpreter?data=%5Bout%3Ajson%5D"), std::string::npos);
  for (const char* wrong : {"[]", R"({"elements":5})"}) EXPECT_TRUE(parseOverpassWays(wrong).empty()) << wrong;
}

}  // namespace
}  // namespace veldra
