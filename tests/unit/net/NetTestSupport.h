// A fixture server on loopback and a private cache folder for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "net/Endpoints.h"
#include "net/FixtureServer.h"

namespace veldra::testing {

class TempDir {
 public:
  TempDir() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "veldra-net-XXXXXX").string();
    path_ = ::mkdtemp(tmpl.data());
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::unique_ptr<fixture::FixtureServer> startServer(const std::string& manifest,
                                                           const std::string& root = ".") {
  std::string error;
  auto server = fixture::FixtureServer::fromManifest(manifest, root, error);
  EXPECT_TRUE(server) << error;
  if (!server) return nullptr;
  EXPECT_TRUE(server->start(0, error)) << error;
  return server;
}

inline nlohmann::json stats(const fixture::FixtureServer& s) { return nlohmann::json::parse(s.statsJson()); }

// Every test starts without rewrites and ends without them.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override { endpoints::setProcessRewriteTable(endpoints::RewriteTable{}); }
  void TearDown() override { endpoints::setProcessRewriteTable(std::nullopt); }
};

}  // namespace veldra::testing
