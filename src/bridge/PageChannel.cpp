#include "bridge/PageChannel.h"

#include <exception>
#include <iostream>

#include "bridge/Bridge.h"

namespace veldra {

namespace {
Bridge* g_importBridge = nullptr;
}

void setImportPageBridge(Bridge* bridge) { g_importBridge = bridge; }

void postToPage(const std::string& type, const nlohmann::json& payload) {
  if (!g_importBridge) return;
  g_importBridge->send(type, payload);
}

}  // namespace veldra
