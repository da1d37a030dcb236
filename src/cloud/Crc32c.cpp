#include "cloud/Crc32c.h"

#include <array>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
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

// The register after `size` bytes from `reg` (no inversions).
__attribute__((target("sse4.2"))) uint32_t updateSse42(uint32_t reg, const unsigned char* p, std::size_t size) {
  static const ShiftTable shift = makeShift();
  uint32_t c32 = reg;
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
  return c32;
}

__attribute__((target("sse4.2"))) uint32_t crc32cSse42(const void* data, std::size_t size) {
  return ~updateSse42(0xFFFFFFFFu, static_cast<const unsigned char*>(data), size);
}

// Folding with carry-less multiplication, 64 bytes per instruction pair. A 16-byte piece A of the
// message, read as a polynomial (first bit highest), followed by D more bits contributes
// A * x^D mod P: A = H x^64 + L is replaced by H (x^(D+64) mod P) + L (x^D mod P), which fits in
// 128 bits again and is xored onto the piece D bits further on. The instruction multiplies
// bit-reflected operands and returns the product shifted by one, hence the constants x^(D+63)
// and x^(D-1). What is left at the end is 16 bytes with the same remainder as everything before;
// the CRC32 instruction reduces it and takes the tail.
uint64_t reflectedPower(unsigned n) {
  uint32_t v = 1;  // x^n mod P, bit d = coefficient of x^d
  for (unsigned i = 0; i < n; ++i) v = (v << 1) ^ ((v & 0x80000000u) ? 0x1EDC6F41u : 0u);
  uint64_t r = 0;
  for (int d = 0; d < 32; ++d)
    if (v >> d & 1u) r |= uint64_t(1) << (63 - d);
  return r;
}

struct FoldConstants {
  alignas(64) uint64_t by2048[8];  // per 128-bit lane: {H factor, L factor}
  alignas(64) uint64_t by512[8];
  alignas(64) uint64_t lanes[8];   // lanes 0..2 onto lane 3; lane 3 itself is taken as it is
};

FoldConstants makeFoldConstants() {
  FoldConstants k{};
  for (int l = 0; l < 4; ++l) {
    k.by2048[2 * l] = reflectedPower(2048 + 63), k.by2048[2 * l + 1] = reflectedPower(2047);
    k.by512[2 * l] = reflectedPower(512 + 63), k.by512[2 * l + 1] = reflectedPower(511);
    const unsigned d = (3 - l) * 128;
    if (l < 3) k.lanes[2 * l] = reflectedPower(d + 63), k.lanes[2 * l + 1] = reflectedPower(d - 1);
  }
  return k;
}

#define VELDRA_FOLD_TARGET __attribute__((target("avx512f,vpclmulqdq,sse4.2")))

VELDRA_FOLD_TARGET inline __m512i fold(__m512i acc, __m512i k, __m512i next) {
  return _mm512_ternarylogic_epi64(_mm512_clmulepi64_epi128(acc, k, 0x00), _mm512_clmulepi64_epi128(acc, k, 0x11),
                                   next, 0x96);  // three-way xor
}

VELDRA_FOLD_TARGET uint32_t crc32cFold(const void* data, std::size_t size) {
  if (size < 256) return crc32cSse42(data, size);
  static const FoldConstants k = makeFoldConstants();
  const auto* p = static_cast<const unsigned char*>(data);
  const __m512i by2048 = _mm512_load_si512(k.by2048), by512 = _mm512_load_si512(k.by512);
  __m512i a0 = _mm512_xor_si512(_mm512_loadu_si512(p), _mm512_set_epi64(0, 0, 0, 0, 0, 0, 0, 0xFFFFFFFFu));
  __m512i a1 = _mm512_loadu_si512(p + 64), a2 = _mm512_loadu_si512(p + 128), a3 = _mm512_loadu_si512(p + 192);
  p += 256;
  size -= 256;
  while (size >= 256) {
    a0 = fold(a0, by2048, _mm512_loadu_si512(p));
    a1 = fold(a1, by2048, _mm512_loadu_si512(p + 64));
    a2 = fold(a2, by2048, _mm512_loadu_si512(p + 128));
    a3 = fold(a3, by2048, _mm512_loadu_si512(p + 192));
    p += 256;
    size -= 256;
  }
  __m512i a = fold(fold(fold(a0, by512, a1), by512, a2), by512, a3);
  while (size >= 64) {
    a = fold(a, by512, _mm512_loadu_si512(p));
    p += 64;
    size -= 64;
  }
  const __m512i lanes = _mm512_load_si512(k.lanes);
  const __m512i t = _mm512_xor_si512(_mm512_clmulepi64_epi128(a, lanes, 0x00), _mm512_clmulepi64_epi128(a, lanes, 0x11));
  // Zero-masked extracts: g++ 12 warns about the undefined source register of the plain ones.
  const __m128i r = _mm_xor_si128(
      _mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, t, 0), _mm512_maskz_extracti32x4_epi32(0xF, t, 1)),
      _mm_xor_si128(_mm512_maskz_extracti32x4_epi32(0xF, t, 2), _mm512_maskz_extracti32x4_epi32(0xF, a, 3)));
  uint64_t reg = _mm_crc32_u64(0, uint64_t(_mm_cvtsi128_si64(r)));
  reg = _mm_crc32_u64(reg, uint64_t(_mm_extract_epi64(r, 1)));
  return ~updateSse42(uint32_t(reg), p, size);
}

bool haveFold() {
  static const bool yes = __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("vpclmulqdq") &&
                          __builtin_cpu_supports("sse4.2");
  return yes;
}

bool haveSse42() {
  static const bool yes = __builtin_cpu_supports("sse4.2");
  return yes;
}
#endif

}  // namespace

uint32_t crc32c(const void* data, std::size_t size) {
#ifdef VELDRA_CRC32C_SSE42
  if (haveFold()) return crc32cFold(data, size);
  if (haveSse42()) return crc32cSse42(data, size);
#endif
  return crc32cTable(data, size);
}

bool crc32cAvailable(Crc32cMethod m) {
  switch (m) {
    case Crc32cMethod::Table:
      return true;
#ifdef VELDRA_CRC32C_SSE42
    case Crc32cMethod::Instruction:
      return haveSse42();
    case Crc32cMethod::Folding:
      return haveFold();
#endif
    default:
      return false;
  }
}

uint32_t crc32cBy(Crc32cMethod m, const void* data, std::size_t size) {
#ifdef VELDRA_CRC32C_SSE42
  if (m == Crc32cMethod::Folding && haveFold()) return crc32cFold(data, size);
  if (m == Crc32cMethod::Instruction && haveSse42()) return crc32cSse42(data, size);
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
