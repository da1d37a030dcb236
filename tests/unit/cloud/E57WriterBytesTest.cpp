// The writer's output byte for byte, against a file assembled here the slow and obvious way.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cmath>
#include <csignal>
#include <cstring>
#include <fstream>
#include <iterator>
#include <limits>

#include "cloud/E57Writer.h"
#include "unit/cloud/E57Check.h"
#include "unit/cloud/TempDir.h"

namespace veldra {
namespace {

using test::E57Contents;
using test::readE57Strict;
using test::TempDir;

std::vector<uint8_t> readAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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

uint32_t bitwiseCrc32c(const uint8_t* p, std::size_t n) {
  uint32_t c = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < n; ++i) {
    c ^= p[i];
    for (int b = 0; b < 8; ++b) c = (c >> 1) ^ (0x82F63B78u & (0u - (c & 1u)));
  }
  return ~c;
}

void le(std::vector<uint8_t>& out, uint64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(uint8_t(v >> (8 * i)));
}

// The whole file for `pts`, one field at a time; only the XML text is taken from the file under test.
std::vector<uint8_t> referenceFile(const std::vector<CloudPoint>& pts, const std::string& xml) {
  std::vector<uint8_t> body;  // section header and packets
  body.resize(32);
  body[0] = 1;
  for (std::size_t first = 0; first < pts.size(); first += 1057) {
    const std::size_t k = std::min<std::size_t>(1057, pts.size() - first);
    const std::size_t used = 18 + 15 * k, padded = (used + 3) / 4 * 4;
    body.push_back(1);
    body.push_back(0);
    le(body, padded - 1, 2);
    le(body, 6, 2);
    for (int s = 0; s < 3; ++s) le(body, 4 * k, 2);
    for (int s = 0; s < 3; ++s) le(body, k, 2);
    for (int axis = 0; axis < 3; ++axis)
      for (std::size_t i = first; i < first + k; ++i) {
        const double d = axis == 0 ? pts[i].x : axis == 1 ? pts[i].y : pts[i].z;
        const float f = float(d);
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        le(body, bits, 4);
      }
    for (std::size_t i = first; i < first + k; ++i) body.push_back(pts[i].red);
    for (std::size_t i = first; i < first + k; ++i) body.push_back(pts[i].green);
    for (std::size_t i = first; i < first + k; ++i) body.push_back(pts[i].blue);
    body.resize(body.size() + padded - used, 0);
  }
  const uint64_t B = body.size();
  for (int i = 0; i < 8; ++i) body[8 + i] = uint8_t(B >> (8 * i));
  body[16] = 80;

  const uint64_t xmlLogical = 48 + B;
  const uint64_t pages = (48 + B + xml.size() + 1019) / 1020;
  std::vector<uint8_t> logical;
  for (char ch : std::string("ASTM-E57")) logical.push_back(uint8_t(ch));
  le(logical, 1, 4);
  le(logical, 0, 4);
  le(logical, pages * 1024, 8);
  le(logical, xmlLogical + xmlLogical / 1020 * 4, 8);
  le(logical, xml.size(), 8);
  le(logical, 1024, 8);
  logical.insert(logical.end(), body.begin(), body.end());
  logical.insert(logical.end(), xml.begin(), xml.end());
  logical.resize(pages * 1020, 0);

  std::vector<uint8_t> file;
  for (std::size_t pg = 0; pg < pages; ++pg) {
    const uint8_t* payload = logical.data() + pg * 1020;
    file.insert(file.end(), payload, payload + 1020);
    const uint32_t crc = bitwiseCrc32c(payload, 1020);
    for (int i = 3; i >= 0; --i) file.push_back(uint8_t(crc >> (8 * i)));
  }
  return file;
}

TEST(E57WriterBytes, EveryByteAsAssembledFieldByField) {
  TempDir dir;
  // Packet fills around one and several packets, every remainder mod 4 (packet padding), and
  // counts whose streams cross page boundaries at different phases, and a file of several output
  // blocks (written by the writer thread).
  for (std::size_t n : {1, 2, 3, 4, 5, 67, 68, 69, 1056, 1057, 1058, 2113, 2114, 2115, 4229, 9000, 100000}) {
    SCOPED_TRACE(n);
    const auto pts = lcgPoints(n, n);
    std::string err;
    ASSERT_TRUE(writeE57(dir.file("r.e57"), pts, err)) << err;
    E57Contents c;
    ASSERT_EQ(readE57Strict(dir.file("r.e57"), c), "");
    const auto want = referenceFile(pts, c.xml);
    const auto got = readAll(dir.file("r.e57"));
    ASSERT_EQ(got.size(), want.size());
    const auto diff = std::mismatch(got.begin(), got.end(), want.begin());
    EXPECT_TRUE(diff.first == got.end()) << "first difference at byte " << (diff.first - got.begin());
  }
}

// Lowers the file size limit of the process for one scope; writes beyond it fail with EFBIG.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &saved_);
    oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
    rlimit lower = saved_;
    lower.rlim_cur = bytes;
    ok_ = setrlimit(RLIMIT_FSIZE, &lower) == 0;
  }
  ~FileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &saved_);
    std::signal(SIGXFSZ, oldHandler_);
  }
  bool ok() const { return ok_; }

 private:
  rlimit saved_{};
  void (*oldHandler_)(int) = nullptr;
  bool ok_ = false;
};

TEST(E57WriterBytes, AFailedWriteAnywhereInTheFileIsReportedAndLeavesNothing) {
  TempDir dir;
  const auto pts = lcgPoints(600000, 3);  // about 9 MB: several output blocks
  // In the first block, a later block, and the last few pages.
  for (rlim_t limit : {rlim_t(200000), rlim_t(4000000), rlim_t(9000000)}) {
    SCOPED_TRACE(limit);
    std::string err;
    bool written;
    {
      FileSizeLimit cap(limit);
      ASSERT_TRUE(cap.ok());
      written = writeE57(dir.file("big.e57"), pts, err);
    }
    EXPECT_FALSE(written);
    EXPECT_EQ(err, "Nie mozna zapisac pliku e57.");
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
  std::string err;
  EXPECT_TRUE(writeE57(dir.file("big.e57"), pts, err)) << err;
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
      SCOPED_TRACE(testing::Message() << c.n << " points, first zero at " << c.zeros.front().first << ", sign " << sign);
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
          SCOPED_TRACE(testing::Message() << badValue << " at " << at << " axis " << axis << " vector " << vector);
          EXPECT_TRUE(pack(pts, 1057, vector).extent.bad);
        }
      }
  // The largest float itself is fine.
  std::vector<CloudPoint> pts(9, CloudPoint{double(std::numeric_limits<float>::max()), 0, -1, 0, 0, 0, 0});
  EXPECT_FALSE(pack(pts, 1057, true).extent.bad);
}

TEST(E57WriterBytes, ZeroBoundsInTheFileKeepTheirSign) {
  TempDir dir;
  std::vector<CloudPoint> pts(40, CloudPoint{3, -3, 1, 0, 0, 0, 0});
  pts[5].x = -0.0;  // first zero: the x minimum is -0
  pts[22].x = 0.0;
  pts[9].y = 0.0;  // first zero: the y maximum is +0
  pts[30].y = -0.0;
  std::string err;
  ASSERT_TRUE(writeE57(dir.file("z.e57"), pts, err)) << err;
  E57Contents c;
  ASSERT_EQ(readE57Strict(dir.file("z.e57"), c), "");
  EXPECT_EQ(c.boundsMin[0], 0.0);
  EXPECT_TRUE(std::signbit(c.boundsMin[0]));
  EXPECT_EQ(c.boundsMax[1], 0.0);
  EXPECT_FALSE(std::signbit(c.boundsMax[1]));
}

}  // namespace
}  // namespace veldra
