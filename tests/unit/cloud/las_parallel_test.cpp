#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "LasBuilder.h"
#include "cloud/las/LasReader.h"

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

}  // namespace
}  // namespace veldra::las
