// Elevation grids read from ESRI ASCII sheets and height sampling on them.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veldra {

struct ElevationGrid {
  std::int32_t ncols = 0;
  std::int32_t nrows = 0;
  double x0 = 0.0;        // lower-left corner of the lower-left cell, PL-1992
  double y0 = 0.0;
  double cellSize = 0.0;
  double nodata = -9999.0;  // compared for exact equality
  // ncols * nrows values, row by row, first row northernmost, each row west to east.
  std::vector<double> values;

  bool empty() const { return ncols <= 0 || nrows <= 0 || values.empty(); }
  // Row r counted from the south.
  double atFromSouth(std::int32_t col, std::int32_t rowFromSouth) const {
    return values[static_cast<std::size_t>(nrows - 1 - rowFromSouth) * static_cast<std::size_t>(ncols) +
                  static_cast<std::size_t>(col)];
  }
};

// Larger sheets are refused before anything is allocated.
inline constexpr std::int64_t kMaxGridCells = 20000LL * 20000LL;

// Reads an ESRI ASCII grid. On failure `out` is left untouched and, when
// given, `error` says why. Tokens are read with the semantics of formatted
// stream extraction in the classic locale ("1.5-2" is two numbers, "nan" and
// "inf" are not numbers, an overflowing value fails).
bool readAsciiGrid(const std::filesystem::path& path, ElevationGrid& out, std::string* error = nullptr);
// Same, from text already in memory.
bool parseAsciiGrid(std::string_view text, ElevationGrid& out, std::string* error = nullptr);

// Bilinear height between cell centres; nothing outside the grid or on NODATA.
std::optional<double> sampleGrid(const ElevationGrid& grid, double x, double y);

using TerrainSampler = std::function<std::optional<double>(double x, double y)>;

// First height found among the grids, in the order given.
std::optional<double> sampleGrids(const std::vector<ElevationGrid>& grids, double x, double y);
// The sampler keeps a reference: `grids` must outlive it.
TerrainSampler makeGridSampler(const std::vector<ElevationGrid>& grids);

}  // namespace veldra
