// The libcurl transport against the loopback fixture server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "net/HttpTransport.h"
#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using veldra::testing::NetTest;
using veldra::testing::startServer;
using veldra::testing::stats;

const std::string kUa = "VELDRA/0.1 (archicad-addon)";

// The national geoportal origin, served by the fixture under "/mapy".
std::string geoportal() {
  for (const auto& h : endpoints::publicHosts()) {
    if (h.alias == "mapy") return h.origin;
  }
  return {};
}

// A port on which nothing listens.
int closedPort() {
  int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

class Transport : public NetTest {
 protected:
  CurlTransport curl;
  TransportResponse get(const std::string& url, long receiveMs = 3000) {
    return curl.performRequest("GET", url, "", "", 2000, receiveMs, kUa);
  }
};

TEST_F(Transport, OgcExceptionWithStatus200IsAnOrdinaryAnswer) {
  const std::string report =
      "<?xml version=\"1.0\"?><ows:ExceptionReport xmlns:ows=\"http://www.opengis.net/ows/1.1\">"
      "<ows:Exception exceptionCode=\"InvalidParameterValue\"/></ows:ExceptionReport>";
  auto s = startServer(R"({"routes":[{"path":"/wfs","content_type":"text/xml","body":)" +
                       nlohmann::json(report).dump() + "}]}");
  auto r = get(s->baseUrl() + "/wfs");
  EXPECT_EQ(r.status, 200);
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.body, report);
}

TEST_F(Transport, ErrorStatusKeepsItsBody) {
  auto s = startServer(R"({"routes":[{"path":"/x","status":404,"body":"nie ma"}]})");
  auto r = get(s->baseUrl() + "/x");
  EXPECT_EQ(r.status, 404);
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.body, "nie ma");
}

TEST_F(Transport, MalformedUrlsAreRefusedBeforeAnyConnection) {
  for (const std::string url : {"mapy.example.pl/wss", "ftp://h.example/x", "https://", "http://h ost/x"}) {
    auto r = get(url);
    EXPECT_EQ(r.status, 0) << url;
    EXPECT_EQ(r.error, "Nieprawidlowy URL: " + url);
    StreamResult sr = curl.performStreamingGet(url, 1000, 1000, kUa, [](const char*, std::size_t, std::uint64_t) {
      return true;
    });
    EXPECT_EQ(sr.error, "Nieprawidlowy URL: " + url);
    EXPECT_FALSE(sr.ok);
  }
}

TEST_F(Transport, ServerDownIsNoConnection) {
  std::string url = "http://127.0.0.1:" + std::to_string(closedPort()) + "/x";
  auto r = get(url);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Brak polaczenia z " + hostOf(url));
}

TEST_F(Transport, FailedTlsHandshakeIsASendFailure) {
  // The fixture speaks plain HTTP; a TLS client must give up, not fall back.
  auto s = startServer(R"({"routes":[{"path":"/x","body":"plain"}]})");
  auto r = get("https://127.0.0.1:" + std::to_string(s->port()) + "/x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Wyslanie zapytania nieudane (timeout?)");
}

TEST_F(Transport, SilentServerHitsTheReceiveTimeout) {
  auto s = startServer(R"({"routes":[{"path":"/slow","delay_ms":5000,"body":"late"}]})");
  auto t0 = std::chrono::steady_clock::now();
  auto r = get(s->baseUrl() + "/slow", 300);
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Brak odpowiedzi serwera");
  EXPECT_GE(ms, 300);
  EXPECT_LT(ms, 3000);
}

TEST_F(Transport, SlowButSteadyBodyIsNotATimeout) {
  // 10 chunks 150 ms apart: 1.5 s in all, never 400 ms without data.
  auto s = startServer(R"({"routes":[{"path":"/trickle","body_size":10,"chunk_size":1,"chunk_delay_ms":150}]})");
  auto r = get(s->baseUrl() + "/trickle", 1000);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, std::string(10, 'x'));
}

TEST_F(Transport, BodyStallingMidwayIsNotAnAnswer) {
  auto s = startServer(R"({"routes":[{"path":"/stall","body_size":4096,"stall_after":1000,"stall_ms":5000}]})");
  auto r = get(s->baseUrl() + "/stall", 300);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Pobieranie przerwane (1000 B z 4,0 KB).");
  EXPECT_TRUE(r.body.empty());
}

TEST_F(Transport, EarlyCloseWithFalseLengthIsNotAnAnswer) {
  auto s = startServer(R"({"routes":[{"path":"/short","body_size":2048,"close_after":1024}]})");
  auto r = get(s->baseUrl() + "/short");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Pobieranie przerwane (1,0 KB z 2,0 KB).");
}

TEST_F(Transport, BodyWithoutLengthEndsAtClose) {
  auto s = startServer(R"({"routes":[{"path":"/nolen","body_size":5000,"content_length":false}]})");
  auto r = get(s->baseUrl() + "/nolen");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body.size(), 5000u);
}

TEST_F(Transport, OversizedBodyIsRefusedNotHeld) {
  CurlTransport small(64 * 1024);
  auto s = startServer(R"({"routes":[{"path":"/big","body_size":1048576}]})");
  auto r = small.performRequest("GET", s->baseUrl() + "/big", "", "", 2000, 3000, kUa);
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Odpowiedz serwera zbyt duza (ponad 64,0 KB).");
  EXPECT_TRUE(r.body.empty());
}

TEST_F(Transport, SendsExactlyTheCallersHeaders) {
  auto s = startServer(R"({"routes":[{"method":"POST","path":"/q","body":"{}"}, {"path":"/g","body":"x"}]})");
  auto r = curl.performRequest("POST", s->baseUrl() + "/q", "Content-Type: application/json\r\nAuthorization: Bearer t\r\n",
                               std::string(5000, 'a'), 2000, 3000, kUa);
  EXPECT_EQ(r.status, 200);
  get(s->baseUrl() + "/g");
  auto st = stats(*s);
  ASSERT_EQ(st["requests"].size(), 2u);
  const auto& post = st["requests"][0];
  EXPECT_EQ(post["method"], "POST");
  EXPECT_EQ(post["body_bytes"], 5000);
  EXPECT_EQ(post["headers"]["User-Agent"], kUa);
  EXPECT_EQ(post["headers"]["Content-Type"], "application/json");
  EXPECT_EQ(post["headers"]["Authorization"], "Bearer t");
  EXPECT_FALSE(post["headers"].contains("Expect"));
  EXPECT_FALSE(post["headers"].contains("Accept"));
  const auto& plain = st["requests"][1];
  EXPECT_FALSE(plain["headers"].contains("Content-Type"));
  EXPECT_FALSE(plain["headers"].contains("Authorization"));
  EXPECT_FALSE(plain["headers"].contains("Accept"));
}

TEST_F(Transport, PostWithoutContentTypeSendsNone) {
  auto s = startServer(R"({"routes":[{"method":"POST","path":"/q","body":"ok"}]})");
  auto r = curl.performRequest("POST", s->baseUrl() + "/q", "", "a=b", 2000, 3000, kUa);
  EXPECT_EQ(r.status, 200);
  EXPECT_FALSE(stats(*s)["requests"][0]["headers"].contains("Content-Type"));
}

TEST_F(Transport, RedirectsAreFollowed) {
  auto s = startServer(R"({"routes":[{"path":"/old","status":302,"headers":{"Location":"/new"}},
                                     {"path":"/new","body":"here"}]})");
  auto r = get(s->baseUrl() + "/old");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "here");
}

TEST_F(Transport, TraceLinesOnlyWhileVariableExists) {
  auto s = startServer(R"({"routes":[{"path":"/t","body":"x"}]})");
  ::setenv("GIS_DEBUG_HTTP", "0", 1);
  ::testing::internal::CaptureStderr();
  get(s->baseUrl() + "/t");
  get("http://127.0.0.1:" + std::to_string(closedPort()) + "/x");
  std::string err = ::testing::internal::GetCapturedStderr();
  ::unsetenv("GIS_DEBUG_HTTP");
  EXPECT_EQ(err.rfind("[http] session otwarta\n[http] SendRequest=1 err=0\n[http] odpowiedz OK, czytam body\n", 0), 0u)
      << err;
  EXPECT_NE(err.find("[http] session otwarta\n[http] SendRequest=0 err=7\n"), std::string::npos) << err;
  ::testing::internal::CaptureStderr();
  get(s->baseUrl() + "/t");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

// Streaming -----------------------------------------------------------------

struct Collected {
  std::size_t bytes = 0;
  std::size_t largestChunk = 0;
  std::uint64_t total = 0;
  int chunks = 0;
};

ChunkSink collector(Collected& c, int stopAfterChunks = -1) {
  return [&c, stopAfterChunks](const char*, std::size_t n, std::uint64_t total) {
    c.bytes += n;
    c.largestChunk = std::max(c.largestChunk, n);
    c.total = total;
    ++c.chunks;
    return stopAfterChunks < 0 || c.chunks < stopAfterChunks;
  };
}

TEST_F(Transport, StreamingEarlyCloseReportsBothSizes) {
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":2097152,"close_after":1048576}]})");
  Collected c;
  auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 3000, kUa, collector(c));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.error, "Pobieranie przerwane (1,0 MB z 2,0 MB).");
  EXPECT_EQ(c.bytes, 1048576u);
  EXPECT_EQ(c.total, 2097152u);
}

TEST_F(Transport, StreamingWithoutLengthEndingAtCloseIsComplete) {
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":300000,"content_length":false}]})");
  Collected c;
  auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 3000, kUa, collector(c));
  EXPECT_TRUE(r.ok);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(c.bytes, 300000u);
  EXPECT_EQ(c.total, 0u);
}

TEST_F(Transport, StreamingStallWithoutLengthIsAFailureNotAFile) {
  auto s = startServer(
      R"({"routes":[{"path":"/f","body_size":3000,"content_length":false,"stall_after":1000,"stall_ms":5000}]})");
  Collected c;
  auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 300, kUa, collector(c));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Brak odpowiedzi serwera");
}

TEST_F(Transport, StreamingErrorStatusReadsNoBody) {
  auto s = startServer(R"({"routes":[{"path":"/f","status":503,"body":"busy"}]})");
  Collected c;
  auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 3000, kUa, collector(c));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.status, 503);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(c.chunks, 0);
}

TEST_F(Transport, StreamingSinkMayCancel) {
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":1048576}]})");
  Collected c;
  auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 3000, kUa, collector(c, 1));
  EXPECT_FALSE(r.ok);
  EXPECT_EQ(r.error, "Pobieranie anulowane.");
  EXPECT_EQ(c.chunks, 1);
}

TEST_F(Transport, StreamingHugeAnswerArrivesInBoundedChunks) {
  // 256 MB pass through; what the sink is handed at once stays small.
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":268435456,"chunk_size":1048576}]})");
  Collected c;
  auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 5000, kUa, collector(c));
  EXPECT_TRUE(r.ok) << r.error;
  EXPECT_EQ(c.bytes, 268435456u);
  EXPECT_LE(c.largestChunk, 1u << 20);
}

TEST_F(Transport, StreamingNeverTrustsAnUnreadableLength) {
  auto serve = [](const char* length) {
    return startServer(std::string(R"({"routes":[{"path":"/f","body":"abc","content_length":false,
                                      "headers":{"Content-Length":")") + length + "\"}}]}");
  };
  {
    auto s = serve("-5");
    Collected c;
    auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 3000, kUa, collector(c));
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.error, "Brak odpowiedzi serwera");
    EXPECT_EQ(c.bytes, 0u);
  }
  {
    // Too large for 64 bits: treated as unknown, never as a huge expected total.
    auto s = serve("99999999999999999999999");
    Collected c;
    auto r = curl.performStreamingGet(s->baseUrl() + "/f", 2000, 3000, kUa, collector(c));
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(c.total, 0u);
    EXPECT_EQ(c.bytes, 3u);
  }
}

// Rewrites ------------------------------------------------------------------

TEST_F(Transport, RewriteSendsPublicAddressesToTheFixture) {
  auto s = startServer(R"({"routes":[{"path":"/mapy/wss/x","query":{"a":"1"},"body":"local"}]})");
  endpoints::setProcessRewriteTable(endpoints::loopbackRewrites(s->baseUrl()));
  auto r = get(geoportal() + "/wss/x?a=1");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "local");
  // Strict: an address no rule covers never leaves the machine.
  auto refused = get("https://elsewhere.example/x");
  EXPECT_EQ(refused.status, 0);
  EXPECT_EQ(refused.error, "Brak polaczenia z elsewhere.example");
  EXPECT_EQ(stats(*s)["total"], 1);
}

TEST_F(Transport, UnusableRewriteFileRefusesEveryRequest) {
  endpoints::RewriteTable broken = endpoints::parseRewriteTable("{\"rewrite\": [[\"https://a\"]]}");
  ASSERT_NE(broken.error, "");
  endpoints::setProcessRewriteTable(broken);
  auto r = get(geoportal() + "/x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error.rfind("Nieprawidlowa konfiguracja VELDRA_ENDPOINTS: ", 0), 0u) << r.error;
}

TEST_F(Transport, ClientThroughRewriteKeepsOriginalHostForSpacing) {
  auto s = startServer(R"({"routes":[{"path":"/mapy/a","responses":[{"status":503},{"body":"ok"}]}]})");
  endpoints::setProcessRewriteTable(endpoints::loopbackRewrites(s->baseUrl()));
  WfsClient c;
  c.setHostSpacingMs(50);
  auto r = c.get(geoportal() + "/a");
  EXPECT_EQ(r.status, 200);
  EXPECT_EQ(r.body, "ok");
  EXPECT_EQ(stats(*s)["total"], 2);
}

}  // namespace
}  // namespace veldra
