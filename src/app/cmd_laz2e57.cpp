// laz2e57: every point of some LAS/LAZ files as one E57 file, relative to the minimum corner of their bounds.
#include "app/Commands.h"
#include "cloud/E57Writer.h"
#include "cloud/LazTileReader.h"
#include "cloud/las/LasReader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <limits>
#include <string>
#include <vector>

namespace {

using namespace veldra;

int usage() {
  std::cerr << "usage: veldra laz2e57 IN... --out OUT.e57 [--voxel S]\n";
  return 2;
}

bool parseVoxel(const std::string& s, double& out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && std::isfinite(out) && out >= 0;
}

int run(const std::vector<std::string>& args) {
  std::vector<std::string> inputs;
  std::string out;
  double voxel = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--out") {
      if (i + 1 >= args.size()) return usage();
      out = args[++i];
    } else if (args[i] == "--voxel") {
      if (i + 1 >= args.size() || !parseVoxel(args[i + 1], voxel)) {
        std::cerr << "laz2e57: --voxel needs a size in metres of at least 0\n";
        return usage();
      }
      ++i;
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::cerr << "laz2e57: unknown option " << args[i] << "\n";
      return usage();
    } else {
      inputs.push_back(args[i]);
    }
  }
  if (inputs.empty() || out.empty()) return usage();

  // The union of the header bounds gives the origin; every input must open before anything is read.
  double lo[3], hi[3];
  for (int a = 0; a < 3; ++a) {
    lo[a] = std::numeric_limits<double>::infinity();
    hi[a] = -std::numeric_limits<double>::infinity();
  }
  for (const std::string& in : inputs) {
    LazTileReader tile = LazTileReader::open(in);
    if (!tile.lasReader() || (!tile.ok() && !tile.error().empty())) {
      std::cerr << "laz2e57: cannot read " << in << ": " << tile.error() << "\n";
      return 1;
    }
    if (!tile.ok()) continue;  // no points
    const las::LasHeader& h = tile.lasReader()->header();
    for (int a = 0; a < 3; ++a) {
      if (!std::isfinite(h.minimum[a]) || !std::isfinite(h.maximum[a]) || h.minimum[a] > h.maximum[a]) {
        std::cerr << "laz2e57: " << in << ": the header's bounds are not usable\n";
        return 1;
      }
      lo[a] = std::min(lo[a], h.minimum[a]);
      hi[a] = std::max(hi[a], h.maximum[a]);
    }
  }
  if (!std::isfinite(lo[0])) {
    std::cerr << "laz2e57: the input files hold no points\n";
    return 1;
  }

  const double inf = std::numeric_limits<double>::infinity();
  CloudAccumulator acc(Bbox{-inf, -inf, inf, inf}, 0, voxel);
  acc.setOrigin(lo[0], lo[1], lo[2]);
  try {
    for (const std::string& in : inputs) {
      LazTileReader tile = LazTileReader::open(in);
      if (!tile.ok()) continue;
      feedAccumulator(tile, 0, acc);
      const las::LasReader* las = tile.lasReader();
      if (las && las->pointsRead() < uint64_t(tile.pointCount())) {
        std::cerr << "laz2e57: " << in << ": decoding stopped after " << las->pointsRead() << " of "
                  << tile.pointCount() << " points: " << las->lastError() << "\n";
        return 1;
      }
    }
  } catch (const HardLimitExceeded&) {
    std::cerr << "laz2e57: more than " << kCloudPointLimit << " points; thin them with --voxel\n";
    return 1;
  }

  std::string error;
  if (!writeE57(out, acc.points(), error)) {
    std::cerr << "laz2e57: " << out << ": " << error << "\n";
    return 1;
  }
  char origin[128];
  std::snprintf(origin, sizeof origin, "%.3f %.3f %.3f", lo[0], lo[1], lo[2]);
  std::cout << "wrote " << acc.points().size() << " points to " << out << " (origin " << origin << ")\n";
  return 0;
}

const veldra::app::CommandRegistrar reg{
    "laz2e57", "IN... --out OUT.e57 [--voxel S]  points of LAS/LAZ files as one E57 file, relative to their minimum corner",
    &run};

}  // namespace
