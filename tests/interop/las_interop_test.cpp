// Our LAS/LAZ reader against ground truth: LAZ files with uncompressed twins, and the laz-perf
// WebAssembly decoder from npm run on the same files in the same test run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include <unistd.h>

#include "cloud/las/LasReader.h"
#include "unit/TestSupport.h"
#include "unit/cloud/LasBuilder.h"

namespace fs = std::filesystem;
using veldra::las::LasHeader;
using veldra::las::LasReader;
using veldra::testing::readText;

namespace {

fs::path lidarDir() { return fs::path(VELDRA_SHARED_DATA) / "lidar"; }

#define REQUIRE_LIDAR()                                                                         \
  if (!fs::exists(lidarDir() / "SOURCES.md"))                                                   \
  GTEST_SKIP() << "sample LiDAR files not present (" << lidarDir().string() << "); skipping"

struct Decoded {
  std::string error;
  LasHeader header;
  std::string records;  // all records back to back
  uint64_t count() const { return header.recordLength ? records.size() / header.recordLength : 0; }
};

Decoded decode(const fs::path& p) {
  Decoded d;
  auto r = LasReader::open(p.string(), &d.error);
  if (!r) return d;
  d.header = r->header();
  d.records = veldra::test::readAllRecords(*r);
  if (r->pointsRead() != r->pointCount()) d.error = "stopped early: " + r->lastError();
  return d;
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
  const LasHeader& h = d.header;
  const bool wide = h.pointFormat >= 6;
  const size_t gpsAt = wide ? 22 : 20;
  const size_t rgbAt = h.pointFormat == 2 ? 20 : (h.pointFormat == 3 ? 28 : 30);
  for (uint64_t i = 0; i < d.count(); ++i) {
    const size_t b = i * h.recordLength;
    int64_t g[3];
    for (int k = 0; k < 3; ++k)
      g[k] = std::llround((at<int32_t>(d.records, b + 4 * k) * h.scale[k] + h.offset[k]) / h.scale[k]);
    const uint8_t cls = wide ? static_cast<uint8_t>(d.records[b + 16]) : static_cast<uint8_t>(d.records[b + 15] & 0x1F);
    const uint64_t gps = withGps ? at<uint64_t>(d.records, b + gpsAt) : 0;
    uint16_t rgb[3] = {};
    if (withRgb)
      for (int k = 0; k < 3; ++k) rgb[k] = at<uint16_t>(d.records, b + rgbAt + 2 * k);
    out.emplace_back(g[0], g[1], g[2], at<uint16_t>(d.records, b + 12), cls, gps, rgb[0], rgb[1], rgb[2]);
  }
  return out;
}

// Twins in the same format and order must match byte for byte; others field by field.
TEST(LasInterop, LazDecodesLikeItsTwin) {
  REQUIRE_LIDAR();
  enum Compare { Records, Fields, FieldsAnyOrder };
  const struct {
    const char *laz, *twin;
    Compare compare;
    bool gps = true, rgb = true;
  } cases[] = {
      {"laz-perf/point10.las.laz", "laz-perf/point10.las", Records},
      {"laz-perf/point-time.las.laz", "laz-perf/point-time.las", Records},
      {"laz-perf/point-color.las.laz", "laz-perf/point-color.las", Records},
      {"laz-perf/point-color-time.las.laz", "laz-perf/point-color-time.las", Records},
      {"laz-perf/point-time-1.4.las.laz", "laz-perf/point-time.las", Records},
      {"laz-perf/extrabytes.laz", "laz-perf/extrabytes.las", Records},
      {"laz-perf/autzen_trim.laz", "laz-perf/autzen_trim.las", Records},
      {"laz-perf/no-points-1.3.laz", "laz-perf/no-points-1.3.las", Records},
      {"laspy/1_4_w_evlr.laz", "laspy/1_4_w_evlr.las", Records},
      {"laz-perf/autzen_trim.laz", "pdal/autzen_trim_7.las", Fields},
      {"laspy/simple.copc.laz", "laspy/simple.las", FieldsAnyOrder},
      {"pdal/lone-star.copc.laz", "pdal/lone-star.laz", FieldsAnyOrder, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.laz);
    Decoded a = decode(lidarDir() / c.laz), b = decode(lidarDir() / c.twin);
    ASSERT_EQ(a.error, "");
    ASSERT_EQ(b.error, "");
    if (c.compare == Records) {
      EXPECT_EQ(a.header.recordLength, b.header.recordLength);
      EXPECT_TRUE(a.records == b.records) << "decoded records differ from the twin";
      continue;
    }
    auto fa = fields(a, c.gps, c.rgb), fb = fields(b, c.gps, c.rgb);
    ASSERT_EQ(fa.size(), fb.size());
    if (c.compare == FieldsAnyOrder) {
      std::sort(fa.begin(), fa.end());
      std::sort(fb.begin(), fb.end());
    }
    EXPECT_TRUE(fa == fb);
  }
}

// Corrupting a real file anywhere must end in a refusal or an early, reported end; garbage in
// the middle of a first chunk, pointwise or layered, always ends it early.
TEST(LasInterop, DamagedRealFilesFailCleanly) {
  REQUIRE_LIDAR();
  std::mt19937 rng(5);
  struct Variant {
    std::string bytes;
    bool mustEndEarly;
  };
  std::vector<Variant> variants;
  for (const char* name : {"laz-perf/autzen_trim.laz", "laszip4j/500m_5460_59370_IM2023_subset.laz"}) {
    const std::string good = readText(lidarDir() / name);
    ASSERT_GT(good.size(), 100000u) << name;
    const size_t from = at<uint32_t>(good, 96) + 8 + at<uint16_t>(good, 105) + 64;  // past the layer sizes
    std::string s = good;
    for (size_t i = from; i < from + 40000; ++i) s[i] = static_cast<char>(rng());
    variants.push_back({s, true});
  }
  // Garbage in the chunk table; one cut off or out of reach is refused at open (next test).
  std::string s = readText(lidarDir() / "laz-perf/autzen_trim.laz");
  for (size_t i = s.size() - 12; i < s.size(); ++i) s[i] = static_cast<char>(rng());
  variants.push_back({s, false});
  for (size_t v = 0; v < variants.size(); ++v) {
    SCOPED_TRACE(v);
    std::string error;
    auto r = LasReader::openMemory(variants[v].bytes, &error);
    if (!r) {
      EXPECT_FALSE(variants[v].mustEndEarly);
      EXPECT_FALSE(error.empty());
      continue;
    }
    std::vector<uint8_t> rec(r->header().recordLength);
    uint64_t n = 0;
    while (r->readPoint(rec.data())) ++n;
    EXPECT_LE(n, r->pointCount());
    if (variants[v].mustEndEarly) {
      EXPECT_LT(n, r->pointCount());
    }
    if (n < r->pointCount()) {
      EXPECT_FALSE(r->lastError().empty());
      EXPECT_FALSE(r->readPoint(rec.data())) << "stays failed";
    }
  }
}

template <typename T>
void put(std::string& s, size_t off, T v) {
  std::memcpy(s.data() + off, &v, sizeof v);
}

// Offset of the LASzip VLR payload (its header names the record "laszip encoded").
size_t laszipPayload(const std::string& file) {
  const size_t name = file.find("laszip encoded");
  return name == std::string::npos ? 0 : name - 2 + 54;
}

// Offset of the first LASzip item of `type` in that payload.
size_t laszipItem(const std::string& file, uint16_t type) {
  const size_t vlr = laszipPayload(file);
  for (size_t i = 0; i < at<uint16_t>(file, vlr + 32); ++i)
    if (at<uint16_t>(file, vlr + 34 + 6 * i) == type) return vlr + 34 + 6 * i;
  return 0;
}

TEST(LasInterop, DamagedOrUnsupportedLazIsRefusedWithAReason) {
  REQUIRE_LIDAR();
  const std::string good = readText(lidarDir() / "laz-perf/autzen_trim.laz");  // 1.2, format 3
  const std::string wide = readText(lidarDir() / "laspy/1_4_w_evlr.laz");       // 1.4, format 6
  const std::string extra = readText(lidarDir() / "laz-perf/extrabytes.laz");   // format 3 + bytes
  const size_t vlr = laszipPayload(good), pointsAt = at<uint32_t>(good, 96);
  ASSERT_GT(vlr, 0u);
  const auto tableAt = static_cast<size_t>(at<int64_t>(good, pointsAt));
  struct Case {
    const char* name;
    std::string bytes;
    const char* errorPart;  // empty: any reason will do
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, const char* errorPart, const std::string& from, auto mutate) {
    std::string s = from;
    mutate(s);
    cases.push_back({name, s, errorPart});
  };
  with("wave packet item", "not supported", good, [&](std::string& s) { put<uint16_t>(s, laszipItem(s, 7), 9); });
  with("unknown item type", "not supported", good, [&](std::string& s) { put<uint16_t>(s, laszipItem(s, 8), 99); });
  with("POINT10 version 1", "version 1", good, [&](std::string& s) { put<uint16_t>(s, laszipItem(s, 6) + 4, 1); });
  with("GPSTIME11 of size 9", "cover", good, [&](std::string& s) { put<uint16_t>(s, laszipItem(s, 7) + 2, 9); });
  with("compressor 1", "compressor 1", good, [&](std::string& s) { put<uint16_t>(s, vlr, 1); });
  with("coder 1", "coder", good, [&](std::string& s) { put<uint16_t>(s, vlr + 2, 1); });
  with("chunk size 0", "chunk size 0", good, [&](std::string& s) { put<uint32_t>(s, vlr + 12, 0); });
  with("offset past the end", "", good, [&](std::string& s) { put<int64_t>(s, pointsAt, 1ll << 40); });
  with("offset into the header", "", good, [&](std::string& s) { put<int64_t>(s, pointsAt, 100); });
  with("negative offset", "", good, [&](std::string& s) { put<int64_t>(s, pointsAt, -7); });
  with("end marker without offset", "", good, [&](std::string& s) { put<int64_t>(s, pointsAt, -1); });
  with("table version 1", "", good, [&](std::string& s) { put<uint32_t>(s, tableAt, 1); });
  with("two billion chunks", "", good, [&](std::string& s) { put<uint32_t>(s, tableAt + 4, 0x7FFFFFFF); });
  with("fewer chunks than points", "", good, [&](std::string& s) { put<uint32_t>(s, tableAt + 4, 1); });
  with("table cut off", "", good, [&](std::string& s) { s.resize(tableAt + 9); });
  with("file cut in the points", "", good, [&](std::string& s) { s.resize(pointsAt + 3000); });
  with("four billion points announced", "", good, [&](std::string& s) { put<uint32_t>(s, 107, 0xFFFFFFFF); });
  with("10^12 points in LAS 1.4", "points", wide, [&](std::string& s) { put<uint64_t>(s, 247, 1000000000000ull); });
  with("items do not cover the record", "cover", good, [&](std::string& s) { put<uint16_t>(s, 105, 38); });
  with("oversized extra bytes item", "extra bytes", extra, [&](std::string& s) {
    put<uint16_t>(s, laszipItem(s, 0) + 2, 3000);
    put<uint16_t>(s, 105, 34 + 3000);
  });
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(LasReader::openMemory(c.bytes, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.name << ": " << error;
  }
}

// A layered chunk whose point count is not the table's, or whose first layer is larger than the
// chunk, fails on the first point.
TEST(LasInterop, LayeredChunkWithWrongCountOrOversizedLayerFails) {
  REQUIRE_LIDAR();
  const std::string good = readText(lidarDir() / "laszip4j/record-format-7.laz");
  const size_t countAt = at<uint32_t>(good, 96) + 8 + at<uint16_t>(good, 105);
  for (auto [off, value, errorPart] : {std::tuple{countAt, 61u, "chunk"}, std::tuple{countAt + 4, 0x7FFFFFFFu, "layer"}}) {
    std::string s = good;
    put<uint32_t>(s, off, value);
    auto r = LasReader::openMemory(s);
    ASSERT_TRUE(r);
    std::vector<uint8_t> rec(r->header().recordLength);
    EXPECT_FALSE(r->readPoint(rec.data()));
    EXPECT_NE(r->lastError().find(errorPart), std::string::npos) << r->lastError();
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
    const std::string theirs = readText(out);
    EXPECT_TRUE(ours.records == theirs) << "records differ from laz-perf: " << ours.records.size() << " bytes, theirs "
                                        << theirs.size();
    ++compared;
  }
  fs::remove_all(tmp);
  EXPECT_GE(compared, 15);
}

}  // namespace
