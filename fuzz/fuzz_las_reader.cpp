// Feeds arbitrary bytes to the LAS/LAZ reader: opening and reading must end in a clean error
// or in points, never in a crash, a hang or an oversized allocation.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "cloud/las/LasReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto reader = veldra::las::LasReader::openMemory(std::string(reinterpret_cast<const char*>(data), size), &error);
  if (!reader) return 0;
  std::vector<uint8_t> record(reader->header().recordLength);
  // Bounded so that a valid header announcing many cheap points cannot stall the run.
  for (int i = 0; i < 20000 && reader->readPoint(record.data()); ++i) {
  }
  return 0;
}
