// Writes small LAS files byte by byte for the reader tests.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "cloud/las/LasReader.h"

namespace veldra::test {

struct LasVlr {
  std::string userId;
  uint16_t recordId = 0;
  std::string payload;
};

struct LasBuilder {
  uint8_t versionMinor = 2;
  uint8_t pointFormat = 0;      // as stored, compression bits included
  uint16_t recordLength = 20;
  uint64_t pointCount = 0;      // announced; the records below are written as they are
  std::vector<LasVlr> vlrs;
  std::string points;           // raw bytes after the header and VLRs
  double scale[3] = {0.01, 0.01, 0.01};
  double offset[3] = {500000, 600000, 0};

  template <typename T>
  static void put(std::string& s, size_t at, T v) {
    std::memcpy(s.data() + at, &v, sizeof v);
  }

  std::string build() const {
    const uint16_t headerSize = versionMinor >= 4 ? 375 : (versionMinor == 3 ? 235 : 227);
    std::string out(headerSize, '\0');
    std::memcpy(out.data(), "LASF", 4);
    out[24] = 1;
    out[25] = static_cast<char>(versionMinor);
    put<uint16_t>(out, 94, headerSize);
    size_t vlrBytes = 0;
    for (const auto& v : vlrs) vlrBytes += 54 + v.payload.size();
    put<uint32_t>(out, 96, static_cast<uint32_t>(headerSize + vlrBytes));
    put<uint32_t>(out, 100, static_cast<uint32_t>(vlrs.size()));
    out[104] = static_cast<char>(pointFormat);
    put<uint16_t>(out, 105, recordLength);
    const bool fits32 = pointCount <= 0xFFFFFFFFull && (pointFormat & 0x3F) < 6;
    put<uint32_t>(out, 107, !fits32 ? 0u : static_cast<uint32_t>(pointCount));
    for (int i = 0; i < 3; ++i) {
      put<double>(out, 131 + 8 * i, scale[i]);
      put<double>(out, 155 + 8 * i, offset[i]);
    }
    if (versionMinor >= 4) put<uint64_t>(out, 247, pointCount);
    for (const auto& v : vlrs) {
      std::string h(54, '\0');
      std::memcpy(h.data() + 2, v.userId.data(), std::min<size_t>(16, v.userId.size()));
      put<uint16_t>(h, 18, v.recordId);
      put<uint16_t>(h, 20, static_cast<uint16_t>(v.payload.size()));
      out += h;
      out += v.payload;
    }
    out += points;
    return out;
  }
};

// Records of random bytes.
inline std::string randomRecords(size_t count, uint16_t recordLength, uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s(count * recordLength, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

struct LasTestPoint {
  int32_t X = 0, Y = 0, Z = 0;
  uint16_t intensity = 0;
  uint8_t classification = 0;
  uint16_t red = 0, green = 0, blue = 0;
};

// Writes a LAS 1.2 file of point format 0..3 with the standard record length. Colours go where
// formats 2 and 3 keep them.
inline void writeLasFile(const std::string& path, int format, const std::vector<LasTestPoint>& pts,
                         const double scale[3], const double offset[3]) {
  static const uint16_t kStd[4] = {20, 28, 26, 34};
  LasBuilder b;
  b.pointFormat = static_cast<uint8_t>(format);
  b.recordLength = kStd[format];
  b.pointCount = pts.size();
  std::copy(scale, scale + 3, b.scale);
  std::copy(offset, offset + 3, b.offset);
  for (const auto& p : pts) {
    std::string r(b.recordLength, '\0');
    LasBuilder::put(r, 0, p.X);
    LasBuilder::put(r, 4, p.Y);
    LasBuilder::put(r, 8, p.Z);
    LasBuilder::put(r, 12, p.intensity);
    r[15] = static_cast<char>(p.classification);
    if (format >= 2) {
      const size_t rgb = format == 2 ? 20 : 28;
      LasBuilder::put(r, rgb, p.red);
      LasBuilder::put(r, rgb + 2, p.green);
      LasBuilder::put(r, rgb + 4, p.blue);
    }
    b.points += r;
  }
  std::ofstream(path, std::ios::binary) << b.build();
}

// Every record the reader delivers, back to back.
inline std::string readAllRecords(las::LasReader& r) {
  std::string out;
  std::vector<uint8_t> rec(r.header().recordLength);
  while (r.readPoint(rec.data())) out.append(reinterpret_cast<const char*>(rec.data()), rec.size());
  return out;
}

}  // namespace veldra::test
