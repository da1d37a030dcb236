#include "app/MapPalette.h"

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <utility>

#include "app/PaletteControl.h"
#include "app/Version.h"
#include "app/WebResources.h"
#include "bridge/ImportController.h"
#include "bridge/PageChannel.h"
#include "platform/Paths.h"
#include "platform/Shell.h"

namespace veldra::app {

using nlohmann::json;

namespace {

PaletteHostHooks& hooks() {
  static PaletteHostHooks h;
  return h;
}

std::shared_ptr<MapPalette>& slot() {
  static std::shared_ptr<MapPalette> palette;
  return palette;
}

// Control message 2 remembers whether the palette was shown before the host hid it.
bool g_visibleBeforeHide = false;

void report(const std::string& line) {
  if (hooks().reportLine) hooks().reportLine(line);
}

}  // namespace

void webDiagLog(const std::string& line) { platform::appendDiagLine("orvane_web_diag.txt", line); }

MapPalette::MapPalette() {
  RegisterBridgeHandlers();
  ImportController::instance().registerHandlers(bridge_);
  ImportController::instance().page().attach(&bridge_);
}

MapPalette::~MapPalette() {
  ImportController::instance().page().detach();
  if (built_ && hooks().disconnectBridge) hooks().disconnectBridge();
  bridge_.clearSender();
}

void registerPaletteHandlers(Bridge& bridge) {
  bridge.on("ping", [](const json&) {
    return json{{"type", "pong"}, {"wersja", kVersion}, {"build", buildDateText()}};
  });
  bridge.on("openExternal", [](const json& msg) {
    if (msg.is_object() && msg.contains("url")) {
      const std::string url = msg["url"].get<std::string>();
      if (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0) platform::openExternal(url);
    }
    return json{{"type", "noop"}};
  });
}

void MapPalette::RegisterBridgeHandlers() { registerPaletteHandlers(bridge_); }

void MapPalette::postToPage(const std::string& type, const json& payload) {
  ImportController::instance().page().post(type, payload);
}

MapPalette* MapPalette::Get() { return slot().get(); }

void MapPalette::SetHostHooks(PaletteHostHooks h) { hooks() = std::move(h); }

void MapPalette::Show() {
  visible_ = true;
  if (hooks().setVisible) hooks().setVisible(true);
  if (hooks().setMenuCheck) hooks().setMenuCheck(true);
}

void MapPalette::Hide() {
  visible_ = false;
  if (hooks().setVisible) hooks().setVisible(false);
  if (hooks().setMenuCheck) hooks().setMenuCheck(false);
}

void MapPalette::InitBrowserControl() {
  // Load errors and loading states of the browser arrive through the transport
  // (see transport.js) and are logged the same way.
}

void MapPalette::RegisterBridgeJSObject() {
  if (hooks().connectBridge) hooks().connectBridge(bridge_);
}

MapPalette& MapPalette::Build() {
  // Release a previous instance first: only one palette may own the page channel.
  slot().reset();
  auto palette = std::make_shared<MapPalette>();
  palette->built_ = true;
  palette->RegisterBridgeJSObject();
  palette->InitBrowserControl();
  const std::string dir = WebDir();
  if (ExtractWebResources(dir)) {
    const std::string address = hooks().servedAddress ? hooks().servedAddress("map.html") : PageAddress(dir, "map.html");
    webDiagLog("LoadURL=" + address);
    if (hooks().loadUrl) hooks().loadUrl(address);
  } else {
    report("VELDRA: nie udalo sie wypakowac zasobow web.");
  }
  slot() = std::move(palette);
  return *slot();
}

bool MapPalette::ControlCallback(int message) { return paletteControl<MapPalette>(message, g_visibleBeforeHide); }

void MapPalette::ToggleFromMenu() { paletteToggle<MapPalette>(); }

void MapPalette::OnQuit() { slot().reset(); }

std::uint32_t MapPalette::ReferenceNumber() {
  // {6B1C0A7E-92D4-4F7B-B1A9-3C58D2E4F016} as the host's GUID record:
  // Data1, Data2|Data3, then the eight bytes of Data4 as two little-endian words.
  const std::uint32_t d1 = 0x6B1C0A7Eu;
  const std::uint32_t d23 = 0x92D4u | (0x4F7Bu << 16);
  const unsigned char d4[8] = {0xB1, 0xA9, 0x3C, 0x58, 0xD2, 0xE4, 0xF0, 0x16};
  auto word = [&](int o) {
    return std::uint32_t(d4[o]) | (std::uint32_t(d4[o + 1]) << 8) | (std::uint32_t(d4[o + 2]) << 16) |
           (std::uint32_t(d4[o + 3]) << 24);
  };
  return d1 + d23 + word(0) + word(4);
}

const std::vector<WebResourceEntry>& MapPalette::WebResourceTable() {
  static const std::vector<WebResourceEntry> table = {
      {100, "map.html"},   {101, "map.js"},          {102, "map.css"},   {103, "gisbridge.js"},
      {110, "leaflet.js"}, {111, "leaflet.css"},     {112, "maplibre-gl.js"},
      {113, "maplibre-gl.css"}, {114, "leaflet-maplibre-gl.js"},
  };
  return table;
}

std::string MapPalette::WebDir() { return (platform::privateWorkDir() / "web").string(); }

bool extractResources(const std::vector<WebResourceEntry>& table, const std::string& dir,
                      const std::function<void(const std::string&)>& reportFn, std::string_view reportPrefix) {
  const std::string prefix(reportPrefix);
  // The server hands these files to the page under its token: the folder must be ours alone.
  if (const std::string why = platform::ensurePrivateFolders(dir); !why.empty()) {
    webDiagLog("FOLDER ODRZUCONY: " + why);
    if (reportFn) reportFn(prefix + "folder roboczy nie jest prywatny - zasoby web nie zapisane (" + why + ").");
    return false;
  }
  for (const auto& row : table) {
    const EmbeddedResource* res = findResource(row.id);
    if (!res) {
      webDiagLog("RSLoadResource NULL id=" + std::to_string(row.id) + " file=" + row.file);
      return false;
    }
    const std::string path = dir + "/" + row.file;
    const std::string error = platform::writeFileAtomically(path, resourceText(*res));
    const int opened = error.empty() ? 1 : 0;
    long long disk = -1;
    std::error_code ec;
    if (std::filesystem::is_regular_file(std::filesystem::symlink_status(path, ec))) {
      const std::uintmax_t size = std::filesystem::file_size(path, ec);
      if (!ec) disk = static_cast<long long>(size);
    }
    webDiagLog("id=" + std::to_string(row.id) + " file=" + row.file + " res=" + std::to_string(res->size) +
               "B open=" + std::to_string(opened) + " disk=" + std::to_string(disk) + "B path=" + path);
    if (!opened || disk != static_cast<long long>(res->size)) {
      webDiagLog("ZAPIS NIEUDANY id=" + std::to_string(row.id) + " -> przerywam");
      if (reportFn) reportFn(prefix + "nie udalo sie zapisac zasobow web na dysku (paleta bylaby pusta).");
      return false;
    }
  }
  return true;
}

bool MapPalette::ExtractWebResources(const std::string& webDir) {
  webDiagLog(std::string("=== MapPalette ExtractWebResources v") + kVersion + " ===");
  webDiagLog("webDir=" + webDir);
  return extractResources(WebResourceTable(), webDir, report);
}

std::string MapPalette::PageAddress(const std::string& webDir, const std::string& page) {
  std::string dir = webDir;
  for (char& c : dir)
    if (c == '\\') c = '/';
  if (dir.empty() || dir.front() != '/') dir.insert(dir.begin(), '/');
  return "file://" + dir + "/" + page;
}

}  // namespace veldra::app
