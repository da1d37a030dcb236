// Our transverse Mercator series against PROJ's cs2cs on a grid over Poland.
// cs2cs uses the EPSG axis order: latitude first for 4326, northing first for 2180 and 2176-2179.
#include "geo/Projections.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace veldra {
namespace {

struct LatLon {
  double lat, lon;
};

std::vector<LatLon> polandGrid() {
  std::vector<LatLon> pts;
  for (double lat = 49.0; lat <= 54.85; lat += 0.25)
    for (double lon = 14.12; lon <= 24.15; lon += 0.25) pts.push_back({lat, lon});
  return pts;
}

// Runs cs2cs on pairs written as given; returns the first two output numbers per line.
std::vector<std::pair<double, double>> runCs2cs(const std::string& from, const std::string& to,
                                                const std::vector<std::pair<double, double>>& in) {
  const auto dir = std::filesystem::temp_directory_path();
  const auto inPath = dir / ("veldra_cs2cs_in_" + std::to_string(::getpid()) + ".txt");
  const auto outPath = dir / ("veldra_cs2cs_out_" + std::to_string(::getpid()) + ".txt");
  {
    std::ofstream f(inPath);
    f.precision(15);
    for (const auto& [a, b] : in) f << a << ' ' << b << '\n';
  }
  const std::string cmd = "cs2cs -f %.7f " + from + " " + to + " < " + inPath.string() + " > " + outPath.string();
  const int rc = std::system(cmd.c_str());
  std::vector<std::pair<double, double>> out;
  if (rc != 0) return out;
  std::ifstream f(outPath);
  std::string line;
  while (std::getline(f, line)) {
    std::istringstream ls(line);
    double a = 0, b = 0;
    if (ls >> a >> b) out.emplace_back(a, b);
  }
  std::filesystem::remove(inPath);
  std::filesystem::remove(outPath);
  return out;
}

bool haveCs2cs() { return std::system("command -v cs2cs > /dev/null 2>&1") == 0; }

// Metres per degree, good enough to express angular differences as ground distance.
double degToMetres(double dLat, double dLon, double lat) {
  const double kM = 111320.0;
  return std::hypot(dLat * kM, dLon * kM * std::cos(lat * 3.141592653589793 / 180.0));
}

TEST(ProjectionsVsProj, Pl1992ForwardAndInverse) {
  if (!haveCs2cs()) GTEST_SKIP() << "cs2cs (proj-bin) not installed";
  const auto grid = polandGrid();
  std::vector<std::pair<double, double>> in;
  for (const auto& p : grid) in.emplace_back(p.lat, p.lon);
  const auto ref = runCs2cs("EPSG:4326", "EPSG:2180", in);
  ASSERT_EQ(ref.size(), grid.size());

  double worstFwd = 0, worstInv = 0;
  std::vector<std::pair<double, double>> refEN;
  for (std::size_t i = 0; i < grid.size(); ++i) {
    const auto [e, n] = wgs84ToPl1992(grid[i].lat, grid[i].lon);
    const double refN = ref[i].first, refE = ref[i].second;
    worstFwd = std::max(worstFwd, std::hypot(e - refE, n - refN));
    const auto [lat, lon] = pl1992ToWgs84(refE, refN);
    worstInv = std::max(worstInv, degToMetres(lat - grid[i].lat, lon - grid[i].lon, lat));
  }
  std::printf("EPSG:2180 largest difference to PROJ: forward %.3f mm, inverse %.3f mm over %zu points\n",
              worstFwd * 1000, worstInv * 1000, grid.size());
  EXPECT_LT(worstFwd, 0.002);
  EXPECT_LT(worstInv, 0.002);
}

TEST(ProjectionsVsProj, Pl2000ZonesFromWgs84AndFromPl1992) {
  if (!haveCs2cs()) GTEST_SKIP() << "cs2cs (proj-bin) not installed";
  const auto grid = polandGrid();
  for (int zone = 2176; zone <= 2179; ++zone) {
    // Points whose zone is this one, plus a half-degree margin that projects use across zone borders.
    std::vector<LatLon> pts;
    const double cm = (zone - 2176) * 3 + 15;
    for (const auto& p : grid)
      if (std::abs(p.lon - cm) <= 2.0) pts.push_back(p);
    ASSERT_FALSE(pts.empty());
    std::vector<std::pair<double, double>> in;
    for (const auto& p : pts) in.emplace_back(p.lat, p.lon);
    const std::string epsg = "EPSG:" + std::to_string(zone);
    const auto ref = runCs2cs("EPSG:4326", epsg, in);
    ASSERT_EQ(ref.size(), pts.size());

    // PL-2000 -> PL-1992 as PROJ sees it, to check pl2000ToPl1992 directly.
    std::vector<std::pair<double, double>> ref2000;
    for (const auto& r : ref) ref2000.emplace_back(r.first, r.second);   // N, E as cs2cs wants
    const auto ref1992 = runCs2cs(epsg, "EPSG:2180", ref2000);
    ASSERT_EQ(ref1992.size(), pts.size());

    double worstVia1992 = 0, worstInv = 0, worstTo1992 = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const auto [e92, n92] = wgs84ToPl1992(pts[i].lat, pts[i].lon);
      const auto [e, n] = pl1992ToPl2000(e92, n92, zone);
      const double refN = ref[i].first, refE = ref[i].second;
      worstVia1992 = std::max(worstVia1992, std::hypot(e - refE, n - refN));
      const auto [lat, lon] = pl2000ToWgs84(refE, refN, zone);
      worstInv = std::max(worstInv, degToMetres(lat - pts[i].lat, lon - pts[i].lon, lat));
      const auto [be, bn] = pl2000ToPl1992(refE, refN, zone);
      worstTo1992 = std::max(worstTo1992, std::hypot(be - ref1992[i].second, bn - ref1992[i].first));
    }
    std::printf("%s largest difference to PROJ: WGS84->1992->2000 %.3f mm, inverse %.3f mm, 2000->1992 %.3f mm "
                "over %zu points\n",
                epsg.c_str(), worstVia1992 * 1000, worstInv * 1000, worstTo1992 * 1000, pts.size());
    EXPECT_LT(worstVia1992, 0.002) << epsg;
    EXPECT_LT(worstInv, 0.002) << epsg;
    EXPECT_LT(worstTo1992, 0.002) << epsg;
  }
}

}  // namespace
}  // namespace veldra
