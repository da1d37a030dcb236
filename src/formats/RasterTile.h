// One map image fetched from a WMS service for part of the frame.
#pragma once

#include <cstdint>
#include <vector>

#include "formats/DataType.h"

namespace veldra {

struct RasterTile {
  DataType type = DataType::Rastry;   // Rastry (orthophoto), Mpzp, Gesut or Bdot500
  std::vector<std::uint8_t> bytes;    // PNG or JPEG as delivered
  double minX = 0, minY = 0, maxX = 0, maxY = 0;   // in `epsg`
  int epsg = 2180;                    // a PL-2000 zone or 2180
};

}  // namespace veldra
