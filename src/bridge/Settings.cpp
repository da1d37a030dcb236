#include "bridge/Settings.h"

#include <system_error>

#include <nlohmann/json.hpp>

#include "platform/Paths.h"

namespace veldra {

using nlohmann::json;
namespace fs = std::filesystem;

Settings::Settings() {
  for (const auto& row : kDataTypeTable) layers[row.type] = std::string(row.defaultLayer);
}

const std::vector<DataType>& Settings::wszystkieTypy() {
  static const std::vector<DataType> all = [] {
    std::vector<DataType> v;
    for (const auto& row : kDataTypeTable) v.push_back(row.type);
    return v;
  }();
  return all;
}

fs::path Settings::filePath() {
  fs::path dir = platform::roamingDataDir() / "VELDRA";
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir / "settings.json";
}

Settings Settings::load() { return loadFrom(filePath()); }

Settings Settings::loadFrom(const fs::path& path) {
  Settings s;
  std::string text;
  if (!platform::readWholeFile(path, text)) return s;
  json j = json::parse(text, nullptr, /*allow_exceptions=*/false, /*ignore_comments=*/false);
  if (j.is_discarded() || !j.is_object()) return s;
  if (auto it = j.find("layers"); it != j.end() && it->is_object()) {
    for (DataType t : wszystkieTypy()) {
      auto e = it->find(typeKey(t));
      if (e != it->end() && e->is_string()) s.layers[t] = e->get<std::string>();
    }
  }
  if (auto it = j.find("upgToken"); it != j.end() && it->is_string()) s.upgToken = it->get<std::string>();
  if (auto it = j.find("basemap"); it != j.end() && it->is_string()) s.basemap = it->get<std::string>();
  if (auto it = j.find("zAnchor"); it != j.end() && it->is_number()) {
    s.zAnchor = it->get<double>();
    s.hasZAnchor = true;
  }
  return s;
}

std::string Settings::toJsonText() const {
  json j = json::object();
  json l = json::object();
  for (const auto& [type, name] : layers) l[typeKey(type)] = name;
  j["layers"] = std::move(l);
  j["upgToken"] = upgToken;
  j["basemap"] = basemap;
  if (hasZAnchor) j["zAnchor"] = zAnchor;
  return j.dump(2, ' ', /*ensure_ascii=*/false, json::error_handler_t::replace) + "\n";
}

std::string Settings::saveTo(const fs::path& path) const { return platform::writeFileAtomically(path, toJsonText()); }

void Settings::save() const { (void)saveTo(filePath()); }

std::string Settings::layerFor(DataType type) const {
  auto it = layers.find(type);
  if (it != layers.end()) return it->second;
  return defaultLayerName(type);
}

}  // namespace veldra
