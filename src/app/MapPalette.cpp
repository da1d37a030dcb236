#include "app/MapPalette.h"

#include "app/Version.h"
#include "bridge/ImportController.h"
#include "bridge/PageChannel.h"
#include "platform/Shell.h"

namespace veldra::app {

using nlohmann::json;

MapPalette::MapPalette() {
  RegisterBridgeHandlers();
  ImportController::instance().registerHandlers(bridge_);
  setImportPageBridge(&bridge_);
}

MapPalette::~MapPalette() { setImportPageBridge(nullptr); }

void MapPalette::RegisterBridgeHandlers() {
  bridge_.on("ping", [](const json&) {
    return json{{"type", "pong"}, {"wersja", kVersion}, {"build", buildDateText()}};
  });
  bridge_.on("openExternal", [](const json& msg) {
    if (msg.is_object() && msg.contains("url")) {
      const std::string url = msg["url"].get<std::string>();
      if (url.rfind("https://", 0) == 0 || url.rfind("http://", 0) == 0) platform::openExternal(url);
    }
    return json{{"type", "noop"}};
  });
}

void MapPalette::postToPage(const std::string& type, const json& payload) { veldra::postToPage(type, payload); }

}  // namespace veldra::app
