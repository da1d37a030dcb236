// ESRI ASCII grid reader on arbitrary bytes, then sampling on whatever was read.
#include "terrain/ElevationGrid.h"

#include <cstddef>
#include <cstdint>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  veldra::ElevationGrid grid;
  std::string error;
  if (!veldra::parseAsciiGrid(std::string_view(reinterpret_cast<const char*>(data), size), grid, &error)) return 0;
  if (grid.values.size() != static_cast<std::size_t>(grid.ncols) * static_cast<std::size_t>(grid.nrows)) __builtin_trap();
  const double w = grid.ncols * grid.cellSize, h = grid.nrows * grid.cellSize;
  for (double fx : {-0.1, 0.0, 0.25, 0.5, 0.999, 1.0})
    for (double fy : {-0.1, 0.0, 0.5, 0.999, 1.0}) (void)veldra::sampleGrid(grid, grid.x0 + fx * w, grid.y0 + fy * h);
  return 0;
}
