// Loopback HTTP server answering with canned responses, for tests and offline
// demonstrations (`veldra mock-services`). The manifest format is described
// in docs/fixture-server.md.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace veldra::fixture {

class FixtureServer {
 public:
  // Reads DIR/manifest.json. Returns null with `error` set when it is
  // missing or invalid.
  static std::unique_ptr<FixtureServer> fromDirectory(const std::string& root, std::string& error);
  // A manifest given as text; body files are resolved inside `root`.
  static std::unique_ptr<FixtureServer> fromManifest(const std::string& manifestJson, const std::string& root,
                                                     std::string& error);
  ~FixtureServer();

  // Binds 127.0.0.1:port (0 picks a free port) and serves on background threads.
  bool start(std::uint16_t port, std::string& error);
  // Closes the listener and every open connection; waits for the threads.
  void stop();

  std::uint16_t port() const;
  std::string baseUrl() const;  // "http://127.0.0.1:<port>"
  // Requests answered so far, the control endpoints excluded.
  long requestCount() const;
  // The JSON served at GET /__stats.
  std::string statsJson() const;

  struct Impl;

 private:
  explicit FixtureServer(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

}  // namespace veldra::fixture
