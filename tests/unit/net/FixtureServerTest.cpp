#include <gtest/gtest.h>

#include <fstream>

#include "net/FixtureServer.h"
#include "net/HttpTransport.h"
#include "unit/net/NetTestSupport.h"

namespace veldra::fixture {
namespace {

using veldra::testing::startServer;
using veldra::testing::stats;

class Fixture : public veldra::testing::NetTest {};

TransportResponse fetch(const FixtureServer& s, const std::string& target, const std::string& method = "GET",
                        const std::string& body = "") {
  static CurlTransport curl;
  return curl.performRequest(method, s.baseUrl() + target, "", body, 2000, 3000, "t");
}

TEST_F(Fixture, QueryMatchesInAnyOrderWithDecodedValues) {
  auto s = startServer(R"({"routes":[
      {"path":"/wfs","query":{"SERVICE":"WFS","TYPENAME":"ms:dzialki","BBOX":"1,2,3,4"},"body":"exact"},
      {"path":"/wfs","query_includes":{"REQUEST":"GetCapabilities"},"query_keys_nocase":true,"body":"caps"},
      {"path":"/wfs","body":"any"}]})");
  EXPECT_EQ(fetch(*s, "/wfs?BBOX=1%2C2%2C3%2C4&TYPENAME=ms%3Adzialki&SERVICE=WFS").body, "exact");
  EXPECT_EQ(fetch(*s, "/wfs?service=WFS&request=GetCapabilities").body, "caps");
  EXPECT_EQ(fetch(*s, "/wfs?SERVICE=WFS&TYPENAME=ms:dzialki&BBOX=1,2,3,4&EXTRA=1").body, "any");
  EXPECT_EQ(fetch(*s, "/wfs").body, "any");
}

TEST_F(Fixture, SequenceAnswers503OnceThen200) {
  auto s = startServer(R"({"routes":[{"name":"flaky","path":"/x",
                                      "responses":[{"status":503,"body":"busy"},{"body":"ok"}]}]})");
  EXPECT_EQ(fetch(*s, "/x").status, 503);
  EXPECT_EQ(fetch(*s, "/x").body, "ok");
  EXPECT_EQ(fetch(*s, "/x").body, "ok");  // the last answer repeats
  fetch(*s, "/__reset");
  EXPECT_EQ(fetch(*s, "/x").status, 503);
}

TEST_F(Fixture, CountsEveryRequestAndUnmatchedOnes) {
  auto s = startServer(R"({"routes":[{"method":"POST","path":"/q","body_contains":"\"page\"","body":"{}"}]})");
  EXPECT_EQ(fetch(*s, "/q", "POST", "{\"page\":1}").status, 200);
  auto miss = fetch(*s, "/q", "POST", "{}");
  EXPECT_EQ(miss.status, 404);
  EXPECT_EQ(miss.body, "no fixture for POST /q\n");
  EXPECT_EQ(fetch(*s, "/elsewhere?a=1").status, 404);
  auto st = stats(*s);
  EXPECT_EQ(st["total"], 3);
  EXPECT_EQ(st["unmatched"], 2);
  EXPECT_EQ(st["routes"]["POST /q"], 1);
  EXPECT_EQ(st["requests"][2]["query"], "a=1");
  EXPECT_EQ(s->requestCount(), 3);
}

TEST_F(Fixture, ServesFilesOnlyFromItsFolder) {
  veldra::testing::TempDir dir;
  std::ofstream(dir.path() / "caps.xml") << "<caps/>";
  std::string error;
  auto s = FixtureServer::fromManifest(R"({"routes":[{"path":"/c","body_file":"caps.xml"}]})", dir.path().string(),
                                       error);
  ASSERT_TRUE(s) << error;
  ASSERT_TRUE(s->start(0, error)) << error;
  EXPECT_EQ(fetch(*s, "/c").body, "<caps/>");
  for (const char* bad : {R"({"routes":[{"path":"/c","body_file":"../etc/passwd"}]})",
                          R"({"routes":[{"path":"/c","body_file":"/etc/passwd"}]})",
                          R"({"routes":[{"path":"/c","body_file":"missing.xml"}]})"}) {
    EXPECT_FALSE(FixtureServer::fromManifest(bad, dir.path().string(), error)) << bad;
  }
}

TEST_F(Fixture, ManifestErrorsNameTheRoute) {
  std::string error;
  for (const char* bad : {"", "[]", R"({"routes":{}})", R"({"routes":[{"body":"no path"}]})",
                          R"({"routes":[{"path":"/a","status":"x"}]})", R"({"routes":[{"path":"/a","responses":[]}]})",
                          R"({"routes":[{"path":"/a","body":"x","body_size":3}]})",
                          R"({"routes":[{"path":"/a","headers":{"X":"a\r\nInjected: 1"}}]})",
                          // Numbers that do not fit their field (these once reached an
                          // undefined conversion): huge, fractional, beyond 64 bits, too long a pause.
                          R"({"routes":[{"path":"/a","status":5.01e69}]})", R"({"routes":[{"path":"/a","status":200.5}]})",
                          R"({"routes":[{"path":"/a","chunk_size":18446744073709551615}]})",
                          R"({"routes":[{"path":"/a","close_after":-1e300}]})",
                          R"({"routes":[{"path":"/a","delay_ms":9223372036854775807}]})"}) {
    error.clear();
    EXPECT_FALSE(FixtureServer::fromManifest(bad, ".", error)) << bad;
    EXPECT_NE(error, "") << bad;
  }
  FixtureServer::fromManifest(R"({"routes":[{"path":"/a"},{"path":"/b","delay_ms":-1}]})", ".", error);
  EXPECT_NE(error.find("routes[1]"), std::string::npos) << error;
}

TEST_F(Fixture, StopEndsStalledAnswersPromptly) {
  auto s = startServer(R"({"routes":[{"path":"/slow","delay_ms":60000}]})");
  std::thread client([&] { fetch(*s, "/slow"); });
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  auto t0 = std::chrono::steady_clock::now();
  s->stop();
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(2));
  client.join();
}

}  // namespace
}  // namespace veldra::fixture
