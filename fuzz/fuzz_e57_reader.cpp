// Feeds arbitrary bytes to the E57 reader: it must end in a clean error or in at most the asked
// number of points, never in a crash, a hang or an oversized allocation.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "cloud/E57Reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const veldra::E57ReadOptions options{1000};
  const veldra::E57Cloud c = veldra::readE57Bytes(std::string_view(reinterpret_cast<const char*>(data), size), options);
  if (c.points.size() > options.maxPoints) std::abort();
  return 0;
}
