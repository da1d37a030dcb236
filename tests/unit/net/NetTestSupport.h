// A fixture server on loopback for one test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "net/Endpoints.h"
#include "net/FixtureServer.h"
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

inline nlohmann::json stats(const fixture::FixtureServer& s) { return nlohmann::json::parse(s.statsJson()); }

// Every test starts without rewrites and ends without them.
class NetTest : public ::testing::Test {
 protected:
  void SetUp() override { endpoints::setProcessRewriteTable(endpoints::RewriteTable{}); }
  void TearDown() override { endpoints::setProcessRewriteTable(std::nullopt); }
};

}  // namespace veldra::testing
