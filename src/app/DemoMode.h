// The offline demo: a small sample area carried inside the program. Its files
// (a fixture-server manifest with the recorded answers, map tiles, and
// demo.json describing the area) are extracted into the private working
// folder and served by the fixture server on 127.0.0.1; every service address
// is sent there and nothing else may be asked.
#pragma once

#include <array>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace veldra::app {

// Said on the console and in the palettes' status whenever the demo runs.
inline constexpr std::string_view kDemoStatusText = "Tryb demonstracyjny: dane przykladowe, bez internetu";

// demo.json.
struct DemoArea {
  std::string name;
  std::array<double, 4> bbox{};   // suggested frame W, S, E, N (degrees)
  double lat = 0, lon = 0;        // map centre
  int zoom = 16;
  // Non-public origins (county services) and the fixture alias each goes to.
  std::vector<std::pair<std::string, std::string>> rewrite;
  std::string tiles;              // "/path/{z}/{x}/{y}.png" on the fixture server
  int minZoom = 0, maxZoom = 19;
};

struct DemoAreaReading {
  DemoArea area;
  std::string error;   // non-empty: unusable
};
DemoAreaReading parseDemoArea(std::string_view jsonText);

class DemoSession {
 public:
  // Extracts the embedded files into `workDir` (created private), starts the
  // fixture server on a free loopback port, installs the strict address
  // rewrite and a download cache of the demo's own (emptied first: the
  // answers are the ones this program carries). Null with `error` set when
  // any step fails; nothing is then left installed.
  static std::unique_ptr<DemoSession> start(const std::filesystem::path& workDir, std::string& error);
  // Stops the server; from then on every service request is refused.
  ~DemoSession();
  DemoSession(const DemoSession&) = delete;
  DemoSession& operator=(const DemoSession&) = delete;

  const DemoArea& area() const;
  std::string baseUrl() const;   // "http://127.0.0.1:<port>"
  // What the pages need to show the demo (status text, centre, frame, tiles), as JSON.
  std::string pageSettingsJson() const;

  struct Impl;

 private:
  explicit DemoSession(std::unique_ptr<Impl> impl);
  std::unique_ptr<Impl> impl_;
};

// A script line defining window.VELDRA_DEMO for pages, safe inside <script>.
std::string demoPageScript(const std::string& settingsJson);

}  // namespace veldra::app
