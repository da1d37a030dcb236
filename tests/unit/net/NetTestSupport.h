// A fixture server on loopback for one test, and a transport that answers from a script.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "net/Endpoints.h"
#include "net/FixtureServer.h"
#include "net/HttpTransport.h"
#include "net/WfsClient.h"
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
    std::chrono::steady_clock::time_point at;
  };
  std::deque<TransportResponse> script;
  std::function<TransportResponse(const std::string& url)> answer = [](const std::string&) {
    return TransportResponse{404, "", "", false};
  };
  std::vector<Call> calls;
  std::vector<std::string> urls;
  std::map<std::string, std::string> files;   // streamed downloads by address; others are a 404

  TransportResponse performRequest(const std::string& method, const std::string& url, const std::string& headers,
                                   const std::string& body, long, long, const std::string&) override {
    calls.push_back({method, url, headers, body, std::chrono::steady_clock::now()});
    urls.push_back(url);
    if (script.empty()) return answer(url);
    auto r = script.front();
    script.pop_front();
    return r;
  }
  StreamResult performStreamingGet(const std::string& url, long, long, const std::string&,
                                   const ChunkSink& sink) override {
    urls.push_back(url);
    const auto it = files.find(url);
    if (it == files.end()) return {404, "", false};
    sink(it->second.data(), it->second.size(), it->second.size());
    return {200, "", true};
  }
};

inline TransportResponse ok(std::string body) { return {200, std::move(body), "", true}; }

inline nlohmann::json stats(const fixture::FixtureServer& s) { return nlohmann::json::parse(s.statsJson()); }

inline bool has(const std::string& s, const std::string& part) { return s.find(part) != std::string::npos; }

// Value of one query parameter of an address.
inline std::string param(const std::string& url, const std::string& key) {
  const std::size_t at = url.find("&" + key + "=");
  if (at == std::string::npos) return {};
  const std::size_t start = at + key.size() + 2;
  return url.substr(start, url.find('&', start) - start);
}

// A download cache of its own while the object lives.
struct CacheFolder {
  TempDir home;
  ScopedEnv env{"XDG_CACHE_HOME", home.path()};
  std::filesystem::path dir() const { return home.path() / "VELDRA" / "cache"; }
  std::vector<std::string> files() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : std::filesystem::directory_iterator(dir(), ec)) names.push_back(e.path().filename().string());
    return names;
  }
};

// Every test starts without rewrites and ends without them.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override { endpoints::setProcessRewriteTable(endpoints::RewriteTable{}); }
  void TearDown() override { endpoints::setProcessRewriteTable(std::nullopt); }
};

// A client on a scripted transport, without host spacing.
class ScriptedNetTest : public NetTest {
 protected:
  ScopedEnv noSpacing{"VELDRA_HOST_SPACING_MS", "0"};
  ScriptedTransport transport;
  WfsClient client{&transport};
};

}  // namespace veldra::testing
