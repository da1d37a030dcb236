#include "cloud/las/LasHeader.h"

#include <cmath>
#include <cstring>

#include "cloud/las/ByteSource.h"

namespace veldra::las {
namespace {

template <typename T>
T get(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);  // LAS is little endian, as is every target we build for
  return v;
}

std::string fixedString(const uint8_t* p, size_t n) {
  size_t len = 0;
  while (len < n && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), len);
}

bool fail(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
  return false;
}

bool isLaszipRecord(const uint8_t* userId, uint16_t recordId) {
  return recordId == 22204 && std::memcmp(userId, "laszip encoded", 14) == 0 && userId[14] == 0;
}

constexpr size_t kVlrHeader = 54;
constexpr size_t kEvlrHeader = 60;

}  // namespace

uint16_t minimumRecordLength(uint8_t pointFormat) {
  static const uint16_t kLen[11] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
  return pointFormat <= 10 ? kLen[pointFormat] : 0;
}

bool parseLaszipVlr(const uint8_t* d, size_t size, LaszipVlr& out, std::string* error) {
  if (size < 34) return fail(error, "LASzip record too short");
  out.compressor = get<uint16_t>(d);
  out.coder = get<uint16_t>(d + 2);
  out.versionMajor = d[4];
  out.versionMinor = d[5];
  out.versionRevision = get<uint16_t>(d + 6);
  out.options = get<uint32_t>(d + 8);
  out.chunkSize = get<uint32_t>(d + 12);
  uint16_t numItems = get<uint16_t>(d + 32);
  if (size < 34 + size_t{numItems} * 6) return fail(error, "LASzip record lists more items than it holds");
  out.items.clear();
  for (uint16_t i = 0; i < numItems; ++i) {
    const uint8_t* p = d + 34 + size_t{i} * 6;
    out.items.push_back({get<uint16_t>(p), get<uint16_t>(p + 2), get<uint16_t>(p + 4)});
  }
  return true;
}

bool readLasHeader(ByteSource& src, LasHeader& h, std::optional<LaszipVlr>& laszip, std::string* error) {
  laszip.reset();
  const uint64_t fileSize = src.size();
  uint8_t b[375] = {};
  if (fileSize < 227 || !src.read(0, b, 227)) return fail(error, "file too short for a LAS header");
  if (std::memcmp(b, "LASF", 4) != 0) return fail(error, "not a LAS file (no LASF signature)");
  h = LasHeader{};
  h.versionMajor = b[24];
  h.versionMinor = b[25];
  if (h.versionMajor != 1 || h.versionMinor > 4)
    return fail(error, "unsupported LAS version " + std::to_string(h.versionMajor) + "." + std::to_string(h.versionMinor));
  h.systemIdentifier = fixedString(b + 26, 32);
  h.generatingSoftware = fixedString(b + 58, 32);
  h.headerSize = get<uint16_t>(b + 94);
  h.offsetToPoints = get<uint32_t>(b + 96);
  h.vlrCount = get<uint32_t>(b + 100);
  const uint8_t rawFormat = b[104];
  h.recordLength = get<uint16_t>(b + 105);
  h.pointCount = get<uint32_t>(b + 107);
  for (int i = 0; i < 3; ++i) {
    h.scale[i] = get<double>(b + 131 + 8 * i);
    h.offset[i] = get<double>(b + 155 + 8 * i);
    h.maximum[i] = get<double>(b + 179 + 16 * i);
    h.minimum[i] = get<double>(b + 187 + 16 * i);
  }
  // A zero (or non-finite) scale puts every point at one spot: the file is damaged.
  for (int i = 0; i < 3; ++i)
    if (!std::isfinite(h.scale[i]) || h.scale[i] == 0.0 || !std::isfinite(h.offset[i]))
      return fail(error, std::string("invalid LAS scale or offset for ") + "XYZ"[i]);
  if (h.headerSize < 227) return fail(error, "LAS header size below 227 bytes");
  if (h.headerSize > fileSize) return fail(error, "LAS header larger than the file");
  if (h.offsetToPoints < h.headerSize || h.offsetToPoints > fileSize)
    return fail(error, "offset to point data outside the file");
  if (h.versionMinor >= 4 && h.headerSize >= 375) {
    if (!src.read(227, b + 227, 375 - 227)) return fail(error, "truncated LAS 1.4 header");
    h.evlrStart = get<uint64_t>(b + 235);
    h.evlrCount = get<uint32_t>(b + 243);
    uint64_t count64 = get<uint64_t>(b + 247);
    if (count64 != 0 || h.pointCount == 0) h.pointCount = count64;
  }

  // Bit 7 marks LASzip compression; bit 6 was used by some early writers.
  const bool compressionBit = (rawFormat & 0xC0) != 0;
  h.pointFormat = rawFormat & 0x3F;
  if (h.pointFormat > 10) return fail(error, "unknown point data format " + std::to_string(h.pointFormat));
  if (h.pointFormat == 4 || h.pointFormat == 5 || h.pointFormat == 9 || h.pointFormat == 10)
    return fail(error, "point format " + std::to_string(h.pointFormat) + " (waveform) is not supported");
  if (h.recordLength < minimumRecordLength(h.pointFormat))
    return fail(error, "record length " + std::to_string(h.recordLength) + " too small for point format " +
                           std::to_string(h.pointFormat));

  // VLRs lie between the header and the point data.
  uint64_t pos = h.headerSize;
  for (uint32_t i = 0; i < h.vlrCount; ++i) {
    if (pos + kVlrHeader > h.offsetToPoints) break;  // count overstated; the rest cannot exist
    uint8_t vh[kVlrHeader];
    if (!src.read(pos, vh, kVlrHeader)) break;
    uint16_t recordId = get<uint16_t>(vh + 18);
    uint16_t len = get<uint16_t>(vh + 20);
    uint64_t body = pos + kVlrHeader;
    if (body + len > h.offsetToPoints) return fail(error, "VLR runs into the point data");
    if (isLaszipRecord(vh + 2, recordId)) {
      std::vector<uint8_t> payload(len);
      if (len && !src.read(body, payload.data(), len)) return fail(error, "truncated LASzip VLR");
      LaszipVlr v;
      if (!parseLaszipVlr(payload.data(), payload.size(), v, error)) return false;
      laszip = std::move(v);
    }
    pos = body + len;
  }
  if (!laszip && h.evlrCount > 0 && h.evlrStart >= h.offsetToPoints) {
    pos = h.evlrStart;
    for (uint32_t i = 0; i < h.evlrCount; ++i) {
      if (pos > fileSize || fileSize - pos < kEvlrHeader) break;
      uint8_t vh[kEvlrHeader];
      if (!src.read(pos, vh, kEvlrHeader)) break;
      uint16_t recordId = get<uint16_t>(vh + 18);
      uint64_t len = get<uint64_t>(vh + 20);
      uint64_t body = pos + kEvlrHeader;
      if (len > fileSize - body) break;
      if (isLaszipRecord(vh + 2, recordId)) {
        if (len > 65535) return fail(error, "LASzip EVLR implausibly large");
        std::vector<uint8_t> payload(len);
        if (len && !src.read(body, payload.data(), len)) return fail(error, "truncated LASzip EVLR");
        LaszipVlr v;
        if (!parseLaszipVlr(payload.data(), payload.size(), v, error)) return false;
        laszip = std::move(v);
        break;
      }
      pos = body + len;
    }
  }
  if (compressionBit && !laszip) return fail(error, "compressed point format but no LASzip VLR");
  if (!compressionBit) laszip.reset();
  h.compressed = laszip.has_value();
  return true;
}

}  // namespace veldra::las
