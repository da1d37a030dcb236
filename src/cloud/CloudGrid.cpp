#include "cloud/CloudGrid.h"

#include <algorithm>
#include <cmath>

namespace veldra {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// Cell index of a coordinate, or -1 outside [0, n). Checked as a double first: a coordinate
// far outside (or NaN) must not reach the integer conversion.
std::int32_t cellOf(double v, double origin, double step, std::int32_t n) {
  const double f = std::floor((v - origin) / step);
  if (!(f >= 0.0) || f >= static_cast<double>(n)) return -1;
  return static_cast<std::int32_t>(f);
}

// Value of rank floor(n / 2) in ascending order: the upper median for even n.
template <typename T>
T upperMedian(T* first, T* last) {
  T* mid = first + (last - first) / 2;
  std::nth_element(first, mid, last);
  return *mid;
}

// Heights of the points binned per cell as 32-bit floats, laid out cell after cell (a counting
// sort): four bytes per point and per cell instead of one list per cell.
struct Bins {
  std::vector<std::uint32_t> start;  // cell c holds values[start[c] .. start[c + 1])
  std::vector<float> values;

  std::uint32_t count(std::size_t c) const { return start[c + 1] - start[c]; }
  float median(std::size_t c) { return upperMedian(values.data() + start[c], values.data() + start[c + 1]); }
};

Bins binPoints(const CloudGrid& g, const std::vector<CloudPoint>& points) {
  const std::size_t cells = g.heights.size();
  // Cells number at most 801 x 801, so 32 bits hold a cell index.
  constexpr std::uint32_t kOutside = std::numeric_limits<std::uint32_t>::max();
  std::vector<std::uint32_t> cellOfPoint(points.size(), kOutside);
  Bins b;
  b.start.assign(cells + 1, 0);
  for (std::size_t k = 0; k < points.size(); ++k) {
    const std::int32_t i = cellOf(points[k].x, g.originX, g.step, g.nx);
    const std::int32_t j = cellOf(points[k].y, g.originY, g.step, g.ny);
    if (i < 0 || j < 0 || !std::isfinite(points[k].z)) continue;
    const std::size_t c = static_cast<std::size_t>(j) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(i);
    cellOfPoint[k] = static_cast<std::uint32_t>(c);
    ++b.start[c + 1];
  }
  for (std::size_t c = 0; c < cells; ++c) b.start[c + 1] += b.start[c];
  b.values.resize(b.start[cells]);
  std::vector<std::uint32_t> fill(b.start.begin(), b.start.end() - 1);
  for (std::size_t k = 0; k < points.size(); ++k)
    if (cellOfPoint[k] != kOutside) b.values[fill[cellOfPoint[k]]++] = static_cast<float>(points[k].z);
  return b;
}

// Empty cells with at least three valid neighbours take their mean; heights found in a pass are
// written only after it, so a cell filled in a pass is no neighbour in the same pass.
void fillHoles(CloudGrid& g) {
  std::vector<std::pair<std::size_t, double>> found;
  for (int pass = 0; pass < kCloudGridFillPasses; ++pass) {
    found.clear();
    for (std::int32_t j = 0; j < g.ny; ++j) {
      for (std::int32_t i = 0; i < g.nx; ++i) {
        if (!std::isnan(g.height(i, j))) continue;
        double sum = 0;
        int n = 0;
        for (std::int32_t dj = -1; dj <= 1; ++dj) {
          for (std::int32_t di = -1; di <= 1; ++di) {
            const std::int32_t a = i + di, b = j + dj;
            if ((di == 0 && dj == 0) || a < 0 || b < 0 || a >= g.nx || b >= g.ny) continue;
            const double h = g.height(a, b);
            if (std::isnan(h)) continue;
            sum += h;
            ++n;
          }
        }
        if (n >= 3)
          found.emplace_back(static_cast<std::size_t>(j) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(i),
                             sum / n);
      }
    }
    if (found.empty()) return;
    for (const auto& [c, h] : found) g.heights[c] = h;
    g.validCells += found.size();
  }
}

// Cells lying between covered cells (with a height or a water return) along their row or along
// their column. Water gives few returns, so a lake or a river is a run of empty cells between
// banks; past the edge of the LiDAR coverage the cells have data on one side only and are no water.
std::vector<std::uint8_t> enclosedCells(const CloudGrid& g, const std::vector<std::uint8_t>& covered) {
  const auto nx = static_cast<std::size_t>(g.nx), ny = static_cast<std::size_t>(g.ny);
  std::vector<std::size_t> rowFirst(ny, nx), rowLast(ny, 0), colFirst(nx, ny), colLast(nx, 0);
  for (std::size_t j = 0; j < ny; ++j) {
    for (std::size_t i = 0; i < nx; ++i) {
      if (covered[j * nx + i] == 0) continue;
      rowFirst[j] = std::min(rowFirst[j], i);
      rowLast[j] = std::max(rowLast[j], i);
      colFirst[i] = std::min(colFirst[i], j);
      colLast[i] = std::max(colLast[i], j);
    }
  }
  std::vector<std::uint8_t> enclosed(covered.size(), 0);
  for (std::size_t j = 0; j < ny; ++j)
    for (std::size_t i = 0; i < nx; ++i)
      enclosed[j * nx + i] = (i > rowFirst[j] && i < rowLast[j]) || (j > colFirst[i] && j < colLast[i]);
  return enclosed;
}

}  // namespace

CloudGrid buildCloudGrid(const Bbox& frame, const std::vector<CloudPoint>& ground, double step,
                         const std::vector<CloudPoint>& water, WaterFlattening flattening) {
  CloudGrid g;
  g.originX = frame.minX;
  g.originY = frame.minY;
  g.step = step > 0.0 && std::isfinite(step) ? step : 1.0;
  const double nxD = std::floor((frame.maxX - frame.minX) / g.step) + 1.0;
  const double nyD = std::floor((frame.maxY - frame.minY) / g.step) + 1.0;
  if (!(nxD >= 1.0 && nyD >= 1.0 && nxD <= kCloudGridMaxCellsPerAxis && nyD <= kCloudGridMaxCellsPerAxis)) return g;
  g.nx = static_cast<std::int32_t>(nxD);
  g.ny = static_cast<std::int32_t>(nyD);
  const std::size_t cells = static_cast<std::size_t>(g.nx) * static_cast<std::size_t>(g.ny);
  g.heights.assign(cells, kNaN);
  g.waterFlags.assign(cells, 0);

  {
    Bins bins = binPoints(g, ground);
    for (std::size_t c = 0; c < cells; ++c) {
      if (bins.count(c) == 0) continue;
      g.heights[c] = bins.median(c);
      ++g.validCells;
    }
  }
  fillHoles(g);

  std::vector<std::uint8_t> covered(cells, 0);
  if (!water.empty()) {
    Bins bins = binPoints(g, water);
    for (std::size_t c = 0; c < cells; ++c) {
      covered[c] = bins.count(c) > 0;
      if (bins.count(c) < 2) continue;  // a lone water point is noise: the ground height stays
      if (std::isnan(g.heights[c])) ++g.validCells;
      g.heights[c] = bins.median(c);
      g.waterFlags[c] = 1;
      ++g.waterCells;
    }
  }

  // Without a water point there is no level: flattening to 0 m would turn every empty cell into
  // a lake at sea level.
  if (flattening == WaterFlattening::On && !water.empty()) {
    std::vector<double> levels;
    levels.reserve(water.size());
    for (const CloudPoint& p : water)
      if (std::isfinite(p.z)) levels.push_back(p.z);
    if (levels.empty()) return g;
    g.waterLevel = upperMedian(levels.data(), levels.data() + levels.size());
    for (std::size_t c = 0; c < cells; ++c) covered[c] |= !std::isnan(g.heights[c]);
    const std::vector<std::uint8_t> enclosed = enclosedCells(g, covered);
    for (std::size_t c = 0; c < cells; ++c) {
      if (g.waterFlags[c] == 1 || (std::isnan(g.heights[c]) && (covered[c] == 1 || enclosed[c] == 1))) {
        g.heights[c] = g.waterLevel;
        g.waterFlags[c] = 1;
        ++g.flatCells;
      }
    }
  }
  return g;
}

std::optional<double> sampleCloudGrid(const CloudGrid& g, double x, double y) {
  if (g.empty()) return std::nullopt;
  const double fx = (x - g.originX) / g.step, fy = (y - g.originY) / g.step;
  const std::int32_t i = cellOf(x, g.originX, g.step, g.nx), j = cellOf(y, g.originY, g.step, g.ny);
  if (i < 0 || j < 0) return std::nullopt;
  const std::int32_t i1 = std::min(i + 1, g.nx - 1), j1 = std::min(j + 1, g.ny - 1);
  const double h[4] = {g.height(i, j), g.height(i1, j), g.height(i, j1), g.height(i1, j1)};
  if (!std::isnan(h[0]) && !std::isnan(h[1]) && !std::isnan(h[2]) && !std::isnan(h[3])) {
    const double tx = fx - i, ty = fy - j;
    const double a = h[0] + (h[1] - h[0]) * tx, b = h[2] + (h[3] - h[2]) * tx;
    return a + (b - a) * ty;
  }
  // Nearest corner with a height, at its unclamped position; a later corner wins only when
  // strictly nearer.
  const double cx[4] = {double(i), double(i) + 1, double(i), double(i) + 1};
  const double cy[4] = {double(j), double(j), double(j) + 1, double(j) + 1};
  std::optional<double> best;
  double bestD = 0;
  for (int k = 0; k < 4; ++k) {
    if (std::isnan(h[k])) continue;
    const double d = (fx - cx[k]) * (fx - cx[k]) + (fy - cy[k]) * (fy - cy[k]);
    if (!best || d < bestD) {
      best = h[k];
      bestD = d;
    }
  }
  return best;
}

std::optional<double> sampleCloudWater(const CloudGrid& g, double x, double y) {
  if (g.empty() || g.waterFlags.empty() || std::isnan(g.waterLevel)) return std::nullopt;
  const std::int32_t i = cellOf(x, g.originX, g.step, g.nx), j = cellOf(y, g.originY, g.step, g.ny);
  if (i < 0 || j < 0) return std::nullopt;
  if (g.waterFlags[static_cast<std::size_t>(j) * static_cast<std::size_t>(g.nx) + static_cast<std::size_t>(i)] == 0)
    return std::nullopt;
  return g.waterLevel;
}

}  // namespace veldra
