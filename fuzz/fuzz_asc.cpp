// ESRI ASCII grid reader on arbitrary bytes: the in-memory and the file reader must agree,
// and sampling must be safe on whatever was read.
#include "terrain/ElevationGrid.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <string_view>

#include <unistd.h>

namespace {

const std::filesystem::path& scratchFile() {
  static const std::filesystem::path p =
      std::filesystem::temp_directory_path() / ("veldra_fuzz_asc_" + std::to_string(::getpid()) + ".asc");
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  veldra::ElevationGrid grid;
  std::string error;
  const bool ok = veldra::parseAsciiGrid(text, grid, &error);

  // File I/O is slow: one input in four also goes through the file reader.
  std::FILE* f = size % 4 == 0 ? std::fopen(scratchFile().c_str(), "wb") : nullptr;
  if (f) {
    std::fwrite(data, 1, size, f);
    std::fclose(f);
    veldra::ElevationGrid fromFile;
    const bool fileOk = veldra::readAsciiGrid(scratchFile(), fromFile);
    if (fileOk != ok) __builtin_trap();
    if (ok && (fromFile.values != grid.values || fromFile.x0 != grid.x0 || fromFile.ncols != grid.ncols))
      __builtin_trap();
  }
  if (!ok) return 0;
  if (grid.values.size() != static_cast<std::size_t>(grid.ncols) * static_cast<std::size_t>(grid.nrows)) __builtin_trap();
  const double w = grid.ncols * grid.cellSize, h = grid.nrows * grid.cellSize;
  for (double fx : {-0.1, 0.0, 0.25, 0.5, 0.999, 1.0})
    for (double fy : {-0.1, 0.0, 0.5, 0.999, 1.0}) (void)veldra::sampleGrid(grid, grid.x0 + fx * w, grid.y0 + fy * h);
  return 0;
}
