// The import palette: owns the page's Bridge and connects it to the controller.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

#include "bridge/Bridge.h"

namespace veldra::app {

class MapPalette {
 public:
  // Registers the palette's and the controller's handlers and makes this
  // palette the target of postToPage.
  MapPalette();
  ~MapPalette();
  MapPalette(const MapPalette&) = delete;
  MapPalette& operator=(const MapPalette&) = delete;

  Bridge& bridge() { return bridge_; }

  void RegisterBridgeHandlers();

  static void postToPage(const std::string& type, const nlohmann::json& payload);

 private:
  Bridge bridge_;
};

}  // namespace veldra::app
