#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using Clock = std::chrono::steady_clock;
using testing::ScriptedTransport;

long long msBetween(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(b - a).count();
}

TEST(WfsClient, SpacesRequestsToOneHostByOneSecondByDefault) {
  testing::ScopedEnv noSpacing("VELDRA_HOST_SPACING_MS", nullptr);
  ScriptedTransport t;
  WfsClient c(&t);
  c.get("https://a.example/x");
  c.get("https://b.example/x");  // another host: not delayed
  c.get("https://a.example/y");
  ASSERT_EQ(t.calls.size(), 3u);
  EXPECT_LT(msBetween(t.calls[0].at, t.calls[1].at), 500);
  EXPECT_GE(msBetween(t.calls[0].at, t.calls[2].at), 999);
}

// Clients on several threads share one host's pace: a second client (the address
// search beside the fetch) must not start between another's spaced requests.
TEST(WfsClient, SpacingHoldsAcrossClientsAndThreads) {
  ScriptedTransport transports[3];   // one per client; each stamps its own calls
  std::vector<std::thread> threads;
  for (auto& t : transports)
    threads.emplace_back([&t] {
      WfsClient c(&t);
      c.setHostSpacingMs(100);
      for (int i = 0; i < 3; ++i) c.get("https://shared.example/x");
    });
  for (auto& t : threads) t.join();
  std::vector<Clock::time_point> starts;
  for (const auto& t : transports)
    for (const auto& call : t.calls) starts.push_back(call.at);
  ASSERT_EQ(starts.size(), 9u);
  std::sort(starts.begin(), starts.end());
  // Stamps are taken after the wait: allow for the threads being scheduled late.
  for (std::size_t i = 1; i < starts.size(); ++i) EXPECT_GE(msBetween(starts[i - 1], starts[i]), 90) << i;
}

TEST(WfsClient, SpacingEnvironmentMayOnlyShortenIt) {
  for (const auto& [value, ms] : {std::pair{"20", 20}, {"5000", 1000}, {"-1", 1000}, {"abc", 1000}}) {
    testing::ScopedEnv spacing("VELDRA_HOST_SPACING_MS", value);
    EXPECT_EQ(WfsClient().hostSpacingMs(), ms) << value;
  }
}

struct RetryCase {
  int firstStatus;
  bool retried;
};

class GetRetry : public testing::ScriptedNetTest, public ::testing::WithParamInterface<RetryCase> {};

TEST_P(GetRetry, RepeatsOnlyOutsideSuccessAndClientErrors) {
  transport.script.push_back(
      {GetParam().firstStatus, "first", GetParam().firstStatus == 0 ? "Brak odpowiedzi serwera" : "", false});
  transport.script.push_back({200, "second", "", true});
  auto r = client.get("https://h.example/wfs");
  if (GetParam().retried) {
    ASSERT_EQ(transport.calls.size(), 2u);
    EXPECT_GE(msBetween(transport.calls[0].at, transport.calls[1].at), 499);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "second");
  } else {
    ASSERT_EQ(transport.calls.size(), 1u);
    EXPECT_EQ(r.status, GetParam().firstStatus);
    EXPECT_EQ(r.body, "first");
  }
}

INSTANTIATE_TEST_SUITE_P(Statuses, GetRetry,
                         ::testing::Values(RetryCase{200, false}, RetryCase{204, false}, RetryCase{404, false},
                                           RetryCase{400, false}, RetryCase{503, true}, RetryCase{500, true},
                                           RetryCase{0, true}, RetryCase{302, true}, RetryCase{100, true}));

using WfsHeaders = testing::ScriptedNetTest;

TEST_F(WfsHeaders, OnlyWhenNeededAndTheTokenCannotInjectOne) {
  client.get("https://h.example/a");
  EXPECT_EQ(transport.calls[0].headers, "");
  client.token = "abc\r\nX-Evil: 1";
  client.postJson("https://h.example/c", "{}");
  EXPECT_EQ(transport.calls[1].headers, "Content-Type: application/json\r\nAuthorization: Bearer abcX-Evil: 1\r\n");
}

TEST(HttpHelpers, UrlEncodeKeepsOnlyUnreservedBytes) {
  EXPECT_EQ(urlEncode("AZaz09-._~"), "AZaz09-._~");
  EXPECT_EQ(urlEncode("1,2/3+4&5=6"), "1%2C2%2F3%2B4%265%3D6");
  EXPECT_EQ(urlEncode(std::string("\0\xff", 2)), "%00%FF");
}

}  // namespace
}  // namespace veldra
