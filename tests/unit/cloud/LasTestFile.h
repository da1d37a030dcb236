// Small uncompressed LAS 1.2 files written by the tests themselves.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace veldra::test {

struct LasTestPoint {
  int32_t X = 0, Y = 0, Z = 0;
  uint16_t intensity = 0;
  uint8_t classification = 0;
  uint16_t red = 0, green = 0, blue = 0;
};

inline void putLe(std::vector<uint8_t>& b, std::size_t at, uint64_t v, int n) {
  for (int i = 0; i < n; ++i) b[at + i] = uint8_t(v >> (8 * i));
}
inline void putDouble(std::vector<uint8_t>& b, std::size_t at, double d) {
  uint64_t v;
  std::memcpy(&v, &d, 8);
  putLe(b, at, v, 8);
}

// Writes a LAS 1.2 file of point format 0..3 with the given record length (the standard length
// when 0). Colours go where formats 2 and 3 keep them.
inline void writeLasFile(const std::string& path, int format, const std::vector<LasTestPoint>& pts,
                         const double scale[3], const double offset[3], int recordLength = 0,
                         uint32_t announcedCount = UINT32_MAX) {
  static const int kStd[4] = {20, 28, 26, 34};
  if (recordLength == 0) recordLength = kStd[format];
  std::vector<uint8_t> h(227, 0);
  std::memcpy(h.data(), "LASF", 4);
  h[24] = 1;
  h[25] = 2;
  std::memcpy(h.data() + 26, "VELDRA TEST", 11);
  std::memcpy(h.data() + 58, "veldra unit tests", 17);
  putLe(h, 94, 227, 2);
  putLe(h, 96, 227, 4);
  h[104] = uint8_t(format);
  putLe(h, 105, uint64_t(recordLength), 2);
  putLe(h, 107, announcedCount == UINT32_MAX ? pts.size() : announcedCount, 4);
  double mn[3] = {1e300, 1e300, 1e300}, mx[3] = {-1e300, -1e300, -1e300};
  for (const auto& p : pts) {
    const int32_t v[3] = {p.X, p.Y, p.Z};
    for (int a = 0; a < 3; ++a) {
      mn[a] = std::min(mn[a], v[a] * scale[a] + offset[a]);
      mx[a] = std::max(mx[a], v[a] * scale[a] + offset[a]);
    }
  }
  if (pts.empty())
    for (int a = 0; a < 3; ++a) mn[a] = mx[a] = 0;
  for (int a = 0; a < 3; ++a) {
    putDouble(h, 131 + 8 * a, scale[a]);
    putDouble(h, 155 + 8 * a, offset[a]);
    putDouble(h, 179 + 16 * a, mx[a]);
    putDouble(h, 187 + 16 * a, mn[a]);
  }
  for (const auto& p : pts) {
    std::vector<uint8_t> r(std::size_t(recordLength), 0);
    putLe(r, 0, uint32_t(p.X), 4);
    putLe(r, 4, uint32_t(p.Y), 4);
    putLe(r, 8, uint32_t(p.Z), 4);
    putLe(r, 12, p.intensity, 2);
    r[15] = p.classification;
    const int rgb = format == 2 ? 20 : format == 3 ? 28 : -1;
    if (rgb >= 0 && rgb + 6 <= recordLength) {
      putLe(r, std::size_t(rgb), p.red, 2);
      putLe(r, std::size_t(rgb) + 2, p.green, 2);
      putLe(r, std::size_t(rgb) + 4, p.blue, 2);
    }
    h.insert(h.end(), r.begin(), r.end());
  }
  std::ofstream(path, std::ios::binary).write(reinterpret_cast<const char*>(h.data()), std::streamsize(h.size()));
}

}  // namespace veldra::test
