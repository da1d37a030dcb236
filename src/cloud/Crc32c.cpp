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
// The instruction has a latency of three cycles but accepts a new one every cycle, so a single
// chain runs at a third of its speed. Blocks of 3 * kLane bytes go through three independent chains
// that are then joined: the register after "A B" equals the register after A, advanced over |B|
// zero bytes, xor the register of B started from zero (the register update is linear).
constexpr std::size_t kLane = 336;  // 3 * 336 = 1008 bytes: one round per 1020-byte E57 page

// shift[j][b]: the register (b << 8j) advanced over kLane zero bytes.
using ShiftTable = std::array<std::array<uint32_t, 256>, 4>;

ShiftTable makeShift() {
  const Tables& t = tables();
  uint32_t basis[32];
  for (int i = 0; i < 32; ++i) {
    uint32_t c = 1u << i;
    for (std::size_t k = 0; k < kLane; ++k) c = (c >> 8) ^ t[0][c & 0xFFu];
    basis[i] = c;
  }
  ShiftTable s{};
  for (int j = 0; j < 4; ++j)
    for (uint32_t b = 0; b < 256; ++b) {
      uint32_t v = 0;
      for (int i = 0; i < 8; ++i)
        if (b & (1u << i)) v ^= basis[8 * j + i];
      s[j][b] = v;
    }
  return s;
}

uint32_t shiftLane(const ShiftTable& s, uint32_t c) {
  return s[0][c & 0xFFu] ^ s[1][(c >> 8) & 0xFFu] ^ s[2][(c >> 16) & 0xFFu] ^ s[3][c >> 24];
}

__attribute__((target("sse4.2"))) uint32_t crc32cSse42(const void* data, std::size_t size) {
  static const ShiftTable shift = makeShift();
  const auto* p = static_cast<const unsigned char*>(data);
  uint32_t c32 = 0xFFFFFFFFu;
  while (size >= 3 * kLane) {
    uint64_t a = c32, b = 0, c = 0;
    for (std::size_t i = 0; i < kLane; i += 8) {
      uint64_t va, vb, vc;
      std::memcpy(&va, p + i, 8);
      std::memcpy(&vb, p + kLane + i, 8);
      std::memcpy(&vc, p + 2 * kLane + i, 8);
      a = _mm_crc32_u64(a, va);
      b = _mm_crc32_u64(b, vb);
      c = _mm_crc32_u64(c, vc);
    }
    c32 = shiftLane(shift, shiftLane(shift, uint32_t(a)) ^ uint32_t(b)) ^ uint32_t(c);
    p += 3 * kLane;
    size -= 3 * kLane;
  }
  uint64_t c = c32;
  while (size >= 8) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    c = _mm_crc32_u64(c, v);
    p += 8;
    size -= 8;
  }
  c32 = uint32_t(c);
  if (size >= 4) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    c32 = _mm_crc32_u32(c32, v);
    p += 4;
    size -= 4;
  }
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
