// ASTM E57 1.0 output of one scan: single-precision Cartesian coordinates and 8-bit colour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cloud/CloudPoint.h"

namespace veldra {

// Writes the points (local metres) as one E57 file. The file appears under `path` only when it was
// written completely; on failure nothing is left behind, `error` gets the reason and false is returned.
bool writeE57(const std::string& path, const std::vector<CloudPoint>& points, std::string& error);

// Layout facts shared with the readers in the tests.
inline constexpr std::size_t kE57PageSize = 1024;
inline constexpr std::size_t kE57PagePayload = 1020;
inline constexpr std::size_t kE57PacketPoints = 1057;

namespace e57detail {

// Range of the stored (single precision) coordinates; `bad` once any of them is not finite.
struct Extent {
  float lo[3], hi[3];
  bool bad = false;
  int8_t zeroSign[3] = {0, 0, 0};  // sign of the first coordinate equal to zero, 0 before one is met
  Extent();
};

// Writes the six field streams of p[0..k) back to back at `out` (x, y, z as little-endian floats,
// then red, green, blue bytes; 15 * k bytes) and widens `e` by the points. `vector` allows the
// wide-register version where the processor has it; both give the same bytes.
void packStreams(const CloudPoint* p, std::size_t k, uint8_t* out, Extent& e, bool vector);

}  // namespace e57detail

}  // namespace veldra
