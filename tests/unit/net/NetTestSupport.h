// A fixture server on loopback for one test, and a transport that answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/Endpoints.h"
#include "net/FixtureServer.h"
#include "net/HttpTransport.h"
#include "unit/TestSupport.h"

namespace veldra::testing {

inline std::unique_ptr<fixture::FixtureServer> startServer(const std::string& manifest,
                                                           const std::string& root = ".") {
  std::string error;
  auto server = fixture::FixtureServer::fromManifest(manifest, root, error);
  EXPECT_TRUE(server) << error;
  if (!server) return nullptr;
  EXPECT_TRUE(server->start(0, error)) << error;
  return server;
}

// Records every call; answers from `script` while it lasts, then by address from `answer`.
class ScriptedTransport : public HttpTransport {
 public:
  struct Call {
    std::string method, url, headers, body;
    long connectMs, receiveMs;
    std::string userAgent;
    std::chrono::steady_clock::time_point at;
  };
  std::deque<TransportResponse> script;
  std::function<TransportResponse(const std::string& url)> answer = [](const std::string&) {
    return TransportResponse{404, "", "", false};
  };
  std::vector<Call> calls;
  std::vector<std::string> urls;

  TransportResponse performRequest(const std::string& method, const std::string& url, const std::string& headers,
                                   const std::string& body, long connectTimeoutMs, long receiveTimeoutMs,
                                   const std::string& userAgent) override {
    calls.push_back({method, url, headers, body, connectTimeoutMs, receiveTimeoutMs, userAgent,
                     std::chrono::steady_clock::now()});
    urls.push_back(url);
    if (script.empty()) return answer(url);
    auto r = script.front();
    script.pop_front();
    return r;
  }
  StreamResult performStreamingGet(const std::string&, long, long, const std::string&, const ChunkSink&) override {
    return {};
  }
};

inline TransportResponse ok(std::string body) { return {200, std::move(body), "", true}; }

inline nlohmann::json stats(const fixture::FixtureServer& s) { return nlohmann::json::parse(s.statsJson()); }

// Every test starts without rewrites and ends without them.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override { endpoints::setProcessRewriteTable(endpoints::RewriteTable{}); }
  void TearDown() override { endpoints::setProcessRewriteTable(std::nullopt); }
};

}  // namespace veldra::testing
