// The import palette: owns the page's Bridge, connects it to the controller,
// extracts the page files and shows the page in the host window.
#pragma once

#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/Bridge.h"

namespace veldra::app {

// What the host window offers a palette: its browser control, visibility,
// the menu check mark and the report window. Unset hooks do nothing.
struct PaletteHostHooks {
  std::function<void(const std::string& url)> loadUrl;
  std::function<void(bool visible)> setVisible;
  std::function<void(bool checked)> setMenuCheck;   // menu 32500, item 1
  std::function<void(const std::string& line)> reportLine;
  // Installs the Bridge's sender (the native object of the browser control).
  std::function<void(Bridge& bridge)> connectBridge;
  std::function<void()> disconnectBridge;
  // The address the browser loads for a page of the web folder.
  std::function<std::string(const std::string& page)> servedAddress;
};

struct WebResourceEntry {
  int id;
  const char* file;
};

class MapPalette {
 public:
  static constexpr const char* kGuid = "{6B1C0A7E-92D4-4F7B-B1A9-3C58D2E4F016}";
  static constexpr int kDialogId = 32500;
  static constexpr int kQuitNotification = 64;
  static constexpr int kEnableFlags = 1015;

  // Registers the palette's and the controller's handlers and makes this
  // palette the import controller's page.
  MapPalette();
  ~MapPalette();
  MapPalette(const MapPalette&) = delete;
  MapPalette& operator=(const MapPalette&) = delete;

  Bridge& bridge() { return bridge_; }

  void RegisterBridgeHandlers();
  void Show();
  void Hide();
  bool IsVisible() const { return visible_; }

  static void postToPage(const std::string& type, const nlohmann::json& payload);

  // The process-wide palette (null until built).
  static MapPalette* Get();
  static void SetHostHooks(PaletteHostHooks hooks);
  // Builds the palette with its page (a previous one is released).
  static MapPalette& Build();
  // The host's control callback: messages 1 to 7; message 7 answers visibility.
  static bool ControlCallback(int message);
  // Menu item 1: hide when shown, else build when needed and show.
  static void ToggleFromMenu();
  // The host's quit notification.
  static void OnQuit();
  // Reference number of the palette registration: the wrapping sum of the four
  // 32-bit words of the GUID record.
  static std::uint32_t ReferenceNumber();

  static const std::vector<WebResourceEntry>& WebResourceTable();
  // The user's private working folder + "/web".
  static std::string WebDir();
  // Writes the page files into `webDir` with their diagnostic lines. Gives
  // false on the first missing resource or short write (the failure text is
  // already in the report window).
  static bool ExtractWebResources(const std::string& webDir);
  // file:// address of a page in the web folder, with forward slashes.
  static std::string PageAddress(const std::string& webDir, const std::string& page);

 private:
  void InitBrowserControl();
  void RegisterBridgeJSObject();

  Bridge bridge_;
  bool visible_ = false;
  bool built_ = false;
};

// Appends a line to "orvane_web_diag.txt" in the diagnostics folder.
void webDiagLog(const std::string& line);

// Writes resources by number into a folder, logging as ExtractWebResources does.
// The private working folder and every folder from it down to `dir` are made
// private first; one that is not (a link, another user's, open to others) is
// refused. Report lines begin with `reportPrefix`, the palette's name there.
bool extractResources(const std::vector<WebResourceEntry>& table, const std::string& dir,
                      const std::function<void(const std::string&)>& report,
                      std::string_view reportPrefix = "VELDRA: ");

// "ping" and "openExternal", which every palette answers alike.
void registerPaletteHandlers(Bridge& bridge);

}  // namespace veldra::app
