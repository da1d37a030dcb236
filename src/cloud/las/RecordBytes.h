// Unaligned reads and writes of fields inside a raw point record.
#pragma once

#include <cstdint>
#include <cstring>

namespace veldra::las {

template <typename T>
T load(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <typename T>
void store(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

}  // namespace veldra::las
