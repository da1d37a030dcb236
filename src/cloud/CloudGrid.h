// One regular height grid over a frame, built from LiDAR ground and water points: per-cell
// medians, small holes filled from their neighbours, water cells, optionally one flat water
// level. Samplers read it for terrain lattices and water patches.
#pragma once

#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "cloud/CloudPoint.h"
#include "geo/Bbox.h"

namespace veldra {

// The coarsened import step keeps a frame within 800 cells per axis (801 nodes); anything larger
// is refused instead of allocated.
inline constexpr std::int32_t kCloudGridMaxCellsPerAxis = 801;
// Hole filling stops after this many passes: holes farther from data stay empty.
inline constexpr int kCloudGridFillPasses = 20;

struct CloudGrid {
  double originX = 0, originY = 0;  // frame's minimum corner, PL-1992
  double step = 1.0;
  std::int32_t nx = 0, ny = 0;
  // Row by row from the south (index j * nx + i); NaN where the cell has no height.
  std::vector<double> heights;
  std::vector<std::uint8_t> waterFlags;
  double waterLevel = std::numeric_limits<double>::quiet_NaN();
  std::uint64_t validCells = 0;  // ground median, hole filling, or water median on an empty cell
  std::uint64_t waterCells = 0;  // cells that took a water median
  std::uint64_t flatCells = 0;   // cells set to the water level

  bool empty() const { return nx < 1 || ny < 1; }
  double height(std::int32_t i, std::int32_t j) const {
    return heights[static_cast<std::size_t>(j) * static_cast<std::size_t>(nx) + static_cast<std::size_t>(i)];
  }
};

enum class WaterFlattening { Off, On };

// Points in PL-1992; those outside the grid (or not finite) are ignored. A step that is not
// positive is taken as 1 m. Flattening sets every water cell, and every cell still empty after
// hole filling that holds a water point or has covered cells on both sides along its row or its
// column, to the upper median of all water heights; without any water point there is no level
// to flatten to, and nothing is flattened.
CloudGrid buildCloudGrid(const Bbox& frame, const std::vector<CloudPoint>& ground, double step,
                         const std::vector<CloudPoint>& water, WaterFlattening flattening);

// Bilinear between the four corners of the cell holding (x, y) when all have heights, else the
// height of the nearest corner that has one; nothing outside the grid.
std::optional<double> sampleCloudGrid(const CloudGrid& grid, double x, double y);
// The water level inside water cells once a level is set; nothing elsewhere.
std::optional<double> sampleCloudWater(const CloudGrid& grid, double x, double y);

}  // namespace veldra
