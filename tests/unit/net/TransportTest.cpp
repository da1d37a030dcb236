// The libcurl transport against the loopback fixture server.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

#include "net/HttpTransport.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using veldra::testing::NetTest;
using veldra::testing::startServer;
using veldra::testing::stats;

const std::string kUa = "VELDRA/0.1 (archicad-addon)";

class Transport : public NetTest {
 protected:
  CurlTransport curl;
  TransportResponse get(const std::string& url, long receiveMs = 3000) {
    return curl.performRequest("GET", url, "", "", 2000, receiveMs, kUa);
  }
};

TEST_F(Transport, AnswersArePassedOnAsTheyCome) {
  // An OGC exception with status 200 is an ordinary answer; an error status keeps its body.
  const std::string report =
      "<?xml version=\"1.0\"?><ows:ExceptionReport xmlns:ows=\"http://www.opengis.net/ows/1.1\">"
      "<ows:Exception exceptionCode=\"InvalidParameterValue\"/></ows:ExceptionReport>";
  auto s = startServer(R"({"routes":[{"path":"/wfs","content_type":"text/xml","body":)" +
                       nlohmann::json(report).dump() + R"(},
      {"path":"/x","status":404,"body":"nie ma"},
      {"path":"/nolen","body_size":5000,"content_length":false},
      {"path":"/old","status":302,"headers":{"Location":"/new"}}, {"path":"/new","body":"here"}]})");
  const struct {
    const char* path;
    long status;
    bool ok;
    std::string body;
  } cases[] = {{"/wfs", 200, true, report},
               {"/x", 404, false, "nie ma"},
               {"/nolen", 200, true, std::string(5000, 'x')},
               {"/old", 200, true, "here"}};
  for (const auto& c : cases) {
    auto r = get(s->baseUrl() + c.path);
    EXPECT_EQ(r.status, c.status) << c.path;
    EXPECT_EQ(r.ok, c.ok) << c.path;
    EXPECT_EQ(r.error, "") << c.path;
    EXPECT_EQ(r.body, c.body) << c.path;
  }
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

TEST_F(Transport, ServerDownOrFailedTlsHandshakeIsNoAnswer) {
  // The fixture speaks plain HTTP; a TLS client must give up, not fall back.
  auto s = startServer(R"({"routes":[{"path":"/x","body":"plain"}]})");
  auto r = get("https://127.0.0.1:" + std::to_string(s->port()) + "/x");
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(r.error, "Wyslanie zapytania nieudane (timeout?)");
  s->stop();   // now nothing listens on its port
  const std::string url = s->baseUrl() + "/x";
  EXPECT_EQ(get(url).error, "Brak polaczenia z " + hostOf(url));
}

TEST_F(Transport, SilentStalledOrCutShortAnswersAreNotAnswers) {
  auto s = startServer(R"({"routes":[{"path":"/slow","delay_ms":5000,"body":"late"},
      {"path":"/stall","body_size":4096,"stall_after":1000,"stall_ms":5000},
      {"path":"/short","body_size":2048,"close_after":1024},
      {"path":"/trickle","body_size":10,"chunk_size":1,"chunk_delay_ms":150}]})");
  const struct {
    const char* path;
    std::string error;
    long minMs;   // a silent server is given the whole receive time-out
  } cases[] = {{"/slow", "Brak odpowiedzi serwera", 300},
               {"/stall", "Pobieranie przerwane (1000 B z 4,0 KB).", 0},
               {"/short", "Pobieranie przerwane (1,0 KB z 2,0 KB).", 0}};
  for (const auto& c : cases) {
    const auto t0 = std::chrono::steady_clock::now();
    auto r = get(s->baseUrl() + c.path, 300);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - t0).count();
    EXPECT_EQ(r.status, 0) << c.path;
    EXPECT_EQ(r.error, c.error) << c.path;
    EXPECT_TRUE(r.body.empty()) << c.path;
    EXPECT_LT(ms, 3000) << c.path;
    EXPECT_GE(ms, c.minMs) << c.path;
  }
  // 10 chunks 150 ms apart: 1.5 s in all, but never 1 s without data.
  auto r = get(s->baseUrl() + "/trickle", 1000);
  EXPECT_EQ(r.error, "");
  EXPECT_EQ(r.body, std::string(10, 'x'));
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
  EXPECT_EQ(post["headers"]["Authorization"], "Bearer t");
  for (const char* added : {"Expect", "Accept"}) EXPECT_FALSE(post["headers"].contains(added)) << added;
  for (const char* added : {"Content-Type", "Authorization", "Accept"})
    EXPECT_FALSE(st["requests"][1]["headers"].contains(added)) << added;
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

TEST_F(Transport, StreamingEndsAsTheAnswerDoes) {
  // Cut short and stalled answers reach the cache the same way: its failure cases.
  auto s = startServer(R"({"routes":[{"path":"/nolen","body_size":300000,"content_length":false},
      {"path":"/busy","status":503,"body":"busy"},
      {"path":"/neg","body":"abc","content_length":false,"headers":{"Content-Length":"-5"}},
      {"path":"/huge","body":"abc","content_length":false,"headers":{"Content-Length":"99999999999999999999999"}}]})");
  const struct {
    const char* path;
    bool ok;
    long status;
    std::string error;
    std::size_t bytes;
    std::uint64_t total;
  } cases[] = {
      {"/nolen", true, 200, "", 300000, 0},   // no length: complete at the close
      {"/busy", false, 503, "", 0, 0},   // an error status reads no body
      {"/neg", false, 0, "Brak odpowiedzi serwera", 0, 0},
      {"/huge", true, 200, "", 3, 0},   // too large for 64 bits: unknown, never a huge total
  };
  for (const auto& c : cases) {
    Collected got;
    auto r = curl.performStreamingGet(s->baseUrl() + c.path, 2000, 300, kUa, collector(got));
    EXPECT_EQ(r.ok, c.ok) << c.path;
    if (c.status) {
      EXPECT_EQ(r.status, c.status) << c.path;
    }
    EXPECT_EQ(r.error, c.error) << c.path;
    EXPECT_EQ(got.bytes, c.bytes) << c.path;
    EXPECT_EQ(got.total, c.total) << c.path;
  }
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


}  // namespace
}  // namespace veldra
