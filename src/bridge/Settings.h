// The user's settings: layer mapping per data type and a few stored values.
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "formats/DataType.h"

namespace veldra {

struct Settings {
  std::map<DataType, std::string> layers;   // default: the catalogue's layer names
  std::string upgToken;                     // bearer token; nothing in the program writes one
  std::string basemap = "osm";
  double zAnchor = 0.0;                     // metres above sea level that become project height 0
  bool hasZAnchor = false;

  Settings();

  // All data types in catalogue order; every loop over the types walks this.
  static const std::vector<DataType>& wszystkieTypy();

  // roaming data folder + "VELDRA/settings.json"
  static std::filesystem::path filePath();

  // Defaults changed by what the file holds; a missing or malformed file gives the defaults.
  static Settings load();
  static Settings loadFrom(const std::filesystem::path& path);
  // Replaces the file atomically (temporary file + rename); failures are silent
  // for the caller of save(), reported by saveTo().
  void save() const;
  std::string saveTo(const std::filesystem::path& path) const;

  // Layer for a type: the mapping's entry, else the catalogue default.
  std::string layerFor(DataType type) const;

  std::string toJsonText() const;
};

}  // namespace veldra
