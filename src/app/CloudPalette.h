// The point-cloud palette ("Orvane Cloud"): the same mechanism as the import
// palette (MapPalette) with its own page, resources, folder, report texts and
// Bridge, whose messages the cloud controller answers.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/MapPalette.h"
#include "bridge/Bridge.h"

namespace veldra::app {

class CloudPalette {
 public:
  static constexpr int kDialogId = 32600;
  static constexpr const char* kTitle = "Chmura punktow";
  static constexpr const char* kPage = "cloud.html";

  // Registers the palette's and the cloud controller's handlers.
  CloudPalette();
  ~CloudPalette();
  CloudPalette(const CloudPalette&) = delete;
  CloudPalette& operator=(const CloudPalette&) = delete;

  Bridge& bridge() { return bridge_; }

  void Show();
  void Hide();
  bool IsVisible() const { return visible_; }

  // The process-wide palette (null until built).
  static CloudPalette* Get();
  // The host window's services for this palette (no menu check mark: only
  // the import palette's item carries one).
  static void SetHostHooks(PaletteHostHooks hooks);
  // Builds the palette with its page (a previous one is released).
  static CloudPalette& Build();
  // The host's control callback: messages 1 to 7; message 7 answers visibility.
  static bool ControlCallback(int message);
  // Menu item 2: hide when shown, else build when needed and show.
  static void ToggleFromMenu();
  static void OnQuit();

  static const std::vector<WebResourceEntry>& WebResourceTable();
  // The user's private working folder + "/Orvane_Cloud/web".
  static std::string WebDir();
  // Writes the page files into `webDir` with their diagnostic lines; false on
  // the first missing resource or short write (reported already).
  static bool ExtractWebResources(const std::string& webDir);

 private:
  Bridge bridge_;
  bool visible_ = false;
  bool built_ = false;
};

}  // namespace veldra::app
