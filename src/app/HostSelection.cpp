#include "app/HostSelection.h"

#include <set>
#include <unordered_set>

#include "bridge/MessageNumbers.h"

namespace veldra::app {

SelectionRequest selectionRequestFrom(const nlohmann::json& message) {
  SelectionRequest r;
  if (!message.is_object()) return r;
  if (auto it = message.find("layers"); it != message.end() && it->is_array()) {
    for (const auto& v : *it) {
      try {
        r.layers.push_back(messageInt(v));
      } catch (const std::exception&) {
        // not a layer index: skipped
      }
    }
  }
  if (auto it = message.find("elements"); it != message.end() && it->is_string()) {
    std::string current;
    for (char c : it->get<std::string>() + " ") {
      if (c == ' ' || c == ',' || c == ';' || c == '\n' || c == '\t' || c == '\r') {
        if (!current.empty()) r.guids.push_back(current);
        current.clear();
      } else {
        current.push_back(c);
      }
    }
  }
  return r;
}

std::vector<std::string> resolveSelection(const MemoryHost& host, const SelectionRequest& request, int& unknown) {
  unknown = 0;
  std::vector<std::string> out;
  std::unordered_set<std::string> taken;
  const std::set<int> layers(request.layers.begin(), request.layers.end());
  if (!layers.empty()) {
    for (std::size_t i = 0; i < host.elementCount(); ++i) {
      const Element& e = host.elementAt(i).element;
      if (layers.count(e.layer) && taken.insert(e.guid).second) out.push_back(e.guid);
    }
  }
  for (const std::string& g : request.guids) {
    if (!host.findElement(g)) {
      ++unknown;
      continue;
    }
    if (taken.insert(g).second) out.push_back(g);
  }
  return out;
}

}  // namespace veldra::app
