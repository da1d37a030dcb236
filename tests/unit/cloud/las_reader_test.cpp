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

// Signature, version, header size, point offset, format, record length, VLRs, cut records,
// missing files and folders are refused in the black-box bad-input test; here what it does not reach.
TEST(LasReaderBadInput, EveryMalformedHeaderIsRefusedWithAReason) {
  LasBuilder good;
  good.pointCount = 10;
  good.points = test::randomRecords(10, 20, 3);
  const auto refused = [](const char* name, const std::string& bytes, const char* part) {
    std::string error;
    EXPECT_FALSE(LasReader::openMemory(bytes, &error)) << name;
    EXPECT_NE(error.find(part), std::string::npos) << name << ": " << error;
  };
  const auto built = [&](const char* name, const char* part, auto change) {
    LasBuilder b = good;
    change(b);
    refused(name, b.build(), part);
  };
  built("10^12 points", "truncated", [](LasBuilder& b) { b.versionMinor = 4; b.pointCount = 1000000000000ull; });
  built("record below format 3 size", "too small", [](LasBuilder& b) { b.pointFormat = 3; b.recordLength = 33; });
  built("compression bit without LASzip VLR", "no LASzip VLR", [](LasBuilder& b) { b.pointFormat = 0x80; });
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
