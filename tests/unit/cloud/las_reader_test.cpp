#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "LasBuilder.h"
#include "unit/TestSupport.h"
#include "cloud/las/LasReader.h"

namespace veldra::las {
namespace {

using test::LasBuilder;
using test::readAllRecords;

// Reading the point formats of real files is held to their uncompressed twins and to laz-perf in
// the interop test; here headers that must be refused and counts that must not be trusted.
TEST(LasReaderHeader, LegacyCountUsedWhenTheWideOneIsZero) {
  LasBuilder b;
  b.versionMinor = 4;
  b.pointFormat = 1;
  b.recordLength = 28;
  b.pointCount = 5;
  b.points = test::randomRecords(5, 28, 1);
  std::string bytes = b.build();
  LasBuilder::put<uint64_t>(bytes, 247, 0);
  auto r = LasReader::openMemory(bytes);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->pointCount(), 5u);
}

TEST(LasReaderHeader, NoPointsOpensAndEndsAtOnce) {
  LasBuilder b;
  auto r = LasReader::openMemory(b.build());
  ASSERT_TRUE(r);
  uint8_t rec[20];
  EXPECT_FALSE(r->readPoint(rec));
  EXPECT_EQ(r->lastError(), "end of points");
}

struct BadCase {
  const char* name;
  std::string bytes;
  const char* errorPart;
};

std::vector<BadCase> badHeaders() {
  LasBuilder good;
  good.pointCount = 10;
  good.points = test::randomRecords(10, 20, 3);
  const std::string ok = good.build();
  std::vector<BadCase> cases = {{"empty", "", "too short"},
                                {"not LAS", std::string(400, 'A'), "LASF"},
                                {"header cut", ok.substr(0, 100), "too short"},
                                {"records cut", ok.substr(0, ok.size() - 7), "truncated"}};
  const auto built = [&](const char* name, const char* part, auto change) {
    LasBuilder b = good;
    change(b);
    cases.push_back({name, b.build(), part});
  };
  const auto patched = [&](const char* name, const char* part, auto change) {
    std::string s = ok;
    change(s);
    cases.push_back({name, s, part});
  };
  built("10^12 points", "truncated", [](LasBuilder& b) { b.versionMinor = 4; b.pointCount = 1000000000000ull; });
  built("record below 20", "too small", [](LasBuilder& b) { b.recordLength = 19; });
  built("record below format 3 size", "too small", [](LasBuilder& b) { b.pointFormat = 3; b.recordLength = 33; });
  for (int f : {4, 5, 9, 10})
    built("waveform format", "waveform", [f](LasBuilder& b) {
      b.versionMinor = 4;
      b.pointFormat = static_cast<uint8_t>(f);
      b.recordLength = 80;
    });
  built("format 11", "unknown point data format", [](LasBuilder& b) { b.pointFormat = 11; });
  built("compression bit without LASzip VLR", "no LASzip VLR", [](LasBuilder& b) { b.pointFormat = 0x80; });
  patched("version 1.7", "version", [](std::string& s) { s[25] = 7; });
  patched("points offset past end", "offset to point data", [](std::string& s) { LasBuilder::put<uint32_t>(s, 96, 0x7FFFFFFF); });
  patched("header size 100", "header size", [](std::string& s) { LasBuilder::put<uint16_t>(s, 94, 100); });
  // A VLR that claims more than lies before the points.
  LasBuilder withVlr = good;
  withVlr.vlrs.push_back({"x", 1, std::string(10, 'v')});
  std::string s = withVlr.build();
  LasBuilder::put<uint16_t>(s, 227 + 20, 5000);
  cases.push_back({"VLR into points", s, "VLR"});
  return cases;
}

TEST(LasReaderBadInput, EveryMalformedHeaderIsRefusedWithAReason) {
  for (const auto& c : badHeaders()) {
    std::string error;
    auto r = LasReader::openMemory(c.bytes, &error);
    EXPECT_FALSE(r) << c.name;
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.name << ": " << error;
  }
}

TEST(LasReaderBadInput, MissingFileAndDirectoryAreRefused) {
  testing::TempDir dir;
  std::string error;
  EXPECT_FALSE(LasReader::open(dir.file("nope.las"), &error));
  EXPECT_NE(error.find("nie mozna otworzyc"), std::string::npos) << error;
  EXPECT_FALSE(LasReader::open(dir.path().string(), &error));
  EXPECT_FALSE(error.empty());
}

TEST(LasReaderBadInput, OverstatedVlrCountStopsAtThePointData) {
  LasBuilder b;
  b.pointCount = 2;
  b.points = test::randomRecords(2, 20, 9);
  std::string s = b.build();
  LasBuilder::put<uint32_t>(s, 100, 0xFFFFFFFF);
  auto r = LasReader::openMemory(s);
  ASSERT_TRUE(r);
  EXPECT_EQ(readAllRecords(*r), b.points);
}

}  // namespace
}  // namespace veldra::las
