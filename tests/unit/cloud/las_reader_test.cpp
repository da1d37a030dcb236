#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
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
// the interop test; here headers that must be refused, counts that must not be trusted, and
// several decoding threads against one.
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

std::filesystem::path lidarDir() {
  const char* shared = std::getenv("VELDRA_SHARED_DATA");
  return std::filesystem::path(shared ? shared : VELDRA_SHARED_DATA) / "lidar";
}

// Reads every record on one thread, then on four, and expects the same records and the same
// error; `open` gives a fresh reader each time, null when the file is refused (then false).
enum class Ends { Anywhere, BeforeTheLastPoint };
template <typename Open>
bool expectFourThreadsLikeOne(const Open& open, Ends ends = Ends::Anywhere) {
  std::string serial, serialError;
  for (int threads : {1, 4}) {
    auto r = open();
    if (!r) return false;
    r->setDecodeThreads(threads);
    const std::string got = readAllRecords(*r);
    if (threads == 1) {
      serial = got;
      serialError = r->lastError();
      if (ends == Ends::BeforeTheLastPoint) {
        EXPECT_LT(r->pointsRead(), r->pointCount());
      }
    } else {
      EXPECT_TRUE(got == serial) << got.size() << " bytes, one thread " << serial.size();
      EXPECT_EQ(r->lastError(), serialError);
    }
  }
  return true;
}

// The shared sample files (formats 0-3 and 6-8, several chunks, a damaged
// one): several decoding threads give exactly the records and the error of one.
TEST(LazParallel, SampleFilesDecodeAsOnOneThread) {
  if (!std::filesystem::exists(lidarDir())) GTEST_SKIP() << "sample files missing: " << lidarDir();
  int files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(lidarDir())) {
    if (e.path().extension() != ".laz") continue;
    SCOPED_TRACE(e.path().string());
    // Files our reader refuses are covered elsewhere.
    files += expectFourThreadsLikeOne([&] { return LasReader::open(e.path().string()); });
  }
  EXPECT_GT(files, 0);
}

// Fixed-size chunks take their point count from the LASzip record and the header, not from the
// data: counts that would need gigabytes of buffers are refused at open, or, when the chunk's
// bytes could hold them, decoded on one thread, ending where one thread ends.
TEST(LazParallel, AnnouncedChunkCountsAreCheckedBeforeBuffersAreSized) {
  const auto path = lidarDir() / "laz-perf/autzen_trim.laz";
  if (!std::filesystem::exists(path)) GTEST_SKIP() << "sample file missing: " << path;
  const std::string good = testing::readText(path);
  // The VLR's user id sits 2 bytes into its 54-byte header; the chunk size 12 bytes into the payload.
  const size_t userId = good.find("laszip encoded");
  ASSERT_NE(userId, std::string::npos);
  const size_t chunkSizeAt = userId - 2 + 54 + 12;
  struct Case {
    uint32_t points;  // announced by the header and as the chunk size
    bool opens;
  } cases[] = {{2'000'000'000, false}, {1'000'000'000, true}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.points);
    std::string s = good;
    std::memcpy(s.data() + 107, &c.points, 4);
    std::memcpy(s.data() + chunkSizeAt, &c.points, 4);
    std::string error;
    EXPECT_EQ(LasReader::openMemory(s, &error) != nullptr, c.opens) << error;
    expectFourThreadsLikeOne([&] { return LasReader::openMemory(s); }, Ends::BeforeTheLastPoint);
  }
}

}  // namespace
}  // namespace veldra::las
