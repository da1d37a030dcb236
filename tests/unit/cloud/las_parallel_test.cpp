#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "LasBuilder.h"
#include "cloud/las/LasReader.h"
#include "unit/TestSupport.h"

namespace veldra::las {
namespace {

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
    const std::string got = test::readAllRecords(*r);
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
