// cloud-grid: the height grid of the ground (and water) points of LAS/LAZ files over a frame in
// the files' own coordinates, as an ESRI ASCII grid; optionally the contour levels drawn from it.
#include "app/Commands.h"
#include "cloud/CloudGrid.h"
#include "cloud/GroundWaterTiles.h"
#include "cloud/LazTileReader.h"
#include "platform/AtomicFile.h"
#include "terrain/ContourRecipe.h"

#include <charconv>
#include <cmath>
#include <iostream>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace veldra;

int usage() {
  std::cerr << "usage: veldra cloud-grid IN... --bbox MINX,MINY,MAXX,MAXY --step S --out GRID.asc [--water]"
               " [--contours INTERVAL]\n";
  return 2;
}

std::optional<double> number(const std::string& s) {
  double v = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), v);
  if (r.ec != std::errc() || r.ptr != s.data() + s.size() || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<Bbox> parseBbox(const std::string& s) {
  double v[4];
  std::size_t start = 0;
  for (int k = 0; k < 4; ++k) {
    const std::size_t comma = k < 3 ? s.find(',', start) : s.size();
    if (comma == std::string::npos) return std::nullopt;
    const auto n = number(s.substr(start, comma - start));
    if (!n) return std::nullopt;
    v[k] = *n;
    start = comma + 1;
  }
  if (!(v[0] < v[2] && v[1] < v[3])) return std::nullopt;
  return Bbox{v[0], v[1], v[2], v[3]};
}

void appendNumber(std::string& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

// Cells as the grid defines them: the lower-left corner of cell (0, 0) at the origin.
std::string asciiGrid(const CloudGrid& g) {
  std::string out = "ncols " + std::to_string(g.nx) + "\nnrows " + std::to_string(g.ny) + "\nxllcorner ";
  appendNumber(out, g.originX);
  out += "\nyllcorner ";
  appendNumber(out, g.originY);
  out += "\ncellsize ";
  appendNumber(out, g.step);
  out += "\nNODATA_value -9999\n";
  for (std::int32_t j = g.ny - 1; j >= 0; --j) {
    for (std::int32_t i = 0; i < g.nx; ++i) {
      if (i) out += ' ';
      const double h = g.height(i, j);
      if (std::isnan(h))
        out += "-9999";
      else
        appendNumber(out, h);
    }
    out += '\n';
  }
  return out;
}

int run(const std::vector<std::string>& args) {
  std::vector<std::string> inputs;
  std::string out;
  std::optional<Bbox> frame;
  std::optional<double> step, interval;
  bool water = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const bool hasValue = i + 1 < args.size();
    if (args[i] == "--out" && hasValue) {
      out = args[++i];
    } else if (args[i] == "--bbox" && hasValue) {
      if (!(frame = parseBbox(args[++i]))) return usage();
    } else if (args[i] == "--step" && hasValue) {
      if (!(step = number(args[++i])) || *step <= 0) return usage();
    } else if (args[i] == "--contours" && hasValue) {
      if (!(interval = number(args[++i])) || *interval <= 0) return usage();
    } else if (args[i] == "--water") {
      water = true;
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::cerr << "cloud-grid: unknown option " << args[i] << "\n";
      return usage();
    } else {
      inputs.push_back(args[i]);
    }
  }
  if (inputs.empty() || out.empty() || !frame || !step) return usage();

  // Every input is checked before any is loaded: a bad one ends the command with its reason.
  for (const std::string& in : inputs) {
    const LazTileReader tile = LazTileReader::open(in);
    if (!tile.ok()) {
      std::cerr << "cloud-grid: " << in << ": " << (tile.error().empty() ? "no points" : tile.error()) << "\n";
      return 1;
    }
  }
  GroundWaterLoader loader(*frame, defaultGroundWaterThreads(inputs.size()));
  for (const std::string& in : inputs) loader.add(LidarTile{}, in);  // no index entry names a system
  const GroundWaterContext gathered = loader.finish();
  const CloudGrid grid = buildCloudGrid(*frame, gathered.ground, *step, gathered.water,
                                        water ? WaterFlattening::On : WaterFlattening::Off);
  if (grid.empty()) {
    std::cerr << "cloud-grid: the frame needs more than " << kCloudGridMaxCellsPerAxis << " cells per axis\n";
    return 1;
  }
  platform::AtomicFile file(out);
  file.append(asciiGrid(grid));
  if (std::string err = file.error().empty() ? file.commit() : file.error(); !err.empty()) {
    std::cerr << "cloud-grid: " << err << "\n";
    return 1;
  }
  std::cout << "ground " << gathered.ground.size() << " water " << gathered.water.size() << " valid "
            << grid.validCells << " watercells " << grid.waterCells << " flat " << grid.flatCells << "\n";
  if (interval) {
    std::string stepNotice;
    const double latticeStep = contourGridStep(*frame, *step, stepNotice);
    ContourRecipe recipe;
    recipe.interval = *interval;
    const ContourSet set =
        buildContours(*frame, latticeStep, [&grid](double x, double y) { return sampleCloudGrid(grid, x, y); }, recipe);
    std::map<double, std::pair<double, int>> levels;  // level -> total length, lines
    for (const Contour& c : set.lines) {
      auto& [length, lines] = levels[c.level];
      ++lines;
      for (std::size_t k = 1; k < c.points.size(); ++k)
        length += std::hypot(c.points[k].x - c.points[k - 1].x, c.points[k].y - c.points[k - 1].y);
    }
    for (const auto& [level, v] : levels) std::cout << "level " << level << " " << v.first << " " << v.second << "\n";
    if (!stepNotice.empty()) std::cout << "notice " << stepNotice << "\n";
    if (!set.message.empty()) std::cout << "notice " << set.message << "\n";
  }
  return 0;
}

const veldra::app::CommandRegistrar reg{"cloud-grid",
                                        "IN... --bbox MINX,MINY,MAXX,MAXY --step S --out GRID.asc [--water] "
                                        "[--contours INTERVAL]  height grid of LiDAR ground points",
                                        &run};

}  // namespace
