// ASTM E57 1.0 output of one scan: single-precision Cartesian coordinates and 8-bit colour.
#pragma once

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

}  // namespace veldra
