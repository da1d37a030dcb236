// The E57 writer: pages, XML and bounds of what it writes (the points are read back by an
// independent reader in the interop test), paging edge cases, refusals and failed writes.
// The E57 reader on files the writer produced: the points come back, thinning keeps its bound,
// and damaged files end in an error, never in a crash or in points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include <pugixml.hpp>

#include "cloud/Crc32c.h"
#include "cloud/E57Reader.h"
#include "cloud/E57Writer.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;

// Values that exercise signs, magnitudes far from the origin and every colour byte.
std::vector<CloudPoint> lcgPoints(std::size_t n, uint64_t seed) {
  std::vector<CloudPoint> pts(n);
  uint64_t s = seed;
  for (auto& p : pts) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    p.x = double(int64_t(s >> 40) - (1 << 23)) * 1e-3;
    p.y = 5.5e6 + double((s >> 16) & 0xFFFFFF) * 1e-4;
    p.z = -20.0 + double(s & 0xFFFF) * 1e-2;
    p.red = uint8_t(s >> 8);
    p.green = uint8_t(s >> 19);
    p.blue = uint8_t(s >> 33);
    p.classification = uint8_t(s >> 50);
  }
  return pts;
}

// What the tests read back from a written file: every page's checksum is verified; the points
// themselves are read back by an independent reader in the interop test.
struct E57Contents {
  std::string xml;
  std::vector<uint8_t> lastPagePayload;  // the 1020 logical bytes of the last page
  uint64_t logicalLength = 0;   // of the whole file, from its header
  int64_t recordCount = -1, rowMaximum = -1;
  double boundsMin[3] = {}, boundsMax[3] = {};
};

std::string readE57(const std::string& path, E57Contents& out) {
  const std::string file = testing::readText(path);
  if (file.empty() || file.size() % 1024) return "not whole pages";
  std::string logical;
  for (std::size_t pg = 0; pg < file.size() / 1024; ++pg) {
    const auto* p = reinterpret_cast<const uint8_t*>(file.data()) + pg * 1024;
    if (crc32cTable(p, 1020) != (uint32_t(p[1020]) << 24 | uint32_t(p[1021]) << 16 | uint32_t(p[1022]) << 8 | p[1023]))
      return "bad checksum on page " + std::to_string(pg);
    logical.append(reinterpret_cast<const char*>(p), 1020);
  }
  out.lastPagePayload.assign(logical.end() - 1020, logical.end());
  uint64_t xmlAt = 0, xmlLength = 0;
  std::memcpy(&xmlAt, logical.data() + 24, 8);
  std::memcpy(&xmlLength, logical.data() + 32, 8);
  out.xml = logical.substr(xmlAt - xmlAt / 1024 * 4, xmlLength);
  out.logicalLength = xmlAt - xmlAt / 1024 * 4 + xmlLength;
  pugi::xml_document doc;
  if (!doc.load_string(out.xml.c_str())) return "XML does not parse";
  const pugi::xml_node scan = doc.child("e57Root").child("data3D").child("vectorChild");
  out.recordCount = scan.child("points").attribute("recordCount").as_llong(-1);
  out.rowMaximum = scan.child("indexBounds").child("rowMaximum").text().as_llong(-1);
  for (int a = 0; a < 3; ++a) {
    const std::string axis(1, char('x' + a));
    out.boundsMin[a] = scan.child("cartesianBounds").child((axis + "Minimum").c_str()).text().as_double(NAN);
    out.boundsMax[a] = scan.child("cartesianBounds").child((axis + "Maximum").c_str()).text().as_double(NAN);
  }
  return {};
}

// Writes the points to `path` and reads the file back; a failed write or read fails the test.
E57Contents writtenAndRead(const std::string& path, const std::vector<CloudPoint>& pts) {
  std::string err;
  E57Contents c;
  EXPECT_TRUE(writeE57(path, pts, err)) << err;
  EXPECT_EQ(readE57(path, c), "");
  return c;
}

TEST(Crc32c, KnownAnswers) {
  EXPECT_EQ(crc32c("123456789", 9), 0xE3069283u);
  EXPECT_EQ(crc32c("", 0), 0u);
  // 32 zero bytes, a published check value; the length also exercises the 8-byte stride and the tail.
  const uint8_t zeros[32] = {};
  EXPECT_EQ(crc32c(zeros, 32), 0x8A9136AAu);
  EXPECT_EQ(crc32cTable("123456789", 9), 0xE3069283u);
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
        SCOPED_TRACE(::testing::Message() << "method " << int(m) << ", " << start << "+" << len);
        EXPECT_EQ(crc32cBy(m, buf.data() + start, len), crc32cTable(buf.data() + start, len));
      }
  }
}

TEST(E57Writer, TheXmlDescribesThePointsAndNoTemporaryFileStays) {
  TempDir dir;
  // Packet fills around one and several packets, every remainder mod 4 (packet padding), and
  // counts whose streams cross page boundaries at different phases, and a file of several output
  // blocks (written by the writer thread).
  for (std::size_t n : {1, 2, 3, 4, 5, 67, 68, 69, 1056, 1057, 1058, 2113, 2114, 2115, 4229, 9000, 100000}) {
    SCOPED_TRACE(n);
    const E57Contents c = writtenAndRead(dir.file("r.e57"), lcgPoints(n, n));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

    // The bounds, against the points an independent reader finds, are the interop test's.
    EXPECT_EQ(c.recordCount, int64_t(n));
    EXPECT_EQ(c.rowMaximum, int64_t(n) - 1);
  }
}

TEST(E57Writer, ZeroBoundsInTheFileKeepTheirSign) {
  TempDir dir;
  std::vector<CloudPoint> pts(40, CloudPoint{3, -3, 1, 0, 0, 0, 0});
  pts[5].x = -0.0;  // first zero: the x minimum is -0
  pts[22].x = 0.0;
  pts[9].y = 0.0;  // first zero: the y maximum is +0
  pts[30].y = -0.0;
  const E57Contents c = writtenAndRead(dir.file("z.e57"), pts);
  // -0 == +0: the sign is compared on its own.
  EXPECT_EQ(std::pair(c.boundsMin[0], std::signbit(c.boundsMin[0])), std::pair(0.0, true));
  EXPECT_EQ(std::pair(c.boundsMax[1], std::signbit(c.boundsMax[1])), std::pair(0.0, false));
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
    const E57Contents probe = writtenAndRead(dir.file("probe.e57"), std::vector(1001, CloudPoint{v, 0, 0, 1, 2, 3, 0}));
    ASSERT_FALSE(HasFailure());
    const uint64_t base = probe.logicalLength - packetBytes(1001);
    for (std::size_t n = 1001; n < 9999 && (!exact.n || !plusOne.n); ++n) {
      const uint64_t len = base + packetBytes(n);
      if (len % 1020 == 0 && !exact.n) exact = {n, v};
      if (len % 1020 == 1 && !plusOne.n) plusOne = {n, v};
    }
  }
  ASSERT_NE(exact.n, 0u);
  ASSERT_NE(plusOne.n, 0u);

  // The XML's closing '>' ends the last page, or stands alone at its start followed by zeros.
  for (const auto& [found, rest] : {std::pair{exact, 0u}, std::pair{plusOne, 1u}}) {
    const E57Contents c = writtenAndRead(dir.file("p.e57"), std::vector(found.n, CloudPoint{found.v, 0, 0, 1, 2, 3, 0}));
    ASSERT_FALSE(HasFailure());
    ASSERT_EQ(c.logicalLength % 1020, rest);
    EXPECT_EQ(fs::file_size(dir.file("p.e57")), (c.logicalLength + 1019) / 1020 * 1024);
    EXPECT_EQ(rest ? c.lastPagePayload[0] : c.lastPagePayload.back(), '>');
    for (std::size_t i = 1; rest && i < 1020; ++i) ASSERT_EQ(c.lastPagePayload[i], 0) << i;
  }
}

// No points and a target in a missing folder: the black-box laz2e57 tests. Replacing a file
// whole and concurrent writers are the atomic writer's own tests (platform).
TEST(E57Writer, RefusalsAndFailuresLeaveNoPartialFileAndKeepTheOldOne) {
  TempDir dir;
  std::string err;
  for (double bad : {1e39, std::nan("")}) {   // not representable in the file's single precision
    err.clear();
    EXPECT_FALSE(writeE57(dir.file("x.e57"), {CloudPoint{bad, 0, 0, 0, 0, 0, 0}}, err));
    EXPECT_FALSE(err.empty());
  }
  EXPECT_TRUE(fs::is_empty(dir.path()));
  // A failed write in the first output block, a later block, and the last few pages.
  const auto pts = lcgPoints(600000, 3);  // about 9 MB
  for (rlim_t limit : {rlim_t(200000), rlim_t(4000000), rlim_t(9000000)}) {
    SCOPED_TRACE(limit);
    err.clear();
    bool written;
    {
      testing::FileSizeLimit cap(limit);
      ASSERT_TRUE(cap.ok());
      written = writeE57(dir.file("big.e57"), pts, err);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(err, "Nie mozna zapisac pliku e57.");
    EXPECT_TRUE(fs::is_empty(dir.path()));
  }
}

// ---- field streams: the wide-register version against the point-by-point one ----

struct Packed {
  std::vector<uint8_t> bytes;
  e57detail::Extent extent;
};

// The points in packets of `packet`, as the writer feeds them, through one version.
Packed pack(const std::vector<CloudPoint>& pts, std::size_t packet, bool vector) {
  Packed r;
  r.bytes.assign(15 * pts.size() + 64, 0xEE);
  std::size_t at = 0;
  for (std::size_t first = 0; first < pts.size(); first += packet) {
    const std::size_t k = std::min(packet, pts.size() - first);
    e57detail::packStreams(pts.data() + first, k, r.bytes.data() + at, r.extent, vector);
    at += 15 * k;
  }
  return r;
}

uint32_t bitsOf(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

void expectSamePacking(const std::vector<CloudPoint>& pts, std::size_t packet) {
  const Packed wide = pack(pts, packet, true), plain = pack(pts, packet, false);
  EXPECT_EQ(wide.extent.bad, plain.extent.bad);
  if (!plain.extent.bad) {
    EXPECT_TRUE(wide.bytes == plain.bytes);
    for (int a = 0; a < 3; ++a) {  // bit patterns: the sign of a zero bound counts
      EXPECT_EQ(bitsOf(wide.extent.lo[a]), bitsOf(plain.extent.lo[a])) << "axis " << a;
      EXPECT_EQ(bitsOf(wide.extent.hi[a]), bitsOf(plain.extent.hi[a])) << "axis " << a;
    }
  }
}

TEST(E57Streams, WideVersionWritesTheSameBytes) {
  for (std::size_t n : {1, 2, 3, 4, 5, 7, 8, 9, 31, 1056, 1057, 1058, 3000}) {
    SCOPED_TRACE(n);
    // Garbage in the records' padding must not reach the file.
    std::vector<CloudPoint> pts(n);
    std::memset(static_cast<void*>(pts.data()), 0xA5, n * sizeof(CloudPoint));
    const auto values = lcgPoints(n, 100 + n);
    for (std::size_t i = 0; i < n; ++i) {
      pts[i].x = values[i].x, pts[i].y = values[i].y, pts[i].z = values[i].z;
      pts[i].red = values[i].red, pts[i].green = values[i].green, pts[i].blue = values[i].blue;
      pts[i].classification = values[i].classification;
    }
    expectSamePacking(pts, 1057);
    expectSamePacking(pts, 5);
  }
}

TEST(E57Streams, ZeroBoundKeepsTheSignOfTheFirstZero) {
  // +0 and -0 compare equal, so a bound of zero is whichever came first. Zeros placed in different
  // lanes of the four-point steps, in the single-point rest of a packet and in a later packet.
  struct Case {
    std::size_t n, packet;
    std::vector<std::pair<std::size_t, double>> zeros;
  };
  const Case cases[] = {
      {16, 1057, {{1, -0.0}, {6, 0.0}}},
      {16, 1057, {{1, 0.0}, {6, -0.0}}},
      {16, 1057, {{6, -0.0}, {9, 0.0}, {14, -0.0}}},
      {16, 1057, {{13, 0.0}, {14, -0.0}, {15, 0.0}}},         // in the rest after the steps
      {2200, 1057, {{1056, -0.0}, {1060, 0.0}}},               // rest of packet 1, then packet 2
      {2200, 1057, {{1057, -0.0}, {1058, 0.0}, {5, 1e-30}}},  // tiny values are not zero as floats
      {2200, 1057, {{2115, -0.0}, {2199, 0.0}}},
  };
  for (const Case& c : cases) {
    for (int sign : {1, -1}) {  // all other values positive (zero is the minimum) or negative (maximum)
      std::vector<CloudPoint> pts(c.n);
      for (std::size_t i = 0; i < c.n; ++i) {
        const double v = sign * (1.0 + double(i));
        pts[i] = CloudPoint{v, v, v, 1, 2, 3, 0};
      }
      for (auto [at, v] : c.zeros) pts[at].x = pts[at].y = pts[at].z = v;
      SCOPED_TRACE(::testing::Message() << c.n << " points, first zero at " << c.zeros.front().first << ", sign " << sign);
      expectSamePacking(pts, c.packet);
    }
  }
}

TEST(E57Streams, EveryLaneAndTheRestReportValuesOutsideSinglePrecision) {
  for (double badValue : {1e39, -1e39, std::numeric_limits<double>::infinity(), std::nan("")})
    for (std::size_t at = 0; at < 11; ++at)
      for (int axis = 0; axis < 3; ++axis) {
        std::vector<CloudPoint> pts(11, CloudPoint{1, 2, 3, 4, 5, 6, 0});
        (axis == 0 ? pts[at].x : axis == 1 ? pts[at].y : pts[at].z) = badValue;
        for (bool vector : {true, false}) {
          SCOPED_TRACE(::testing::Message() << badValue << " at " << at << " axis " << axis << " vector " << vector);
          EXPECT_TRUE(pack(pts, 1057, vector).extent.bad);
        }
      }
  // The largest float itself is fine.
  std::vector<CloudPoint> pts(9, CloudPoint{double(std::numeric_limits<float>::max()), 0, -1, 0, 0, 0, 0});
  EXPECT_FALSE(pack(pts, 1057, true).extent.bad);
}

// ---- reading back ----

std::string written(const std::vector<CloudPoint>& pts) {
  TempDir dir;
  std::string error;
  EXPECT_TRUE(writeE57(dir.file("c.e57"), pts, error)) << error;
  return testing::readText(dir.file("c.e57"));
}

// Changes logical bytes of a paged file and seals the touched pages again, so that only the
// change itself is wrong.
std::string edited(std::string file, const std::function<void(std::string& logical)>& edit) {
  std::string logical;
  for (std::size_t pg = 0; pg < file.size() / 1024; ++pg) logical.append(file, pg * 1024, 1020);
  edit(logical);
  for (std::size_t pg = 0; pg < file.size() / 1024; ++pg) {
    std::memcpy(file.data() + pg * 1024, logical.data() + pg * 1020, 1020);
    const uint32_t crc = crc32cTable(logical.data() + pg * 1020, 1020);
    for (int i = 0; i < 4; ++i) file[pg * 1024 + 1020 + i] = char(crc >> (24 - 8 * i));
  }
  return file;
}

// Changes the XML section; it may grow into the padding of the last page.
std::string xmlEdited(const std::string& file, const std::function<void(std::string& xml)>& edit) {
  return edited(file, [&](std::string& l) {
    uint64_t at = 0, length = 0;
    std::memcpy(&at, l.data() + 24, 8);
    std::memcpy(&length, l.data() + 32, 8);
    at -= at / 1024 * 4;
    std::string xml = l.substr(at, length);
    edit(xml);
    ASSERT_LE(at + xml.size(), l.size());
    l.replace(at, xml.size(), xml);
    length = xml.size();
    std::memcpy(l.data() + 32, &length, 8);
  });
}

void replaceText(std::string& s, const std::string& from, const std::string& to) {
  const auto at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
}

TEST(E57Reader, ReadsBackWhatTheWriterWrote) {
  const auto pts = lcgPoints(2500, 12345);  // three packets, the last one partial
  const std::string file = written(pts);
  const E57Cloud c = readE57Bytes(file);
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.recordCount, pts.size());
  EXPECT_TRUE(c.hasColor);
  EXPECT_FALSE(c.hasIntensity);
  ASSERT_EQ(c.points.size(), pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const E57Point& got = c.points[i];
    const CloudPoint& in = pts[i];  // coordinates are stored in single precision
    ASSERT_EQ(std::tuple(got.x, got.y, got.z, got.red, got.green, got.blue),
              std::tuple(double(float(in.x)), double(float(in.y)), double(float(in.z)), in.red, in.green, in.blue))
        << "point " << i;
  }
  // The same from the file on disk.
  TempDir dir;
  std::ofstream(dir.file("d.e57"), std::ios::binary) << file;
  EXPECT_EQ(readE57File(dir.file("d.e57")).points.size(), pts.size());
}

TEST(E57Reader, ThinsToAtMostTheAskedCountByEvenSteps) {
  const auto pts = lcgPoints(3000, 12345);
  const std::string file = written(pts);
  for (std::size_t limit : {1u, 7u, 1000u, 1500u, 2999u, 3000u, 100000u}) {
    const E57Cloud c = readE57Bytes(file, E57ReadOptions{limit});
    ASSERT_EQ(c.error, "");
    EXPECT_LE(c.points.size(), limit);
    EXPECT_GE(c.points.size() * 2, std::min(limit, pts.size())) << limit;  // not thinned more than needed
    for (std::size_t i = 0; i < c.points.size(); ++i)
      ASSERT_EQ(c.points[i].x, double(float(pts[i * c.stride].x))) << limit << " point " << i;
  }
}

TEST(E57Reader, PoseIsApplied) {
  const auto pts = lcgPoints(10, 12345);
  const std::string file = xmlEdited(written(pts), [](std::string& xml) {
    // A quarter turn about z and a shift, in place of the writer's identity pose.
    replaceText(xml, "<z type=\"Float\"/></rotation>", "<z type=\"Float\">1</z></rotation>");
    replaceText(xml, "<translation type=\"Structure\"><x type=\"Float\"/>",
                "<translation type=\"Structure\"><x type=\"Float\">7</x>");
  });
  const E57Cloud c = readE57Bytes(file);
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.points.size(), 10u);
  // A micrometre: the rotation's zero entries are not exact, and y lies millions of metres out.
  EXPECT_NEAR(c.points[3].x, 7 - double(float(pts[3].y)), 1e-6);
  EXPECT_NEAR(c.points[3].y, double(float(pts[3].x)), 1e-6);
}

TEST(E57Reader, DamagedFilesGiveAnErrorAndNoPoints) {
  const std::string good = written(lcgPoints(2500, 12345));
  auto headerU64 = [](std::size_t at, uint64_t v) {
    return [=](std::string& l) { std::memcpy(l.data() + at, &v, 8); };
  };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"truncated by a page", good.substr(0, good.size() - 1024)},
      {"truncated inside a page", good.substr(0, good.size() - 1)},
      {"bad checksum", [&] { std::string b = good; b[1024 + 17] ^= 1; return b; }()},
      {"not e57", edited(good, [](std::string& l) { l[0] = 'X'; })},
      {"record count larger than the section", xmlEdited(good, [](std::string& x) { replaceText(x, "recordCount=\"2500\"", "recordCount=\"2501\""); })},
      {"record count far beyond the data", xmlEdited(good, [](std::string& x) { replaceText(x, "recordCount=\"2500\"", "recordCount=\"2500000\""); })},
      {"record count past 64 bits", xmlEdited(good, [](std::string& x) { replaceText(x, "recordCount=\"2500\"", "recordCount=\"99999999999999999999\""); })},
      {"XML broken", xmlEdited(good, [](std::string& x) { replaceText(x, "</e57Root>", ""); })},
      {"no z", xmlEdited(good, [](std::string& x) { replaceText(x, "<cartesianZ", "<cartesianQ"); replaceText(x, "</cartesianZ", "</cartesianQ"); })},
      {"XML length past the end", edited(good, headerU64(32, uint64_t(1) << 40))},
      {"XML offset in a checksum", edited(good, headerU64(24, 1021))},
      {"section length past the end", edited(good, headerU64(48 + 8, uint64_t(1) << 50))},
      {"packet longer than the section", edited(good, [](std::string& l) { l[48 + 32 + 2] = char(0xFF), l[48 + 32 + 3] = char(0xFF); })},
      {"stream longer than its packet", edited(good, [](std::string& l) { l[48 + 32 + 6] = char(0xFF), l[48 + 32 + 7] = char(0xFF); })},
      {"wrong stream count", edited(good, [](std::string& l) { l[48 + 32 + 4] = 2; })},
  };
  for (const auto& c : cases) {
    const E57Cloud r = readE57Bytes(c.bytes);
    EXPECT_NE(r.error, "") << c.what;
    EXPECT_TRUE(r.points.empty()) << c.what;
  }
  EXPECT_NE(readE57File("/nonexistent/cloud.e57").error, "");
}

}  // namespace
}  // namespace veldra
