// The cloud palette's estimate, the rule that only the newest estimate reaches the page, and the
// download worker's point limit, against a transport that serves an index and one tile.
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "bridge/Bridge.h"
#include "cloud_ui/CloudController.h"
#include "cloud_ui/CloudDownload.h"
#include "cloud_ui/CloudEstimate.h"
#include "host/MemoryHost.h"
#include "platform/MainLoop.h"
#include "unit/cloud/LasBuilder.h"

namespace veldra {
namespace {

using cloudui::Detail;
using nlohmann::json;

TEST(CloudEstimate, DensityCappedByTheDetailsVoxel) {
  struct Case {
    double area, density;
    Detail detail;
    std::int64_t points;
    bool over;
  } cases[] = {
      {1e6, 12, Detail::Standard, 12'000'000, true},    // 25 points/m² do not bite
      {1e6, 12, Detail::Lekki, 4'000'000, false},       // 4 points/m² do
      {1e6, 12, Detail::Full, 12'000'000, true},
      {1e6, 30, Detail::Standard, 25'000'000, true},
      {1e6, 7.99999, Detail::Full, 7'999'990, false},
      {2.5, 1, Detail::Full, 3, false},                 // rounded half up
      {1e6, std::nan(""), Detail::Full, 0, false},      // a broken density gives nothing, not UB
      {1e300, 1e300, Detail::Full, 400'000'000'000'000'000, true},
  };
  for (const Case& c : cases) {
    const CloudEstimate e = estimateCloud(c.area, c.density, c.detail);
    EXPECT_EQ(e.points, c.points) << c.area << " " << c.density;
    EXPECT_EQ(e.bytes, c.points * 16);
    EXPECT_EQ(e.overLimit, c.over);
  }
  EXPECT_DOUBLE_EQ(estimateCloud(1e6, 12, Detail::Standard).bytes / 1e6, 192.0);
}

// Serves the LiDAR index (density 20, one tile) and the tile; index answers wait for open().
class FakeLidar : public HttpTransport {
 public:
  std::string tile;
  bool gated = false;

  void open() {
    std::lock_guard<std::mutex> lock(m_);
    opened_ = true;
    cv_.notify_all();
  }
  TransportResponse performRequest(const std::string&, const std::string&, const std::string&, const std::string&,
                                   long, long, const std::string&) override {
    std::unique_lock<std::mutex> lock(m_);
    cv_.wait(lock, [&] { return !gated || opened_; });
    TransportResponse r;
    r.status = 200;
    r.ok = true;
    r.body = "<wfs:FeatureCollection><wfs:member><gugik:SkorowidzDanychPomiarowychLIDAR><gugik:char_przestrz>20"
             "</gugik:char_przestrz><gugik:uklad_xy>PL-1992</gugik:uklad_xy><gugik:url_do_pobrania>"
             "https://tiles.example/t.las</gugik:url_do_pobrania></gugik:SkorowidzDanychPomiarowychLIDAR>"
             "</wfs:member></wfs:FeatureCollection>";
    return r;
  }
  StreamResult performStreamingGet(const std::string&, long, long, const std::string&, const ChunkSink& sink) override {
    StreamResult r;
    r.status = 200;
    r.ok = sink(tile.data(), tile.size(), tile.size());
    return r;
  }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool opened_ = false;
};

class CloudWorker : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() / ("cloud_ui_test_" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir_);
    setenv("XDG_CACHE_HOME", (dir_ / "cache").c_str(), 1);
    setenv("VELDRA_HOST_SPACING_MS", "0", 1);
    // Ten points 10 cm apart eastwards near the frame's corner: a few voxels of 0.5 m hold them.
    test::LasBuilder b;
    b.pointCount = 10;
    for (int i = 0; i < 10; ++i) {
      std::string r(20, '\0');
      test::LasBuilder::put<int32_t>(r, 0, 10 * i + 50);
      test::LasBuilder::put<int32_t>(r, 4, 50);
      test::LasBuilder::put<int32_t>(r, 8, 10000);
      b.points += r;
    }
    net_.tile = b.build();
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::filesystem::path dir_;
  FakeLidar net_;
  const Bbox frame_{500000, 600000, 500100, 600100};   // LasBuilder's offset is its corner
};

TEST_F(CloudWorker, PointLimitEndsTheDownloadWithItsMessage) {
  struct Case {
    Detail detail;
    std::size_t limit;
    bool ok;
    std::int64_t count;   // -1: fewer than ten
  } cases[] = {
      {Detail::Full, 9, false, 0}, {Detail::Full, 10, true, 10}, {Detail::Lekki, 9, true, -1},
  };
  for (const Case& c : cases) {
    WfsClient client(&net_);
    const std::atomic<bool> cancel{false};
    CloudDownloadOptions options;
    options.pointLimit = c.limit;
    options.outputPath = (dir_ / "out.e57").string();
    const CloudDownloadResult r =
        runCloudDownload(CloudDownloadJob{frame_, c.detail, 2178, 0, 0, 0, false}, client, cancel, {}, options);
    EXPECT_EQ(r.ok, c.ok) << r.message;
    if (c.count >= 0) {
      EXPECT_EQ(r.count, c.count);
    } else {
      EXPECT_TRUE(r.count > 0 && r.count < 10) << r.count;
    }
    if (!c.ok) {
      EXPECT_EQ(r.message, "Za duzo punktow - zmniejsz kadr lub obniz jakosc.");
    }
    EXPECT_EQ(std::filesystem::exists(options.outputPath), c.ok);
    std::filesystem::remove(options.outputPath);
  }
}

TEST_F(CloudWorker, OnlyTheNewestEstimateIsAnsweredLate) {
  net_.gated = true;
  MemoryHost host;
  CloudController controller(host, &net_);
  Bridge bridge;
  std::vector<json> sent;
  bridge.setSender([&](const std::string& text) { sent.push_back(json::parse(text)); });
  controller.registerHandlers(bridge);
  controller.page().attach(&bridge);

  bridge.handleMessage(R"({"type":"frameEstimate","bboxWgs84":[21.5,51.5,21.51,51.51],"detail":"lekki"})");
  bridge.handleMessage(R"({"type":"frameEstimate","bboxWgs84":[21.5,51.5,21.501,51.501],"detail":"full"})");
  net_.open();
  platform::MainLoop& loop = platform::MainLoop::instance();
  loop.run([] { return true; });   // until both workers are done and their tasks have run

  ASSERT_EQ(sent.size(), 3u);
  EXPECT_EQ(sent[1]["density"], 12.0);
  EXPECT_EQ(sent[2]["density"], 20.0);
  // The late one is the second frame's, at the index's density.
  EXPECT_NEAR(sent[2]["points"].get<double>() / sent[1]["points"].get<double>(), 20.0 / 12.0, 1e-4);
  EXPECT_EQ(controller.cachedDensity(), 20.0);
  controller.page().detach();
}

}  // namespace
}  // namespace veldra
