#include <gtest/gtest.h>

#include <fstream>
#include <tuple>

#include "LasBuilder.h"
#include "unit/TestSupport.h"
#include "cloud/las/LasReader.h"

namespace veldra::las {
namespace {

using test::LasBuilder;
using test::readAllRecords;

std::string writeFile(const testing::TempDir& dir, const std::string& name, const std::string& bytes) {
  std::string path = dir.file(name);
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

class PlainFormats : public ::testing::TestWithParam<std::tuple<int, int, int>> {};

TEST_P(PlainFormats, RecordsComeBackExactlyFromFileAndMemory) {
  const auto [minor, format, extra] = GetParam();
  LasBuilder b;
  b.versionMinor = static_cast<uint8_t>(minor);
  b.pointFormat = static_cast<uint8_t>(format);
  b.recordLength = static_cast<uint16_t>(minimumRecordLength(static_cast<uint8_t>(format)) + extra);
  b.pointCount = 3001;  // more than one read block for the small formats
  b.legacyCountZero = minor == 4;
  b.points = test::randomRecords(b.pointCount, b.recordLength, 7u * format + minor);
  b.vlrs.push_back({"someone", 1, std::string(40, 'x')});
  const std::string bytes = b.build();

  testing::TempDir dir;
  std::string error;
  auto r = LasReader::open(writeFile(dir, "p.las", bytes), &error);
  ASSERT_TRUE(r) << error;
  const LasHeader& h = r->header();
  EXPECT_EQ(h.versionMajor, 1);
  EXPECT_EQ(h.versionMinor, minor);
  EXPECT_EQ(h.pointFormat, format);
  EXPECT_EQ(h.recordLength, b.recordLength);
  EXPECT_EQ(r->pointCount(), 3001u);
  EXPECT_FALSE(h.compressed);
  EXPECT_EQ(h.systemIdentifier, "veldra test");
  EXPECT_EQ(h.generatingSoftware, "LasBuilder");
  EXPECT_DOUBLE_EQ(h.scale[0], 0.01);
  EXPECT_DOUBLE_EQ(h.offset[1], 600000);
  EXPECT_DOUBLE_EQ(h.maximum[2], 1002);
  EXPECT_DOUBLE_EQ(h.minimum[2], -1002);
  EXPECT_EQ(readAllRecords(*r), b.points);
  EXPECT_EQ(r->lastError(), "end of points");

  auto m = LasReader::openMemory(bytes, &error);
  ASSERT_TRUE(m) << error;
  EXPECT_EQ(readAllRecords(*m), b.points);
}

INSTANTIATE_TEST_SUITE_P(Las, PlainFormats,
                         ::testing::Values(std::make_tuple(0, 0, 0), std::make_tuple(2, 0, 0), std::make_tuple(2, 1, 0),
                                           std::make_tuple(2, 2, 5), std::make_tuple(2, 3, 0), std::make_tuple(3, 3, 1),
                                           std::make_tuple(4, 1, 0), std::make_tuple(4, 6, 0), std::make_tuple(4, 7, 3),
                                           std::make_tuple(4, 8, 0)));

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
  std::vector<BadCase> cases;
  LasBuilder good;
  good.pointCount = 10;
  good.points = test::randomRecords(10, 20, 3);
  const std::string ok = good.build();

  cases.push_back({"empty", "", "too short"});
  cases.push_back({"not LAS", std::string(400, 'A'), "LASF"});
  cases.push_back({"header cut", ok.substr(0, 100), "too short"});
  {
    std::string s = ok;
    s.resize(s.size() - 7);
    cases.push_back({"records cut", s, "truncated"});
  }
  {
    LasBuilder b = good;
    b.versionMinor = 4;
    b.pointCount = 1000000000000ull;
    cases.push_back({"10^12 points", b.build(), "truncated"});
  }
  {
    LasBuilder b = good;
    b.recordLength = 19;
    cases.push_back({"record below 20", b.build(), "too small"});
  }
  {
    LasBuilder b = good;
    b.pointFormat = 3;
    b.recordLength = 33;
    cases.push_back({"record below format 3 size", b.build(), "too small"});
  }
  for (int f : {4, 5, 9, 10}) {
    LasBuilder b = good;
    b.versionMinor = 4;
    b.pointFormat = static_cast<uint8_t>(f);
    b.recordLength = 80;
    cases.push_back({"waveform format", b.build(), "waveform"});
  }
  {
    LasBuilder b = good;
    b.pointFormat = 11;
    cases.push_back({"format 11", b.build(), "unknown point data format"});
  }
  {
    std::string s = ok;
    s[25] = 7;
    cases.push_back({"version 1.7", s, "version"});
  }
  {
    std::string s = ok;
    LasBuilder::put<uint32_t>(s, 96, 0x7FFFFFFF);
    cases.push_back({"points offset past end", s, "offset to point data"});
  }
  {
    std::string s = ok;
    LasBuilder::put<uint16_t>(s, 94, 100);
    cases.push_back({"header size 100", s, "header size"});
  }
  {
    LasBuilder b = good;
    b.vlrs.push_back({"x", 1, std::string(10, 'v')});
    std::string s = b.build();
    LasBuilder::put<uint16_t>(s, 227 + 20, 5000);  // VLR claims more than lies before the points
    cases.push_back({"VLR into points", s, "VLR"});
  }
  {
    LasBuilder b = good;
    b.pointFormat = 0x80;
    cases.push_back({"compression bit without LASzip VLR", b.build(), "no LASzip VLR"});
  }
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
