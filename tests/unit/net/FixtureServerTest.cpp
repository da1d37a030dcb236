#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "net/FixtureServer.h"
#include "net/HttpTransport.h"
#include "unit/net/NetTestSupport.h"

namespace veldra::fixture {
namespace {

using veldra::testing::startServer;

class Fixture : public veldra::testing::NetTest {};

TransportResponse fetch(const FixtureServer& s, const std::string& target) {
  return CurlTransport().performRequest("GET", s.baseUrl() + target, "", "", 2000, 3000, "t");
}

TEST_F(Fixture, ManifestErrorsNameTheRoute) {
  std::string error;
  for (const char* bad : {"", "[]", R"({"routes":{}})", R"({"routes":[{"body":"no path"}]})",
                          R"({"routes":[{"path":"/a","status":"x"}]})", R"({"routes":[{"path":"/a","responses":[]}]})",
                          R"({"routes":[{"path":"/a","body":"x","body_size":3}]})",
                          R"({"routes":[{"path":"/a","headers":{"X":"a\r\nInjected: 1"}}]})",
                          R"({"routes":[{"path":"/c","body_file":"/etc/passwd"}]})",   // only files under the root
                          R"({"routes":[{"path":"/c","body_file":"missing.xml"}]})",
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
