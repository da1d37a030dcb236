// lazinfo: header facts of a LAS/LAZ file and its first points as the point-cloud loaders see them.
#include "app/Commands.h"
#include "cloud/LazTileReader.h"
#include "cloud/las/LasReader.h"

#include <charconv>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

namespace {

using namespace veldra;

// Shortest text that reads back to the same double, never in exponent form.
std::string num(double v) {
  char buf[400];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
  return r.ec == std::errc() ? std::string(buf, r.ptr) : std::to_string(v);
}

bool parseCount(const std::string& s, int64_t& out) {
  const auto r = std::from_chars(s.data(), s.data() + s.size(), out);
  return r.ec == std::errc() && r.ptr == s.data() + s.size() && out >= 0;
}

int usage() {
  std::cerr << "usage: veldra lazinfo FILE [--points N]\n";
  return 2;
}

int run(const std::vector<std::string>& args) {
  std::string path;
  int64_t wanted = 0;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--points") {
      if (i + 1 >= args.size() || !parseCount(args[i + 1], wanted)) {
        std::cerr << "lazinfo: --points needs a whole number of at least 0\n";
        return usage();
      }
      ++i;
    } else if (!args[i].empty() && args[i][0] == '-') {
      std::cerr << "lazinfo: unknown option " << args[i] << "\n";
      return usage();
    } else if (path.empty()) {
      path = args[i];
    } else {
      std::cerr << "lazinfo: only one file at a time\n";
      return usage();
    }
  }
  if (path.empty()) return usage();

  LazTileReader tile = LazTileReader::open(path);
  const las::LasReader* las = tile.lasReader();
  if (!las) {
    std::cerr << "lazinfo: cannot read " << path << ": " << tile.error() << "\n";
    return 1;
  }
  const las::LasHeader& h = las->header();
  std::cout << "file: " << path << "\n"
            << "version: " << int(h.versionMajor) << "." << int(h.versionMinor) << "\n"
            << "point format: " << int(h.pointFormat) << "\n"
            << "record length: " << h.recordLength << "\n"
            << "point count: " << h.pointCount << "\n"
            << "scale: " << num(h.scale[0]) << " " << num(h.scale[1]) << " " << num(h.scale[2]) << "\n"
            << "offset: " << num(h.offset[0]) << " " << num(h.offset[1]) << " " << num(h.offset[2]) << "\n"
            << "min: " << num(h.minimum[0]) << " " << num(h.minimum[1]) << " " << num(h.minimum[2]) << "\n"
            << "max: " << num(h.maximum[0]) << " " << num(h.maximum[1]) << " " << num(h.maximum[2]) << "\n"
            << "compressed: " << (h.compressed ? "yes" : "no") << "\n";
  if (!tile.ok()) {
    if (!tile.error().empty()) {
      std::cerr << "lazinfo: " << path << ": " << tile.error() << "\n";
      return 1;
    }
    return 0;  // no points
  }
  if (wanted == 0) return 0;
  std::cout << "points (x y z red green blue class):\n";
  const int64_t n = std::min(wanted, tile.pointCount());
  CloudPoint p;
  for (int64_t i = 0; i < n; ++i) {
    if (!readCloudPoint(tile, p)) {
      std::cout.flush();
      std::cerr << "lazinfo: " << path << ": point " << i << " could not be decoded: " << las->lastError() << "\n";
      return 1;
    }
    std::cout << num(p.x) << " " << num(p.y) << " " << num(p.z) << " " << int(p.red) << " " << int(p.green) << " "
              << int(p.blue) << " " << int(p.classification) << "\n";
  }
  return 0;
}

const veldra::app::CommandRegistrar reg{"lazinfo", "FILE [--points N]  header facts of a LAS/LAZ file and its first N points",
                                        &run};

}  // namespace
