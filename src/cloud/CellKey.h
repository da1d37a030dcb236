// Square cells counted from an origin, packed into one 64-bit key (column in the
// high 32 bits, row in the low 32 bits) and hashed by FNV-1a over the key's bytes.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace veldra {

inline std::int64_t cellIndex(double v, double origin, double cell) {
  return static_cast<std::int64_t>(std::floor((v - origin) / cell));
}

inline std::uint64_t packCellKey(std::int64_t column, std::int64_t row) {
  return (std::uint64_t(std::uint32_t(column)) << 32) | std::uint64_t(std::uint32_t(row));
}

struct CellKeyHash {
  std::size_t operator()(std::uint64_t key) const noexcept {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (int i = 0; i < 8; ++i) {
      h ^= (key >> (8 * i)) & 0xFF;
      h *= 0x100000001b3ull;
    }
    return std::size_t(h);
  }
};

}  // namespace veldra
