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

TEST(ProjectionsVsProj, Pl1992AndPl2000ZonesForwardAndInverse) {
  if (!haveCs2cs()) GTEST_SKIP() << "cs2cs (proj-bin) not installed";
  const auto grid = polandGrid();
  for (int code : {2180, 2176, 2177, 2178, 2179}) {
    const bool zone = code != 2180;
    // A zone's own points plus the half-degree margin that projects use across zone borders.
    std::vector<LatLon> pts;
    const double cm = (code - 2176) * 3 + 15;
    for (const auto& p : grid)
      if (!zone || std::abs(p.lon - cm) <= 2.0) pts.push_back(p);
    ASSERT_FALSE(pts.empty());
    std::vector<std::pair<double, double>> in;
    for (const auto& p : pts) in.emplace_back(p.lat, p.lon);
    const std::string epsg = "EPSG:" + std::to_string(code);
    const auto ref = runCs2cs("EPSG:4326", epsg, in);
    ASSERT_EQ(ref.size(), pts.size());
    // PL-2000 -> PL-1992 as PROJ sees it (cs2cs takes N, E as it gave them), to check pl2000ToPl1992 directly.
    const auto ref1992 = zone ? runCs2cs(epsg, "EPSG:2180", ref) : ref;
    ASSERT_EQ(ref1992.size(), pts.size());

    double worstFwd = 0, worstInv = 0, worstTo1992 = 0;
    for (std::size_t i = 0; i < pts.size(); ++i) {
      const auto [e92, n92] = wgs84ToPl1992(pts[i].lat, pts[i].lon);
      const auto [e, n] = zone ? pl1992ToPl2000(e92, n92, code) : std::pair{e92, n92};
      const double refN = ref[i].first, refE = ref[i].second;
      worstFwd = std::max(worstFwd, std::hypot(e - refE, n - refN));
      const auto [lat, lon] = zone ? pl2000ToWgs84(refE, refN, code) : pl1992ToWgs84(refE, refN);
      worstInv = std::max(worstInv, degToMetres(lat - pts[i].lat, lon - pts[i].lon, lat));
      const auto [be, bn] = zone ? pl2000ToPl1992(refE, refN, code) : std::pair{refE, refN};
      worstTo1992 = std::max(worstTo1992, std::hypot(be - ref1992[i].second, bn - ref1992[i].first));
    }
    std::printf("%s largest difference to PROJ: forward %.3f mm, inverse %.3f mm, 2000->1992 %.3f mm "
                "over %zu points\n",
                epsg.c_str(), worstFwd * 1000, worstInv * 1000, worstTo1992 * 1000, pts.size());
    EXPECT_LT(worstFwd, 0.002) << epsg;
    EXPECT_LT(worstInv, 0.002) << epsg;
    EXPECT_LT(worstTo1992, 0.002) << epsg;
  }
}

}  // namespace
}  // namespace veldra
