// Feeds arbitrary bytes to the E57 reader: it must end in a clean error or in at most the asked
// number of points, never in a crash, a hang or an oversized allocation. The pages' checksums
// are made right first, so that mutations reach the header, the XML and the packets behind them.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cloud/Crc32c.h"
#include "cloud/E57Reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string bytes(reinterpret_cast<const char*>(data), size);
  for (std::size_t at = 0; at + 1024 <= bytes.size(); at += 1024) {
    const uint32_t crc = veldra::crc32c(bytes.data() + at, 1020);
    for (int i = 0; i < 4; ++i) bytes[at + 1020 + i] = char(crc >> (24 - 8 * i));
  }
  const veldra::E57ReadOptions options{1000};
  if (veldra::readE57Bytes(bytes, options).points.size() > options.maxPoints) std::abort();
  return 0;
}
