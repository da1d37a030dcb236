#include "app/CloudPalette.h"

#include <utility>

#include "app/PaletteControl.h"
#include "app/Version.h"
#include "cloud_ui/CloudController.h"
#include "platform/Paths.h"

namespace veldra::app {

namespace {

PaletteHostHooks& hooks() {
  static PaletteHostHooks h;
  return h;
}

std::shared_ptr<CloudPalette>& slot() {
  static std::shared_ptr<CloudPalette> palette;
  return palette;
}

bool g_visibleBeforeHide = false;

void report(const std::string& line) {
  if (hooks().reportLine) hooks().reportLine(line);
}

}  // namespace

CloudPalette::CloudPalette() {
  registerPaletteHandlers(bridge_);
  CloudController::instance().registerHandlers(bridge_);
  CloudController::instance().page().attach(&bridge_);
}

CloudPalette::~CloudPalette() {
  CloudController::instance().page().detach();
  if (built_ && hooks().disconnectBridge) hooks().disconnectBridge();
  bridge_.clearSender();
}

CloudPalette* CloudPalette::Get() { return slot().get(); }

void CloudPalette::SetHostHooks(PaletteHostHooks h) { hooks() = std::move(h); }

void CloudPalette::Show() {
  visible_ = true;
  if (hooks().setVisible) hooks().setVisible(true);
}

void CloudPalette::Hide() {
  visible_ = false;
  if (hooks().setVisible) hooks().setVisible(false);
}

CloudPalette& CloudPalette::Build() {
  // Only one palette may own the page channel: the previous one goes first.
  slot().reset();
  auto palette = std::make_shared<CloudPalette>();
  palette->built_ = true;
  if (hooks().connectBridge) hooks().connectBridge(palette->bridge_);
  const std::string dir = WebDir();
  if (ExtractWebResources(dir)) {
    const std::string address = hooks().servedAddress ? hooks().servedAddress(kPage) : MapPalette::PageAddress(dir, kPage);
    webDiagLog("LoadURL=" + address);
    if (hooks().loadUrl) hooks().loadUrl(address);
  } else {
    report("Orvane Cloud: nie udalo sie wypakowac zasobow web.");
  }
  slot() = std::move(palette);
  return *slot();
}

bool CloudPalette::ControlCallback(int message) { return paletteControl<CloudPalette>(message, g_visibleBeforeHide); }

void CloudPalette::ToggleFromMenu() { paletteToggle<CloudPalette>(); }

void CloudPalette::OnQuit() { slot().reset(); }

const std::vector<WebResourceEntry>& CloudPalette::WebResourceTable() {
  static const std::vector<WebResourceEntry> table = {
      {200, "cloud.html"}, {201, "cloud.js"}, {202, "cloud.css"}, {103, "gisbridge.js"},
      {110, "leaflet.js"}, {111, "leaflet.css"},
  };
  return table;
}

std::string CloudPalette::WebDir() { return (platform::privateWorkDir() / "Orvane_Cloud" / "web").string(); }

bool CloudPalette::ExtractWebResources(const std::string& webDir) {
  webDiagLog(std::string("=== CloudPalette ExtractWebResources v") + kVersion + " ===");
  webDiagLog("webDir=" + webDir);
  return extractResources(WebResourceTable(), webDir, report, "Orvane Cloud: ");
}

}  // namespace veldra::app
