// One LiDAR point as every loader stores and passes it on.
#pragma once

#include <cstdint>

namespace veldra {

struct CloudPoint {
  double x = 0, y = 0, z = 0;  // metres: tile coordinates, or local ones once accumulated
  uint8_t red = 0, green = 0, blue = 0;
  uint8_t classification = 0;  // LAS classification byte, flag bits included
};

static_assert(sizeof(CloudPoint) == 32, "points are stored in flat vectors of 32-byte records");

// Codes the pipelines act on.
inline constexpr uint8_t kClassGround = 2;
inline constexpr uint8_t kClassWater = 9;

}  // namespace veldra
