#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
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
// repeat for runs of points, others are noise. With `channels`, points of formats 6-8 hop
// between the four scanner channels (runs, returns to channels seen before, first visits);
// otherwise they all stay on channel 0.
std::string surveyRecords(size_t count, int format, size_t len, uint32_t seed, bool channels = false) {
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
  uint32_t ret = 1, nret = 1, channel = 0;
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
    if (channels && u(3) == 0) channel = u(4);
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
      p[15] = static_cast<uint8_t>((flags & 0xCF) | (channel << 4));
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

struct LazCase {
  int minor, format, extra;
  size_t points;
  LazOptions opt;
  bool channels = false;
};

class LazFormats : public ::testing::TestWithParam<LazCase> {};

TEST_P(LazFormats, CompressedRecordsDecodeExactly) {
  const LazCase& c = GetParam();
  LasBuilder b = lazBase(c.minor, c.format, c.extra);
  const std::string records =
      surveyRecords(c.points, c.format, b.recordLength, 11u * c.format + c.extra, c.channels);
  const std::string laz = test::buildLaz(b, records, c.opt);
  // One thread, and chunks decoded ahead on several: the same records in the same order.
  for (int threads : {1, 3}) {
    SCOPED_TRACE(testing::Message() << threads << " threads");
    std::string error;
    auto r = LasReader::openMemory(laz, &error);
    ASSERT_TRUE(r) << error;
    r->setDecodeThreads(threads);
    EXPECT_TRUE(r->header().compressed);
    EXPECT_EQ(r->header().pointFormat, c.format);
    EXPECT_EQ(r->pointCount(), c.points);
    const std::string got = test::readAllRecords(*r);
    EXPECT_EQ(r->lastError(), "end of points");
    ASSERT_EQ(got.size(), records.size());
    for (size_t i = 0; i < c.points; ++i)
      ASSERT_EQ(got.substr(i * b.recordLength, b.recordLength), records.substr(i * b.recordLength, b.recordLength))
          << "point " << i;
  }
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
                      LazCase{4, 6, 0, 4, variable({1, 1, 2})},
                      // scanner channels: chunks past the decoder's 1024-point batches
                      LazCase{4, 6, 0, 3000, chunks(2500), true}, LazCase{4, 7, 0, 2600, chunks(1300), true},
                      LazCase{4, 8, 3, 2000, variable({1, 5, 1994}), true}),
    [](const ::testing::TestParamInfo<LazCase>& p) {
      const LazCase& c = p.param;
      return "v1" + std::to_string(c.minor) + "_f" + std::to_string(c.format) + "_x" + std::to_string(c.extra) +
             (c.channels ? "_channels_" : "_") + std::to_string(p.index);
    });

// ---- damaged and unsupported LAZ ----

TEST(LazBadInput, DamagedOrUnsupportedFilesAreRefusedWithAReason) {
  LasBuilder b = lazBase(2, 3, 0);
  const std::string good = test::buildLaz(b, surveyRecords(2000, 3, b.recordLength, 3), chunks(500));
  uint32_t pointsAt;
  std::memcpy(&pointsAt, good.data() + 96, 4);
  const size_t vlr = 227 + 54;  // the LASzip VLR payload
  int64_t tableAt64;
  std::memcpy(&tableAt64, good.data() + pointsAt, 8);
  const auto tableAt = static_cast<size_t>(tableAt64);
  struct Case {
    const char* name;
    std::string bytes;
    const char* errorPart;  // empty: any reason will do
  };
  std::vector<Case> cases;
  auto with = [&](const char* name, const char* errorPart, auto mutate) {
    std::string s = good;
    mutate(s);
    cases.push_back({name, s, errorPart});
  };
  using P = LasBuilder;
  with("wave packet item", "not supported", [&](std::string& s) { P::put<uint16_t>(s, vlr + 34 + 6, 9); });
  with("unknown item type", "not supported", [&](std::string& s) { P::put<uint16_t>(s, vlr + 34 + 12, 99); });
  with("POINT10 version 1", "version 1", [&](std::string& s) { P::put<uint16_t>(s, vlr + 34 + 4, 1); });
  with("GPSTIME11 of size 9", "cover", [&](std::string& s) { P::put<uint16_t>(s, vlr + 34 + 8, 9); });
  with("compressor 1", "compressor 1", [&](std::string& s) { P::put<uint16_t>(s, vlr, 1); });
  with("coder 1", "coder", [&](std::string& s) { P::put<uint16_t>(s, vlr + 2, 1); });
  with("chunk size 0", "chunk size 0", [&](std::string& s) { P::put<uint32_t>(s, vlr + 12, 0); });
  with("offset past the end", "", [&](std::string& s) { P::put<int64_t>(s, pointsAt, 1ll << 40); });
  with("offset into the header", "", [&](std::string& s) { P::put<int64_t>(s, pointsAt, 100); });
  with("negative offset", "", [&](std::string& s) { P::put<int64_t>(s, pointsAt, -7); });
  with("end marker without offset", "", [&](std::string& s) { P::put<int64_t>(s, pointsAt, -1); });
  with("table version 1", "", [&](std::string& s) { P::put<uint32_t>(s, tableAt, 1); });
  with("two billion chunks", "", [&](std::string& s) { P::put<uint32_t>(s, tableAt + 4, 0x7FFFFFFF); });
  with("fewer chunks than points", "", [&](std::string& s) { P::put<uint32_t>(s, tableAt + 4, 2); });
  with("table cut off", "", [&](std::string& s) { s.resize(tableAt + 9); });
  with("file cut in the points", "", [&](std::string& s) { s.resize(pointsAt + 3000); });
  with("garbage table entries", "", [&](std::string& s) {
    for (size_t i = tableAt + 8; i < s.size(); ++i) s[i] = static_cast<char>(0xA5 ^ i);
  });
  with("four billion points announced", "", [&](std::string& s) { P::put<uint32_t>(s, 107, 0xFFFFFFFF); });
  {
    std::string s = test::buildLaz(lazBase(4, 6, 0), surveyRecords(100, 6, 30, 1), chunks(0xFFFFFFF0u));
    P::put<uint64_t>(s, 247, 1000000000000ull);
    cases.push_back({"10^12 points in LAS 1.4", s, "points"});
  }
  {
    LasBuilder x = lazBase(2, 0, 3000);
    cases.push_back({"oversized extra bytes item", test::buildLaz(x, surveyRecords(3, 0, x.recordLength, 2), chunks(5)),
                     "extra bytes"});
  }
  {
    std::string s = test::buildLaz(lazBase(2, 0, 0), surveyRecords(10, 0, 20, 2), chunks(5));
    P::put<uint16_t>(s, 105, 24);  // record length no longer matches the POINT10 item
    cases.push_back({"items do not cover the record", s, "cover"});
  }
  for (const auto& c : cases) {
    std::string error;
    EXPECT_FALSE(LasReader::openMemory(c.bytes, &error)) << c.name;
    EXPECT_FALSE(error.empty()) << c.name;
    EXPECT_NE(error.find(c.errorPart), std::string::npos) << c.name << ": " << error;
  }
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
    // Decoding ahead on several threads hands out the same good records, then the same failure.
    std::string serial, serialError;
    for (int threads : {1, 3}) {
      auto r = LasReader::openMemory(s);
      ASSERT_TRUE(r);
      r->setDecodeThreads(threads);
      const std::string got = test::readAllRecords(*r);
      EXPECT_LT(got.size(), 3000u * b.recordLength);
      EXPECT_NE(r->lastError(), "end of points");
      std::vector<uint8_t> rec(b.recordLength);
      EXPECT_FALSE(r->readPoint(rec.data())) << "stays failed";
      if (threads == 1) {
        serial = got;
        serialError = r->lastError();
      } else {
        EXPECT_EQ(got, serial);
        EXPECT_EQ(r->lastError(), serialError);
      }
    }
  }
}

TEST(LazBadInput, LayeredChunkWithWrongCountOrOversizedLayerFails) {
  LasBuilder b = lazBase(4, 7, 0);
  const std::string good = test::buildLaz(b, surveyRecords(1000, 7, 36, 2), chunks(500));
  uint32_t pointsAt;
  std::memcpy(&pointsAt, good.data() + 96, 4);
  const size_t countAt = pointsAt + 8 + 36;
  // A point count that is not the chunk's, and a first layer larger than the chunk.
  for (auto [at, value, errorPart] : {std::tuple{countAt, 499u, "chunk"}, std::tuple{countAt + 4, 0x7FFFFFFFu, "layer"}}) {
    std::string s = good;
    LasBuilder::put<uint32_t>(s, at, value);
    auto r = LasReader::openMemory(s);
    ASSERT_TRUE(r);
    uint8_t rec[36];
    EXPECT_FALSE(r->readPoint(rec));
    EXPECT_NE(r->lastError().find(errorPart), std::string::npos) << r->lastError();
  }
}

// The shared sample files: several decoding threads give exactly the records of one.
TEST(LazParallel, SampleFilesDecodeAsOnOneThread) {
  const char* shared = std::getenv("VELDRA_SHARED_DATA");
  const std::filesystem::path root = std::filesystem::path(shared ? shared : VELDRA_SHARED_DATA) / "lidar";
  if (!std::filesystem::exists(root)) GTEST_SKIP() << "sample files missing: " << root;
  int files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    if (e.path().extension() != ".laz") continue;
    SCOPED_TRACE(e.path().string());
    std::string serial, serialError;
    for (int threads : {1, 4}) {
      auto r = LasReader::open(e.path().string());
      if (!r) break;  // files our reader refuses are covered elsewhere
      r->setDecodeThreads(threads);
      const std::string got = test::readAllRecords(*r);
      if (threads == 1) {
        serial = got;
        serialError = r->lastError();
        ++files;
      } else {
        EXPECT_TRUE(got == serial) << got.size() << " bytes, one thread " << serial.size();
        EXPECT_EQ(r->lastError(), serialError);
      }
    }
  }
  EXPECT_GT(files, 0);
}

}  // namespace
}  // namespace veldra::las
