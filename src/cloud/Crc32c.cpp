#include "cloud/Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <nmmintrin.h>
#define VELDRA_CRC32C_SSE42 1
#endif

namespace veldra {
namespace {

// Slicing-by-8: table[k][b] is the CRC of byte b followed by k zero bytes.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

Tables makeTables() {
  Tables t{};
  for (uint32_t b = 0; b < 256; ++b) {
    uint32_t c = b;
    for (int i = 0; i < 8; ++i) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
    t[0][b] = c;
  }
  for (uint32_t b = 0; b < 256; ++b)
    for (int k = 1; k < 8; ++k) t[k][b] = (t[k - 1][b] >> 8) ^ t[0][t[k - 1][b] & 0xFFu];
  return t;
}

const Tables& tables() {
  static const Tables t = makeTables();
  return t;
}

#ifdef VELDRA_CRC32C_SSE42
__attribute__((target("sse4.2"))) uint32_t crc32cSse42(const void* data, std::size_t size) {
  const auto* p = static_cast<const unsigned char*>(data);
  uint64_t c = 0xFFFFFFFFu;
  while (size >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    c = _mm_crc32_u64(c, v);
    p += 8;
    size -= 8;
  }
  uint32_t c32 = uint32_t(c);
  while (size--) c32 = _mm_crc32_u8(c32, *p++);
  return ~c32;
}

bool haveSse42() {
  static const bool yes = __builtin_cpu_supports("sse4.2");
  return yes;
}
#endif

}  // namespace

uint32_t crc32c(const void* data, std::size_t size) {
#ifdef VELDRA_CRC32C_SSE42
  if (haveSse42()) return crc32cSse42(data, size);
#endif
  return crc32cTable(data, size);
}

uint32_t crc32cTable(const void* data, std::size_t size) {
  const Tables& t = tables();
  const auto* p = static_cast<const unsigned char*>(data);
  uint32_t c = 0xFFFFFFFFu;
  while (size >= 8) {
    // Bytes assembled explicitly so the result does not depend on the host's byte order.
    const uint32_t lo = c ^ (uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24);
    const uint32_t hi = uint32_t(p[4]) | uint32_t(p[5]) << 8 | uint32_t(p[6]) << 16 | uint32_t(p[7]) << 24;
    c = t[7][lo & 0xFF] ^ t[6][(lo >> 8) & 0xFF] ^ t[5][(lo >> 16) & 0xFF] ^ t[4][lo >> 24] ^
        t[3][hi & 0xFF] ^ t[2][(hi >> 8) & 0xFF] ^ t[1][(hi >> 16) & 0xFF] ^ t[0][hi >> 24];
    p += 8;
    size -= 8;
  }
  while (size--) c = (c >> 8) ^ t[0][(c ^ *p++) & 0xFF];
  return ~c;
}

}  // namespace veldra
