// `veldra bridge map|cloud [--project FILE]`: the import palette or the point-cloud palette with
// standard input and output as the browser control. One JSON text per input line goes to the
// palette's Bridge; every message the native side sends is written as one line.
#include <atomic>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "app/Commands.h"
#include "app/MapPalette.h"
#include "app/PaletteServer.h"
#include "app/ProjectOpen.h"
#include "bridge/ImportController.h"
#include "cloud_ui/CloudController.h"
#include "host/MemoryHost.h"
#include "host/ProjectFile.h"
#include "platform/MainLoop.h"

namespace veldra::app {
namespace {

enum class LineRead { Line, TooLong, End };

// One line of at most `cap` bytes; a longer one is read to its end and dropped, never held.
LineRead readCappedLine(std::istream& in, std::string& line, std::size_t cap) {
  line.clear();
  std::streambuf* buf = in.rdbuf();
  bool tooLong = false, any = false;
  for (int c = buf->sbumpc(); c != std::char_traits<char>::eof(); c = buf->sbumpc()) {
    any = true;
    if (c == '\n') return tooLong ? LineRead::TooLong : LineRead::Line;
    if (tooLong) continue;
    if (line.size() == cap) {
      tooLong = true;
      line.clear();
      line.shrink_to_fit();
      continue;
    }
    line += static_cast<char>(c);
  }
  if (tooLong) return LineRead::TooLong;
  return any ? LineRead::Line : LineRead::End;
}

int usage() {
  std::cerr << "usage: veldra bridge map|cloud [--project FILE]\n";
  return 2;
}

int runBridge(const std::vector<std::string>& args) {
  if (args.empty() || (args[0] != "map" && args[0] != "cloud")) return usage();
  const bool cloud = args[0] == "cloud";
  std::string projectPath;
  for (std::size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--project" && i + 1 < args.size()) {
      projectPath = args[++i];
    } else {
      return usage();
    }
  }

  MemoryHost host;
  if (!openProjectInto(projectPath, host)) return 1;
  ImportController::setProcessHost(&host);
  CloudController::setProcessHost(&host);

  platform::MainLoop& loop = platform::MainLoop::instance();
  // The map palette, or the cloud controller's handlers on a Bridge of their own.
  std::unique_ptr<MapPalette> mapPalette;
  Bridge cloudBridge;
  if (cloud) {
    CloudController::instance().registerHandlers(cloudBridge);
    CloudController::instance().page().attach(&cloudBridge);
  } else {
    mapPalette = std::make_unique<MapPalette>();
  }
  Bridge& bridge = cloud ? cloudBridge : mapPalette->bridge();
  bridge.setSender([](const std::string& text) {
    std::cout << text << '\n';
    std::cout.flush();
  });

  std::atomic<bool> inputDone{false};
  std::thread reader([&] {
    std::string line;
    // The cap of a WebSocket message from the page, counted without the line end.
    constexpr std::size_t kCap = PaletteServer::kMaxMessageBytes + 1;
    for (LineRead r; (r = readCappedLine(std::cin, line, kCap)) != LineRead::End;) {
      if (r == LineRead::TooLong || (line.size() == kCap && line.back() != '\r')) {
        // As a WebSocket message over the cap: the empty text, answered as malformed.
        loop.post([&bridge] { bridge.handleMessage(std::string()); });
        continue;
      }
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (line.empty()) continue;
      loop.post([&bridge, line] { bridge.handleMessage(line); });
    }
    loop.post([&inputDone] { inputDone = true; });
  });
  // Ends when input is over, the queue is drained and no worker is running.
  loop.run([&] { return inputDone.load(); });
  reader.join();
  if (cloud) CloudController::instance().page().detach();

  // Report lines of the session go to standard error, as the report window.
  for (const auto& line : host.reportLines()) std::cerr << line << "\n";
  int status = 0;
  if (!projectPath.empty()) {
    const std::string err = saveProject(host, projectPath);
    if (!err.empty()) {
      std::cerr << "veldra: " << err << "\n";
      status = 1;
    }
  }
  return status;
}

const CommandRegistrar reg{"bridge", "map|cloud [--project FILE]  a palette's messages over stdin/stdout", &runBridge};

}  // namespace
}  // namespace veldra::app
