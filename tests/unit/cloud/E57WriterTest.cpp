#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "cloud/Crc32c.h"
#include "cloud/E57Writer.h"
#include "unit/cloud/E57Check.h"
#include "unit/cloud/TempDir.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using test::E57Contents;
using test::readE57Strict;
using test::TempDir;

std::vector<CloudPoint> makePoints(std::size_t n) {
  std::vector<CloudPoint> pts(n);
  for (std::size_t i = 0; i < n; ++i) {
    pts[i].x = 0.1 * double(i) - 3.3;
    pts[i].y = 1000.0 + 0.37 * double(i % 97);
    pts[i].z = 150.123456789 - 0.01 * double(i % 13);
    pts[i].red = uint8_t(i);
    pts[i].green = uint8_t(i * 7);
    pts[i].blue = uint8_t(255 - i % 256);
  }
  return pts;
}

void expectSamePoints(const std::vector<CloudPoint>& in, const E57Contents& c) {
  ASSERT_EQ(c.x.size(), in.size());
  for (std::size_t i = 0; i < in.size(); ++i) {
    ASSERT_EQ(c.x[i], float(in[i].x)) << i;
    ASSERT_EQ(c.y[i], float(in[i].y)) << i;
    ASSERT_EQ(c.z[i], float(in[i].z)) << i;
    ASSERT_EQ(c.red[i], in[i].red) << i;
    ASSERT_EQ(c.green[i], in[i].green) << i;
    ASSERT_EQ(c.blue[i], in[i].blue) << i;
  }
}

TEST(Crc32c, KnownAnswers) {
  EXPECT_EQ(crc32c("123456789", 9), 0xE3069283u);
  EXPECT_EQ(crc32c("", 0), 0u);
  // 32 zero bytes, a published check value; the length also exercises the 8-byte stride and the tail.
  const uint8_t zeros[32] = {};
  EXPECT_EQ(crc32c(zeros, 32), 0x8A9136AAu);
  std::string odd = "The quick brown fox jumps over the lazy dog";
  uint32_t bytewise = 0xFFFFFFFFu;
  for (unsigned char ch : odd) {
    bytewise ^= ch;
    for (int i = 0; i < 8; ++i) bytewise = (bytewise >> 1) ^ (0x82F63B78u & (0u - (bytewise & 1u)));
  }
  EXPECT_EQ(crc32c(odd.data(), odd.size()), ~bytewise);
  EXPECT_EQ(crc32cTable(odd.data(), odd.size()), ~bytewise);
}

TEST(Crc32c, EveryMethodAgreesWithTheTable) {
  std::vector<uint8_t> buf(5200);
  uint32_t s = 1;
  for (auto& b : buf) b = uint8_t((s = s * 1103515245u + 12345u) >> 16);
  // Short tails of every kind, the three-way blocks of the instruction (1008 bytes), the 256-byte
  // start and 64-byte steps of the folding, and lengths on both sides of each.
  const std::size_t lengths[] = {0,   1,   3,   4,   5,   7,   8,    9,    12,   15,   16,   17,   63,   64,  255,
                                 256, 257, 319, 320, 335, 336, 337,  511,  512,  513,  767,  768,  1007, 1008,
                                 1009, 1012, 1020, 1023, 1024, 2015, 2016, 2017, 3024, 3035, 4095, 5100};
  for (Crc32cMethod m : {Crc32cMethod::Instruction, Crc32cMethod::Folding}) {
    if (!crc32cAvailable(m)) continue;
    for (std::size_t start : {0, 1, 3, 7})
      for (std::size_t len : lengths) {
        SCOPED_TRACE(testing::Message() << "method " << int(m) << ", " << start << "+" << len);
        EXPECT_EQ(crc32cBy(m, buf.data() + start, len), crc32cTable(buf.data() + start, len));
      }
    // Runs of equal bytes: a wrongly placed initial value or dropped lane shows up here too.
    for (uint8_t fill : {0x00, 0xFF}) {
      std::vector<uint8_t> same(1020, fill);
      EXPECT_EQ(crc32cBy(m, same.data(), same.size()), crc32cTable(same.data(), same.size()));
    }
  }
  EXPECT_TRUE(crc32cAvailable(Crc32cMethod::Table));
  EXPECT_EQ(crc32cBy(Crc32cMethod::Table, "123456789", 9), 0xE3069283u);
  EXPECT_EQ(crc32cTable("123456789", 9), 0xE3069283u);
}

TEST(E57Writer, NoPointsIsRefusedAndLeavesNoFile) {
  TempDir dir;
  std::string err;
  EXPECT_FALSE(writeE57(dir.file("a.e57"), {}, err));
  EXPECT_EQ(err, "Brak punktow do zapisu.");
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

TEST(E57Writer, OnePoint) {
  TempDir dir;
  std::vector<CloudPoint> pts{{1.5, -2.25, 100.1, 10, 20, 30, 2}};
  std::string err;
  ASSERT_TRUE(writeE57(dir.file("one.e57"), pts, err)) << err;
  E57Contents c;
  ASSERT_EQ(readE57Strict(dir.file("one.e57"), c), "");
  EXPECT_EQ(c.sectionLength, 68u);
  ASSERT_EQ(c.packetPoints, std::vector<std::size_t>{1});
  EXPECT_EQ(c.rowMaximum, 0);
  EXPECT_EQ(c.recordCount, 1);
  for (int a = 0; a < 3; ++a) EXPECT_EQ(c.boundsMin[a], c.boundsMax[a]);
  EXPECT_EQ(c.boundsMin[2], double(float(100.1)));
  expectSamePoints(pts, c);
  // No temporary file stays behind.
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);
}

TEST(E57Writer, PacketBoundaries) {
  TempDir dir;
  for (std::size_t n : {std::size_t(1057), std::size_t(1058), std::size_t(3 * 1057 + 5)}) {
    SCOPED_TRACE(n);
    const auto pts = makePoints(n);
    std::string err;
    ASSERT_TRUE(writeE57(dir.file("p.e57"), pts, err)) << err;
    E57Contents c;
    ASSERT_EQ(readE57Strict(dir.file("p.e57"), c), "");
    std::vector<std::size_t> want(n / 1057, 1057);
    if (n % 1057) want.push_back(n % 1057);
    EXPECT_EQ(c.packetPoints, want);
    EXPECT_EQ(c.rowMaximum, int64_t(n) - 1);
    if (n == 1057) {
      EXPECT_EQ(c.sectionLength, 32u + 15876u);
    }
    expectSamePoints(pts, c);
  }
}

TEST(E57Writer, BoundsAreTheStoredSinglePrecisionValues) {
  TempDir dir;
  // 0.1 is not representable; the bounds must be what a reader gets back, not the doubles.
  std::vector<CloudPoint> pts{{0.1, 5.0, -7.3, 0, 0, 0, 0}, {123456.789, -0.3, 7.3, 255, 255, 255, 0}};
  std::string err;
  ASSERT_TRUE(writeE57(dir.file("b.e57"), pts, err)) << err;
  E57Contents c;
  ASSERT_EQ(readE57Strict(dir.file("b.e57"), c), "");
  EXPECT_EQ(c.boundsMin[0], double(float(0.1)));
  EXPECT_EQ(c.boundsMax[0], double(float(123456.789)));
  EXPECT_EQ(c.boundsMin[1], double(float(-0.3)));
  EXPECT_EQ(c.boundsMax[2], double(float(7.3)));
  EXPECT_NE(c.xml.find("<![CDATA[orvane_cloud]]>"), std::string::npos);
  EXPECT_EQ(c.xml.find('\n'), std::string::npos) << "XML must be written raw";
  EXPECT_EQ(c.xml.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
}

TEST(E57Writer, CoordinatesBeyondSinglePrecisionAreRefused) {
  TempDir dir;
  std::vector<CloudPoint> pts{{1e39, 0, 0, 0, 0, 0, 0}};
  std::string err;
  EXPECT_FALSE(writeE57(dir.file("x.e57"), pts, err));
  EXPECT_FALSE(err.empty());
  pts[0].x = std::nan("");
  EXPECT_FALSE(writeE57(dir.file("x.e57"), pts, err));
  EXPECT_TRUE(fs::is_empty(dir.path()));
}

// Logical length of a file of n points all at (v, 0, 0), from its header.
uint64_t logicalLength(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  uint8_t h[48];
  in.read(reinterpret_cast<char*>(h), 48);
  auto u64 = [&](int off) {
    uint64_t r = 0;
    for (int i = 7; i >= 0; --i) r = (r << 8) | h[off + i];
    return r;
  };
  const uint64_t xmlPhys = u64(24);
  return xmlPhys - (xmlPhys / 1024) * 4 + u64(32);
}

TEST(E57Writer, PagingAtAnExactMultipleOfThePagePayload) {
  TempDir dir;
  // With n between 1001 and 9999 the XML length does not depend on n, so the logical length is
  // that of a 1001-point file plus the growth of the packets. Search for lengths 0 and 1 mod 1020.
  auto packetBytes = [](std::size_t n) {
    auto P = [](std::size_t k) { return (18 + 15 * k + 3) & ~std::size_t(3); };
    return (n / 1057) * P(1057) + (n % 1057 ? P(n % 1057) : 0);
  };
  struct Found { std::size_t n = 0; double v = 0; };
  Found exact, plusOne;
  for (double v : {1.0, 12.0, 123.0, 1234.0}) {
    std::vector<CloudPoint> pts(1001, CloudPoint{v, 0, 0, 1, 2, 3, 0});
    std::string err;
    ASSERT_TRUE(writeE57(dir.file("probe.e57"), pts, err));
    const uint64_t base = logicalLength(dir.file("probe.e57")) - packetBytes(1001);
    for (std::size_t n = 1001; n < 9999 && (!exact.n || !plusOne.n); ++n) {
      const uint64_t len = base + packetBytes(n);
      if (len % 1020 == 0 && !exact.n) exact = {n, v};
      if (len % 1020 == 1 && !plusOne.n) plusOne = {n, v};
    }
  }
  ASSERT_NE(exact.n, 0u);
  ASSERT_NE(plusOne.n, 0u);

  std::string err;
  std::vector<CloudPoint> pts(exact.n, CloudPoint{exact.v, 0, 0, 1, 2, 3, 0});
  ASSERT_TRUE(writeE57(dir.file("exact.e57"), pts, err));
  E57Contents c;
  ASSERT_EQ(readE57Strict(dir.file("exact.e57"), c), "");
  const uint64_t len = logicalLength(dir.file("exact.e57"));
  ASSERT_EQ(len % 1020, 0u);
  EXPECT_EQ(fs::file_size(dir.file("exact.e57")), len / 1020 * 1024);
  EXPECT_EQ(c.lastPagePayload.back(), '>');

  pts.assign(plusOne.n, CloudPoint{plusOne.v, 0, 0, 1, 2, 3, 0});
  ASSERT_TRUE(writeE57(dir.file("plus.e57"), pts, err));
  ASSERT_EQ(readE57Strict(dir.file("plus.e57"), c), "");
  const uint64_t len2 = logicalLength(dir.file("plus.e57"));
  ASSERT_EQ(len2 % 1020, 1u);
  EXPECT_EQ(fs::file_size(dir.file("plus.e57")), (len2 / 1020 + 1) * 1024);
  EXPECT_EQ(c.lastPagePayload[0], '>');
  for (std::size_t i = 1; i < 1020; ++i) ASSERT_EQ(c.lastPagePayload[i], 0) << i;
}

TEST(E57Writer, FailuresLeaveNoPartialFileAndKeepTheOldOne) {
  TempDir dir;
  std::string err;
  EXPECT_FALSE(writeE57(dir.file("missing/sub/a.e57"), makePoints(3), err));
  EXPECT_EQ(err, "Nie mozna zapisac pliku e57.");
  EXPECT_TRUE(fs::is_empty(dir.path()));

  // The target is a folder: the rename fails, the temporary file goes away.
  fs::create_directory(dir.file("taken.e57"));
  fs::create_directory(dir.file("taken.e57/x"));
  err.clear();
  EXPECT_FALSE(writeE57(dir.file("taken.e57"), makePoints(3), err));
  EXPECT_EQ(err, "Nie mozna zapisac pliku e57.");
  EXPECT_FALSE(fs::exists(dir.file("taken.e57.tmp")));

  // A successful write replaces an earlier file completely.
  ASSERT_TRUE(writeE57(dir.file("r.e57"), makePoints(5000), err));
  ASSERT_TRUE(writeE57(dir.file("r.e57"), makePoints(2), err));
  E57Contents c;
  ASSERT_EQ(readE57Strict(dir.file("r.e57"), c), "");
  EXPECT_EQ(c.recordCount, 2);
}

TEST(E57Checker, RejectsADamagedPage) {
  TempDir dir;
  std::string err;
  ASSERT_TRUE(writeE57(dir.file("d.e57"), makePoints(2000), err));
  {
    std::fstream f(dir.file("d.e57"), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(1024 * 5 + 100);
    f.put('\x5a');
  }
  E57Contents c;
  EXPECT_EQ(readE57Strict(dir.file("d.e57"), c), "bad checksum on page 5");
}

}  // namespace
}  // namespace veldra
