// Our LAS/LAZ reader against ground truth: LAZ files with uncompressed twins, and the laz-perf
// WebAssembly decoder from npm run on the same files in the same test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "cloud/las/LasReader.h"

namespace fs = std::filesystem;
using veldra::las::LasReader;

namespace {

fs::path lidarDir() { return fs::path(VELDRA_SHARED_DATA) / "lidar"; }

#define REQUIRE_LIDAR()                                                                         \
  if (!fs::exists(lidarDir() / "SOURCES.md"))                                                   \
  GTEST_SKIP() << "sample LiDAR files not present (" << lidarDir().string() << "); skipping"

struct Decoded {
  std::string error;
  uint8_t format = 0;
  uint16_t recordLength = 0;
  double scale[3] = {}, offset[3] = {};
  std::string records;  // all records back to back
  uint64_t count() const { return recordLength ? records.size() / recordLength : 0; }
};

Decoded decode(const fs::path& p) {
  Decoded d;
  auto r = LasReader::open(p.string(), &d.error);
  if (!r) return d;
  d.format = r->header().pointFormat;
  d.recordLength = r->header().recordLength;
  for (int i = 0; i < 3; ++i) {
    d.scale[i] = r->header().scale[i];
    d.offset[i] = r->header().offset[i];
  }
  std::vector<uint8_t> rec(d.recordLength);
  d.records.reserve(static_cast<size_t>(r->pointCount()) * d.recordLength);
  while (r->readPoint(rec.data())) d.records.append(reinterpret_cast<const char*>(rec.data()), rec.size());
  if (r->pointsRead() != r->pointCount()) d.error = "stopped early: " + r->lastError();
  return d;
}

std::string readFile(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <typename T>
T at(const std::string& s, size_t off) {
  T v;
  std::memcpy(&v, s.data() + off, sizeof v);
  return v;
}

// The attributes shared by all point formats, with coordinates on the scale grid in world
// units so that files with different offsets compare.
using Fields = std::tuple<int64_t, int64_t, int64_t, uint16_t, uint8_t, uint64_t, uint16_t, uint16_t, uint16_t>;

std::vector<Fields> fields(const Decoded& d, bool withGps, bool withRgb) {
  std::vector<Fields> out;
  const bool wide = d.format >= 6;
  const size_t gpsAt = wide ? 22 : 20;
  const size_t rgbAt = d.format == 2 ? 20 : (d.format == 3 ? 28 : 30);
  for (uint64_t i = 0; i < d.count(); ++i) {
    const size_t b = i * d.recordLength;
    int64_t g[3];
    for (int k = 0; k < 3; ++k)
      g[k] = std::llround((at<int32_t>(d.records, b + 4 * k) * d.scale[k] + d.offset[k]) / d.scale[k]);
    const uint8_t cls = wide ? static_cast<uint8_t>(d.records[b + 16]) : static_cast<uint8_t>(d.records[b + 15] & 0x1F);
    const uint64_t gps = withGps ? at<uint64_t>(d.records, b + gpsAt) : 0;
    uint16_t rgb[3] = {};
    if (withRgb)
      for (int k = 0; k < 3; ++k) rgb[k] = at<uint16_t>(d.records, b + rgbAt + 2 * k);
    out.emplace_back(g[0], g[1], g[2], at<uint16_t>(d.records, b + 12), cls, gps, rgb[0], rgb[1], rgb[2]);
  }
  return out;
}

TEST(LasInterop, LazDecodesToTheRecordsOfItsUncompressedTwin) {
  REQUIRE_LIDAR();
  const std::vector<std::pair<const char*, const char*>> twins = {
      {"laz-perf/point10.las.laz", "laz-perf/point10.las"},
      {"laz-perf/point-time.las.laz", "laz-perf/point-time.las"},
      {"laz-perf/point-color.las.laz", "laz-perf/point-color.las"},
      {"laz-perf/point-color-time.las.laz", "laz-perf/point-color-time.las"},
      {"laz-perf/point-time-1.4.las.laz", "laz-perf/point-time.las"},
      {"laz-perf/extrabytes.laz", "laz-perf/extrabytes.las"},
      {"laz-perf/autzen_trim.laz", "laz-perf/autzen_trim.las"},
      {"laz-perf/no-points-1.3.laz", "laz-perf/no-points-1.3.las"},
      {"laspy/1_4_w_evlr.laz", "laspy/1_4_w_evlr.las"},
  };
  for (const auto& [laz, las] : twins) {
    SCOPED_TRACE(laz);
    Decoded a = decode(lidarDir() / laz), b = decode(lidarDir() / las);
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(b.error, "");
    EXPECT_EQ(a.recordLength, b.recordLength);
    EXPECT_EQ(a.count(), b.count());
    EXPECT_TRUE(a.records == b.records) << "decoded records differ from the twin";
  }
}

TEST(LasInterop, LazDecodesToTheSameFieldsAsTwinsInOtherFormatsAndOrder) {
  REQUIRE_LIDAR();
  struct Case {
    const char *laz, *twin;
    bool sameOrder, gps, rgb;
  };
  const Case cases[] = {
      {"laz-perf/autzen_trim.laz", "pdal/autzen_trim_7.las", true, true, true},
      {"laspy/simple.copc.laz", "laspy/simple.las", false, true, true},
      {"pdal/lone-star.copc.laz", "pdal/lone-star.laz", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.laz);
    Decoded a = decode(lidarDir() / c.laz), b = decode(lidarDir() / c.twin);
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(b.error, "");
    auto fa = fields(a, c.gps, c.rgb), fb = fields(b, c.gps, c.rgb);
    ASSERT_EQ(fa.size(), fb.size());
    if (!c.sameOrder) {
      std::sort(fa.begin(), fa.end());
      std::sort(fb.begin(), fb.end());
    }
    EXPECT_TRUE(fa == fb);
  }
}

TEST(LasInterop, WaveformFileIsRefused) {
  REQUIRE_LIDAR();
  std::string error;
  EXPECT_FALSE(LasReader::open((lidarDir() / "laspy/fullwave.laz").string(), &error));
  EXPECT_NE(error.find("waveform"), std::string::npos) << error;
}

// Corrupting a real file anywhere must end in a refusal or an early, reported end.
TEST(LasInterop, DamagedRealFilesFailCleanly) {
  REQUIRE_LIDAR();
  const std::string good = readFile(lidarDir() / "laz-perf/autzen_trim.laz");
  ASSERT_GT(good.size(), 10000u);
  std::mt19937 rng(5);
  std::vector<std::string> variants;
  variants.push_back(good.substr(0, good.size() / 2));       // chunk table gone
  variants.push_back(good.substr(0, good.size() - 3));       // chunk table cut
  {
    std::string s = good;  // a chunk of garbage in the middle of the first chunk
    for (size_t i = 2000; i < 60000; ++i) s[i] = static_cast<char>(rng());
    variants.push_back(s);
  }
  {
    std::string s = good;  // garbage in the chunk table
    for (size_t i = s.size() - 12; i < s.size(); ++i) s[i] = static_cast<char>(rng());
    variants.push_back(s);
  }
  for (size_t v = 0; v < variants.size(); ++v) {
    SCOPED_TRACE(v);
    std::string error;
    auto r = LasReader::openMemory(variants[v], &error);
    if (!r) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    std::vector<uint8_t> rec(r->header().recordLength);
    uint64_t n = 0;
    while (r->readPoint(rec.data())) ++n;
    EXPECT_LE(n, r->pointCount());
    if (n < r->pointCount()) {
      EXPECT_FALSE(r->lastError().empty());
    }
  }
}

// ---- laz-perf 0.0.7 (WebAssembly) ----

fs::path nodeDir() { return fs::path(VELDRA_NODE_DIR); }

TEST(LasInterop, EveryLazDecodesLikeLazPerf) {
  REQUIRE_LIDAR();
  if (!fs::exists(nodeDir() / "node_modules/laz-perf/package.json"))
    GTEST_SKIP() << "laz-perf not installed: run `npm ci` in " << nodeDir().string();
  if (std::system("node --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "node not on PATH";
  const fs::path tmp = fs::temp_directory_path() / ("veldra_lazperf_" + std::to_string(::getpid()));
  fs::create_directories(tmp);
  int compared = 0;
  for (const auto& entry : fs::recursive_directory_iterator(lidarDir())) {
    if (entry.path().extension() != ".laz" || entry.path().filename() == "fullwave.laz") continue;
    SCOPED_TRACE(entry.path().string());
    const fs::path out = tmp / "points.bin";
    const std::string cmd = "node '" + (nodeDir() / "lazperf_dump.js").string() + "' '" + entry.path().string() +
                            "' '" + out.string() + "' > /dev/null";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    Decoded ours = decode(entry.path());
    ASSERT_EQ(ours.error, "");
    const std::string theirs = readFile(out);
    EXPECT_EQ(ours.records.size(), theirs.size());
    EXPECT_TRUE(ours.records == theirs) << "records differ from laz-perf";
    ++compared;
  }
  fs::remove_all(tmp);
  EXPECT_GE(compared, 15);
}

}  // namespace
