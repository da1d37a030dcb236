#include <gtest/gtest.h>

#include <random>
#include <tuple>

#include "LasBuilder.h"
#include "LazTestEncoder.h"
#include "cloud/las/LasReader.h"

namespace veldra::las {
namespace {

using test::LasBuilder;
using test::LazOptions;

// Records that look like a survey: coordinates walk with occasional jumps, some attributes
// repeat for runs of points, others are noise. Scanner channel stays 0 for formats 6-8.
std::string surveyRecords(size_t count, int format, size_t len, uint32_t seed) {
  std::mt19937 rng(seed);
  auto u = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  // Two's-complement wrap without signed overflow.
  auto wrapAdd = [](int32_t a, uint32_t d) { return static_cast<int32_t>(static_cast<uint32_t>(a) + d); };
  std::string s(count * len, '\0');
  int32_t x = 1000000, y = -2000000, z = 30000;
  uint16_t intensity = 500, rgb[4] = {30000, 31000, 29000, 12000};
  uint8_t cls = 2, user = 0, flags = 0;
  uint16_t source = 17;
  int16_t angle = -12;
  double gps = 245380.5;
  uint32_t ret = 1, nret = 1;
  std::vector<uint8_t> extra(len);
  for (auto& e : extra) e = static_cast<uint8_t>(u(256));
  const bool wide = format >= 6;
  for (size_t i = 0; i < count; ++i) {
    auto* p = reinterpret_cast<uint8_t*>(s.data()) + i * len;
    if (u(50) == 0) {
      x = wrapAdd(x, static_cast<uint32_t>(rng()));  // wild jump, exercises wrap-around
      y = wrapAdd(y, 0u - static_cast<uint32_t>(rng() >> 3));
    } else {
      x = wrapAdd(x, static_cast<uint32_t>(static_cast<int32_t>(u(200)) - 90));
      y = wrapAdd(y, static_cast<uint32_t>(static_cast<int32_t>(u(60)) - 30));
    }
    z = wrapAdd(z, static_cast<uint32_t>(static_cast<int32_t>(u(41)) - 20));
    if (u(3) == 0) intensity = static_cast<uint16_t>(u(65536));
    if (u(10) == 0) cls = static_cast<uint8_t>(u(wide ? 256 : 32));
    if (u(40) == 0) user = static_cast<uint8_t>(u(256));
    if (u(30) == 0) source = static_cast<uint16_t>(u(65536));
    if (u(20) == 0) angle = static_cast<int16_t>(static_cast<int>(u(60000)) - 30000);
    if (u(15) == 0) flags = static_cast<uint8_t>(u(256));
    if (u(4) != 0) gps += u(100) == 0 ? 1e6 * u(7) : 1e-5 * u(1000);
    if (u(5) == 0) {
      nret = 1 + u(wide ? 15 : 7);
      ret = 1 + u(nret);
    } else if (ret < nret) {
      ++ret;
    } else {
      ret = 1;
    }
    if (u(3) == 0)
      for (auto& c : rgb) c = static_cast<uint16_t>(c + static_cast<int>(u(2001)) - 1000);
    if (u(8) == 0) extra[u(static_cast<uint32_t>(len))] = static_cast<uint8_t>(u(256));
    std::memcpy(p, extra.data(), len);  // trailing extra bytes keep their slowly changing values
    std::memcpy(p, &x, 4);
    std::memcpy(p + 4, &y, 4);
    std::memcpy(p + 8, &z, 4);
    std::memcpy(p + 12, &intensity, 2);
    if (!wide) {
      p[14] = static_cast<uint8_t>(ret | (nret << 3) | (flags & 0xC0));
      p[15] = cls;
      p[16] = static_cast<uint8_t>(angle);
      p[17] = user;
      std::memcpy(p + 18, &source, 2);
      size_t at = 20;
      if (format == 1 || format == 3) {
        std::memcpy(p + at, &gps, 8);
        at += 8;
      }
      if (format == 2 || format == 3) std::memcpy(p + at, rgb, 6);
    } else {
      p[14] = static_cast<uint8_t>(ret | (nret << 4));
      p[15] = static_cast<uint8_t>(flags & 0xCF);  // channel bits clear
      p[16] = cls;
      p[17] = user;
      std::memcpy(p + 18, &angle, 2);
      std::memcpy(p + 20, &source, 2);
      std::memcpy(p + 22, &gps, 8);
      if (format == 7) std::memcpy(p + 30, rgb, 6);
      if (format == 8) std::memcpy(p + 30, rgb, 8);
    }
  }
  return s;
}

LasBuilder lazBase(int minor, int format, int extra) {
  LasBuilder b;
  b.versionMinor = static_cast<uint8_t>(minor);
  b.pointFormat = static_cast<uint8_t>(format);
  b.recordLength = static_cast<uint16_t>(minimumRecordLength(static_cast<uint8_t>(format)) + extra);
  return b;
}

std::string readAll(LasReader& r) {
  std::string out;
  std::vector<uint8_t> rec(r.header().recordLength);
  while (r.readPoint(rec.data())) out.append(reinterpret_cast<const char*>(rec.data()), rec.size());
  return out;
}

struct LazCase {
  int minor, format, extra;
  size_t points;
  LazOptions opt;
};

class LazFormats : public ::testing::TestWithParam<LazCase> {};

TEST_P(LazFormats, CompressedRecordsDecodeExactly) {
  const LazCase& c = GetParam();
  LasBuilder b = lazBase(c.minor, c.format, c.extra);
  const std::string records = surveyRecords(c.points, c.format, b.recordLength, 11u * c.format + c.extra);
  std::string error;
  auto r = LasReader::openMemory(test::buildLaz(b, records, c.opt), &error);
  ASSERT_TRUE(r) << error;
  EXPECT_TRUE(r->header().compressed);
  EXPECT_EQ(r->header().pointFormat, c.format);
  EXPECT_EQ(r->pointCount(), c.points);
  const std::string got = readAll(*r);
  EXPECT_EQ(r->lastError(), "end of points");
  ASSERT_EQ(got.size(), records.size());
  for (size_t i = 0; i < c.points; ++i)
    ASSERT_EQ(got.substr(i * b.recordLength, b.recordLength), records.substr(i * b.recordLength, b.recordLength))
        << "point " << i;
}

LazOptions chunks(uint32_t size) {
  LazOptions o;
  o.chunkSize = size;
  return o;
}
LazOptions variable(std::vector<uint32_t> counts) {
  LazOptions o;
  o.variableChunks = std::move(counts);
  return o;
}
LazOptions atEnd(uint32_t size) {
  LazOptions o = chunks(size);
  o.tableOffsetAtEnd = true;
  return o;
}

INSTANTIATE_TEST_SUITE_P(
    Laz, LazFormats,
    ::testing::Values(LazCase{2, 0, 0, 3000, chunks(1000)}, LazCase{2, 1, 0, 3000, chunks(1100)},
                      LazCase{2, 2, 0, 2500, chunks(50000)}, LazCase{2, 3, 0, 3000, chunks(1000)},
                      LazCase{2, 3, 9, 2000, atEnd(700)}, LazCase{4, 1, 0, 1500, chunks(500)},
                      LazCase{2, 0, 0, 5, chunks(1)}, LazCase{4, 6, 0, 3000, chunks(1000)},
                      LazCase{4, 7, 0, 3000, chunks(1200)}, LazCase{4, 8, 0, 2000, chunks(50000)},
                      LazCase{4, 8, 5, 2000, variable({1, 999, 2, 998})}, LazCase{4, 7, 3, 1500, atEnd(400)},
                      LazCase{4, 6, 0, 4, variable({1, 1, 2})}),
    [](const ::testing::TestParamInfo<LazCase>& p) {
      const LazCase& c = p.param;
      return "v1" + std::to_string(c.minor) + "_f" + std::to_string(c.format) + "_x" + std::to_string(c.extra) + "_" +
             std::to_string(p.index);
    });

// ---- damaged and unsupported LAZ ----

struct LazFile {
  std::string bytes;
  size_t vlrPayload = 0;  // offset of the LASzip VLR payload
  size_t pointsAt = 0;
};

LazFile sampleLaz(int format = 3, size_t points = 2000, uint32_t chunkSize = 500) {
  LasBuilder b = lazBase(2, format, 0);
  LazFile f;
  f.bytes = test::buildLaz(b, surveyRecords(points, format, b.recordLength, 3), chunks(chunkSize));
  uint32_t at;
  std::memcpy(&at, f.bytes.data() + 96, 4);
  f.pointsAt = at;
  f.vlrPayload = 227 + 54;
  return f;
}

template <typename T>
void put(std::string& s, size_t at, T v) {
  std::memcpy(s.data() + at, &v, sizeof v);
}

TEST(LazBadInput, UnknownOrUnsupportedItemsAreRefused) {
  struct Patch {
    const char* name;
    size_t offset;  // inside the VLR payload
    uint16_t value;
    const char* errorPart;
  };
  const Patch patches[] = {
      {"wave packet item", 34 + 6 * 1, 9, "not supported"},
      {"unknown item type", 34 + 6 * 2, 99, "not supported"},
      {"POINT10 version 1", 34 + 4, 1, "version 1"},
      {"GPSTIME11 of size 9", 34 + 6 + 2, 9, "cover"},
      {"compressor 1", 0, 1, "compressor 1"},
      {"coder 1", 2, 1, "coder"},
  };
  const LazFile f = sampleLaz();
  for (const auto& p : patches) {
    std::string s = f.bytes;
    put<uint16_t>(s, f.vlrPayload + p.offset, p.value);
    std::string error;
    EXPECT_FALSE(LasReader::openMemory(s, &error)) << p.name;
    EXPECT_NE(error.find(p.errorPart), std::string::npos) << p.name << ": " << error;
  }
  std::string s = f.bytes;
  put<uint32_t>(s, f.vlrPayload + 12, 0);
  std::string error;
  EXPECT_FALSE(LasReader::openMemory(s, &error));
  EXPECT_NE(error.find("chunk size 0"), std::string::npos) << error;
}

TEST(LazBadInput, BrokenChunkTablesAreRefused) {
  const LazFile f = sampleLaz();
  int64_t tableAt;
  std::memcpy(&tableAt, f.bytes.data() + f.pointsAt, 8);
  struct Case {
    const char* name;
    std::string bytes;
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, auto mutate) {
    std::string s = f.bytes;
    mutate(s);
    cases.push_back({name, s});
  };
  with("offset past the end", [&](std::string& s) { put<int64_t>(s, f.pointsAt, 1ll << 40); });
  with("offset into the header", [&](std::string& s) { put<int64_t>(s, f.pointsAt, 100); });
  with("negative offset", [&](std::string& s) { put<int64_t>(s, f.pointsAt, -7); });
  with("end marker without offset", [&](std::string& s) { put<int64_t>(s, f.pointsAt, -1); });
  with("table version 1", [&](std::string& s) { put<uint32_t>(s, static_cast<size_t>(tableAt), 1); });
  with("two billion chunks", [&](std::string& s) { put<uint32_t>(s, static_cast<size_t>(tableAt) + 4, 0x7FFFFFFF); });
  with("fewer chunks than points", [&](std::string& s) { put<uint32_t>(s, static_cast<size_t>(tableAt) + 4, 2); });
  with("table cut off", [&](std::string& s) { s.resize(static_cast<size_t>(tableAt) + 9); });
  with("file cut in the points", [&](std::string& s) { s.resize(f.pointsAt + 3000); });
  with("garbage table entries", [&](std::string& s) {
    for (size_t i = static_cast<size_t>(tableAt) + 8; i < s.size(); ++i) s[i] = static_cast<char>(0xA5 ^ i);
  });
  with("four billion points announced", [&](std::string& s) { put<uint32_t>(s, 107, 0xFFFFFFFF); });
  for (const auto& c : cases) {
    std::string error;
    auto r = LasReader::openMemory(c.bytes, &error);
    EXPECT_FALSE(r) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

TEST(LazBadInput, HugePointCountOnLas14IsRefused) {
  LasBuilder b = lazBase(4, 6, 0);
  std::string s = test::buildLaz(b, surveyRecords(100, 6, 30, 1), chunks(0xFFFFFFF0u));
  put<uint64_t>(s, 247, 1000000000000ull);
  std::string error;
  EXPECT_FALSE(LasReader::openMemory(s, &error));
  EXPECT_NE(error.find("points"), std::string::npos) << error;
}

TEST(LazBadInput, GarbageChunkEndsReadingEarlyWithAReason) {
  for (int format : {3, 8}) {
    SCOPED_TRACE(format);
    LasBuilder b = lazBase(format >= 6 ? 4 : 2, format, 0);
    std::string s = test::buildLaz(b, surveyRecords(3000, format, b.recordLength, 4), chunks(1000));
    uint32_t pointsAt;
    std::memcpy(&pointsAt, s.data() + 96, 4);
    // Overwrite the compressed part of the first chunk (and beyond) but not its layer sizes.
    std::mt19937 rng(9);
    const size_t from = pointsAt + 8 + b.recordLength + (format >= 6 ? 4 + 4 * 11 : 0);
    for (size_t i = from; i < from + 3000; ++i) s[i] = static_cast<char>(rng());
    auto r = LasReader::openMemory(s);
    ASSERT_TRUE(r);
    std::vector<uint8_t> rec(b.recordLength);
    uint64_t n = 0;
    while (r->readPoint(rec.data())) ++n;
    EXPECT_LT(n, 3000u);
    EXPECT_NE(r->lastError(), "end of points");
    EXPECT_FALSE(r->readPoint(rec.data())) << "stays failed";
  }
}

TEST(LazBadInput, LayeredChunkWithWrongCountOrOversizedLayerFails) {
  LasBuilder b = lazBase(4, 7, 0);
  const std::string good = test::buildLaz(b, surveyRecords(1000, 7, 36, 2), chunks(500));
  uint32_t pointsAt;
  std::memcpy(&pointsAt, good.data() + 96, 4);
  const size_t countAt = pointsAt + 8 + 36;
  {
    std::string s = good;
    put<uint32_t>(s, countAt, 499);
    auto r = LasReader::openMemory(s);
    ASSERT_TRUE(r);
    uint8_t rec[36];
    EXPECT_FALSE(r->readPoint(rec));
    EXPECT_NE(r->lastError().find("chunk"), std::string::npos) << r->lastError();
  }
  {
    std::string s = good;
    put<uint32_t>(s, countAt + 4, 0x7FFFFFFF);  // first layer larger than the chunk
    auto r = LasReader::openMemory(s);
    ASSERT_TRUE(r);
    uint8_t rec[36];
    EXPECT_FALSE(r->readPoint(rec));
    EXPECT_NE(r->lastError().find("layer"), std::string::npos) << r->lastError();
  }
}

TEST(LazBadInput, OversizedExtraBytesItemIsRefused) {
  LasBuilder b = lazBase(2, 0, 3000);
  std::string error;
  EXPECT_FALSE(LasReader::openMemory(test::buildLaz(b, surveyRecords(3, 0, b.recordLength, 2), chunks(5)), &error));
  EXPECT_NE(error.find("extra bytes"), std::string::npos) << error;
}

TEST(LazBadInput, ItemsMustCoverTheRecord) {
  LasBuilder b = lazBase(2, 0, 0);
  std::string s = test::buildLaz(b, surveyRecords(10, 0, 20, 2), chunks(5));
  put<uint16_t>(s, 105, 24);  // record length no longer matches the POINT10 item
  std::string error;
  EXPECT_FALSE(LasReader::openMemory(s, &error));
  EXPECT_NE(error.find("cover"), std::string::npos) << error;
}

}  // namespace
}  // namespace veldra::las
