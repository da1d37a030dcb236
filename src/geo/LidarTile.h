// One sheet of the national LiDAR index.
#pragma once

#include <string>

namespace veldra {

struct LidarTile {
  std::string godlo;     // map sheet code
  std::string url;       // download address
  double density = 0;    // points per square metre, 0 when unknown
  int epsg = 0;          // 2180, 2176..2179, or 0 when the index names neither system
};

}  // namespace veldra
