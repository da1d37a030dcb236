// The host window's selection: whole layers and listed element identifiers,
// as the page asks for them.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "host/MemoryHost.h"

namespace veldra::app {

struct SelectionRequest {
  std::vector<int> layers;          // every element on these layers, in project order
  std::vector<std::string> guids;   // then these, in the order given
};

// Reads {"layers": [index...], "elements": "E0000001, E0000002 ..."}; anything
// else in the message is ignored, a malformed part gives an empty request part.
SelectionRequest selectionRequestFrom(const nlohmann::json& message);

// The identifiers to select: each existing element once; unknown identifiers
// are counted in `unknown`.
std::vector<std::string> resolveSelection(const MemoryHost& host, const SelectionRequest& request, int& unknown);

}  // namespace veldra::app
