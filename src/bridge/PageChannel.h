// The way from native code to the import page.
#pragma once

#include <string>

#include <nlohmann/json.hpp>

namespace veldra {

class Bridge;

// The import palette installs its Bridge here while it exists (nullptr on release).
void setImportPageBridge(Bridge* bridge);

// Sends a message to the import page when the palette exists; otherwise drops
// it. Main thread only: workers wrap their messages in runOnMainThread.
void postToPage(const std::string& type, const nlohmann::json& payload);

}  // namespace veldra
