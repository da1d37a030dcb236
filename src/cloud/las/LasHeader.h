#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace veldra::las {

class ByteSource;

struct LasHeader {
  uint8_t versionMajor = 0, versionMinor = 0;
  uint8_t pointFormat = 0;          // 0..10, compression bits stripped
  uint16_t recordLength = 0;        // point data record length
  uint64_t pointCount = 0;          // 64-bit count where present (1.4), else legacy
  uint32_t offsetToPoints = 0;
  double scale[3] = {1, 1, 1}, offset[3] = {0, 0, 0}, minimum[3] = {}, maximum[3] = {};
  bool compressed = false;          // LASzip VLR present and point format has the compression bit
  std::string systemIdentifier, generatingSoftware;

  uint16_t headerSize = 0;
  uint32_t vlrCount = 0;
  uint64_t evlrStart = 0;           // 1.4 only, 0 when absent
  uint32_t evlrCount = 0;
};

// Item types of the LASzip record description.
enum class LazItemType : uint16_t {
  Byte = 0,
  Point10 = 6,
  GpsTime11 = 7,
  Rgb12 = 8,
  Wavepacket13 = 9,
  Point14 = 10,
  Rgb14 = 11,
  RgbNir14 = 12,
  Wavepacket14 = 13,
  Byte14 = 14,
};

struct LazItem {
  uint16_t type = 0, size = 0, version = 0;
};

// Payload of the "laszip encoded" / 22204 VLR.
struct LaszipVlr {
  uint16_t compressor = 0;          // 1 pointwise, 2 pointwise chunked, 3 layered chunked
  uint16_t coder = 0;
  uint8_t versionMajor = 0, versionMinor = 0;
  uint16_t versionRevision = 0;
  uint32_t options = 0;
  uint32_t chunkSize = 0;           // 0xFFFFFFFF: chunk sizes vary, the chunk table holds them
  std::vector<LazItem> items;
};

constexpr uint32_t kVariableChunkSize = 0xFFFFFFFFu;

// Smallest record length of each point data format 0..10.
uint16_t minimumRecordLength(uint8_t pointFormat);

// Parses the public header and walks (E)VLRs for the LASzip record. Every offset and count is
// checked against the source size. On success `laszip` is set when the file is compressed.
bool readLasHeader(ByteSource& src, LasHeader& header, std::optional<LaszipVlr>& laszip, std::string* error);

// Parses a LASzip VLR payload; false with *error on a malformed one.
bool parseLaszipVlr(const uint8_t* data, size_t size, LaszipVlr& out, std::string* error);

}  // namespace veldra::las
