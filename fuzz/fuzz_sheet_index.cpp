// A county package's files on arbitrary bytes: the stored sheet index and the
// package itself (as a ZIP). No crash, no hang, bounded memory (entries above
// the limit are refused); an index that reads back holds finite envelopes.
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "net/BuildingPackages.h"

namespace {

std::string scratch(const char* kind) {
  return "/tmp/veldra-fuzz-" + std::to_string(::getpid()) + "." + kind;
}

void write(const std::string& path, const std::uint8_t* data, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string idx = scratch("idx"), zip = scratch("zip");
  write(idx, data, size);
  if (const auto entries = veldra::readSheetIndex(idx))
    for (const auto& e : *entries)
      if (!std::isfinite(e.envelope.minX + e.envelope.minY + e.envelope.maxX + e.envelope.maxY)) std::abort();
  write(zip, data, size);
  std::string error;
  if (auto package = veldra::ZipPackage::open(zip, error)) {
    veldra::PackageLimits limits;
    limits.maxEntryBytes = 1 << 20;
    (void)veldra::buildSheetIndex(*package, limits);
  }
  std::remove(idx.c_str());
  std::remove(zip.c_str());
  return 0;
}
