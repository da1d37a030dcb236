// The cloud palette's estimate and the download worker's point limit, against a transport that
// serves an index and one tile. That only the newest estimate reaches the page is a black-box test.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>

#include "cloud_ui/CloudDownload.h"
#include "cloud_ui/CloudEstimate.h"
#include "net/HttpTransport.h"
#include "unit/TestSupport.h"
#include "unit/cloud/LasBuilder.h"

namespace veldra {
namespace {

using cloudui::Detail;

TEST(CloudEstimate, DensityCappedByTheDetailsVoxel) {
  struct Case {
    double area, density;
    Detail detail;
    std::int64_t points;
    bool over;
  } cases[] = {
      {1e6, 12, Detail::Standard, 12'000'000, true},    // 25 points/m² do not bite
      {1e6, 12, Detail::Lekki, 4'000'000, false},       // 4 points/m² do
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
}

// Serves the LiDAR index (density 20, one tile) and the tile.
class FakeLidar : public HttpTransport {
 public:
  std::string tile;

  TransportResponse performRequest(const std::string&, const std::string&, const std::string&, const std::string&,
                                   long, long, const std::string&) override {
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
};

TEST(CloudWorker, PointLimitEndsTheDownloadWithItsMessage) {
  const testing::TempDir dir;
  const testing::ScopedEnv cache("XDG_CACHE_HOME", dir.file("cache")), spacing("VELDRA_HOST_SPACING_MS", "0");
  // Ten points 10 cm apart eastwards near the frame's corner: a few voxels of 0.5 m hold them.
  const Bbox frame{500000, 600000, 500100, 600100};
  const double scale[3] = {0.01, 0.01, 0.01}, offset[3] = {frame.minX, frame.minY, 0};
  std::vector<test::LasTestPoint> pts;
  for (int i = 0; i < 10; ++i) pts.push_back({10 * i + 50, 50, 10000});
  test::writeLasFile(dir.file("t.las"), 0, pts, scale, offset);
  FakeLidar net;
  net.tile = testing::readText(dir.file("t.las"));
  struct Case {
    Detail detail;
    std::size_t limit;
    bool ok;
    std::int64_t fewest, most;   // points written
  } cases[] = {
      {Detail::Full, 9, false, 0, 0}, {Detail::Full, 10, true, 10, 10}, {Detail::Lekki, 9, true, 1, 9},
  };
  for (const Case& c : cases) {
    WfsClient client(&net);
    const std::atomic<bool> cancel{false};
    CloudDownloadOptions options;
    options.pointLimit = c.limit;
    options.outputPath = dir.file("out.e57");
    const CloudDownloadResult r =
        runCloudDownload(CloudDownloadJob{frame, c.detail, 2178, 0, 0, 0, false}, client, cancel, {}, options);
    EXPECT_EQ(r.ok, c.ok) << r.message;
    EXPECT_TRUE(r.count >= c.fewest && r.count <= c.most) << r.count;
    if (!c.ok) {
      EXPECT_EQ(r.message, "Za duzo punktow - zmniejsz kadr lub obniz jakosc.");
    }
    EXPECT_EQ(std::filesystem::exists(options.outputPath), c.ok);
    std::filesystem::remove(options.outputPath);
  }
}

}  // namespace
}  // namespace veldra
