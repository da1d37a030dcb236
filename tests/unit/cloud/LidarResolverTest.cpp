#include <gtest/gtest.h>

#include "cloud/LidarResolver.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using veldra::testing::ScopedEnv;
using veldra::testing::startServer;
using veldra::testing::stats;
using veldra::testing::TempDir;

std::string member(const std::string& godlo, const std::string& url, const std::string& uklad,
                   const std::string& density) {
  return "<wfs:member><gugik:SkorowidzDanychPomiarowychLIDAR2024><gugik:godlo>" + godlo +
         "</gugik:godlo><gugik:char_przestrz>" + density + "</gugik:char_przestrz><gugik:uklad_xy>" + uklad +
         "</gugik:uklad_xy><gugik:url_do_pobrania>" + url +
         "</gugik:url_do_pobrania></gugik:SkorowidzDanychPomiarowychLIDAR2024></wfs:member>";
}

class Resolver : public veldra::testing::NetTest {
 protected:
  TempDir home;
  ScopedEnv cacheHome{"XDG_CACHE_HOME", home.path().string()};
};

// The index answer gives the tiles in order (foreign addresses dropped), and a tile is fetched
// once: the second download is answered from the cache without traffic or progress.
TEST_F(Resolver, TilesFromTheIndexAndOneTransferPerTile) {
  const std::string index =
      "<wfs:FeatureCollection>" + member("N-34-1", "ftp://x/a.laz", "PL-1992", "12") +
      member("N-34-2", "https://opendata.geoportal.gov.pl/t/b.laz", "PL-2000:S7", "4.5") +
      member("N-34-3", "https://opendata.geoportal.gov.pl/t/missing.laz", "PL-1992", "") + "</wfs:FeatureCollection>";
  nlohmann::json manifest = {{"routes",
                              {{{"path", "/mapy/wss/service/PZGIK/DanePomiaroweLidarEVRF2007/WFS/Skorowidze"},
                                {"body", index}},
                               {{"path", "/opendata/t/b.laz"}, {"body_size", 5000}}}}};
  auto server = startServer(manifest.dump());
  ASSERT_TRUE(server);
  endpoints::setProcessRewriteTable(endpoints::loopbackRewrites(server->baseUrl()));
  WfsClient client;
  client.setHostSpacingMs(0);
  const LidarResolver resolver(client);

  const std::vector<LidarTile> tiles = resolver.queryLidarIndex(Bbox{500000, 400000, 500100, 400100});
  ASSERT_EQ(tiles.size(), 2u);
  EXPECT_EQ(tiles[0].godlo, "N-34-2");
  EXPECT_EQ(tiles[0].epsg, 2178);
  EXPECT_DOUBLE_EQ(tiles[0].density, 4.5);
  EXPECT_DOUBLE_EQ(tiles[1].density, 0.0);

  int progressCalls = 0;
  const ProgressFn count = [&](std::int64_t, std::int64_t) { return ++progressCalls > 0; };
  const std::string first = resolver.download(tiles[0], count);
  ASSERT_FALSE(first.empty());
  EXPECT_EQ(std::filesystem::file_size(first), 5000u);
  const int before = stats(*server)["total"].get<int>();
  progressCalls = 0;
  EXPECT_EQ(resolver.download(tiles[0], count), first);
  EXPECT_EQ(resolver.download(tiles[0]), first);
  EXPECT_EQ(stats(*server)["total"].get<int>(), before);
  EXPECT_EQ(progressCalls, 0);

  EXPECT_EQ(resolver.download(tiles[1]), "");  // 404
  const ProgressFn cancel = [](std::int64_t, std::int64_t) { return false; };
  LidarTile other = tiles[0];
  other.url += "?again";
  EXPECT_EQ(resolver.download(other, cancel), "");
}

}  // namespace
}  // namespace veldra
