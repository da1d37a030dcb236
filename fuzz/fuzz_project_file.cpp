// Project file reader on arbitrary bytes: a refused file leaves the host as it
// was, and an accepted one saves to the same text it reads back from.
#include "host/ProjectFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  veldra::MemoryHost host;
  const std::string before = veldra::projectToJson(host);
  const std::string error = veldra::projectFromJson(text, host);
  const std::string after = veldra::projectToJson(host);
  if (!error.empty()) {
    if (after != before) std::abort();
    return 0;
  }
  veldra::MemoryHost again;
  if (!veldra::projectFromJson(after, again).empty()) std::abort();
  if (veldra::projectToJson(again) != after) std::abort();
  return 0;
}
