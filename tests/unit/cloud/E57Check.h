// A strict reader of the E57 files we write: verifies the paging, the header and both sections,
// and decodes everything back.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace veldra::test {

struct E57Contents {
  uint64_t physicalLength = 0;
  uint64_t xmlPhysicalOffset = 0;
  uint64_t xmlLength = 0;
  uint64_t sectionLength = 0;
  std::vector<std::size_t> packetPoints;   // points per data packet, in order
  std::vector<float> x, y, z;
  std::vector<uint8_t> red, green, blue;
  std::string xml;
  std::vector<uint8_t> lastPagePayload;    // the 1020 logical bytes of the last page
  // From the XML
  int64_t recordCount = -1, rowMaximum = -1;
  double boundsMin[3] = {0, 0, 0}, boundsMax[3] = {0, 0, 0};
};

// Empty string when the file is well formed, else the first fault found.
std::string readE57Strict(const std::string& path, E57Contents& out);

}  // namespace veldra::test
