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

// The shared sample files (formats 0-3 and 6-8, several chunks, a damaged
// one): several decoding threads give exactly the records and the error of one.
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

// Fixed-size chunks take their point count from the LASzip record and the header, not from the
// data: counts that would need gigabytes of buffers are refused at open, or, when the chunk's
// bytes could hold them, decoded on one thread, ending where one thread ends.
TEST(LazParallel, AnnouncedChunkCountsAreCheckedBeforeBuffersAreSized) {
  const char* shared = std::getenv("VELDRA_SHARED_DATA");
  const auto path = std::filesystem::path(shared ? shared : VELDRA_SHARED_DATA) / "lidar/laz-perf/autzen_trim.laz";
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
    std::string serial, serialError;
    for (int threads : {1, 4}) {
      std::string error;
      auto r = LasReader::openMemory(s, &error);
      ASSERT_EQ(r != nullptr, c.opens) << error;
      if (!r) break;
      r->setDecodeThreads(threads);
      const std::string got = test::readAllRecords(*r);
      if (threads == 1) {
        serial = got;
        serialError = r->lastError();
        EXPECT_LT(r->pointsRead(), r->pointCount());
      } else {
        EXPECT_TRUE(got == serial) << got.size() << " bytes, one thread " << serial.size();
        EXPECT_EQ(r->lastError(), serialError);
      }
    }
  }
}

}  // namespace
}  // namespace veldra::las
