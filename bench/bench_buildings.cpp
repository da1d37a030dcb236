// County packages of 3D buildings: a synthetic package (VELDRA_BENCH_PACKAGE_MB of ZIP, default
// 200, in 400 sheets of LOD2 buildings) built once in a temporary folder, then
//   - the sheet index build over the whole package,
//   - a frame query that opens only the sheets the frame touches (counter sheets_read),
//   - LOD2 parsing of one sheet next to `ogrinfo` reading the same sheet (counter ogr_ratio:
//     ogrinfo's time over ours, measured in the same run),
//   - placing 5 000 LOD2 buildings as morphs in the stand-in host,
// with the peak resident memory (counter peak_rss_mb; the package is written by a child process,
// so it is what the benchmarks themselves used) and the largest sheet (largest_sheet_mb).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zip.h>

#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "formats/CityGml.h"
#include "host/MemoryHost.h"
#include "net/BuildingPackages.h"
#include "place/Solids.h"

namespace {

namespace fs = std::filesystem;
constexpr int kSheetsPerSide = 20;   // 400 sheets
constexpr double kSheetSize = 1000;

double peakRssMb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return static_cast<double>(u.ru_maxrss) / 1024.0;
}

// One LOD2 building in the national files' style: a footprint of 36 to 72
// corners, a ground face, a wall per edge and a roof of triangles to a ridge
// point, every polygon with its own identifier and every vertex its own
// <gml:pos>. Such text compresses about as much as the published packages.
void appendBuilding(std::string& out, int id, double x, double y, std::mt19937& rng) {
  std::uniform_real_distribution<double> u(0, 1);
  const int n = 36 + static_cast<int>(u(rng) * 37);
  const double z0 = 200 + 20 * u(rng), h = 4 + 10 * u(rng), r = h + 1 + 3 * u(rng);
  std::vector<std::array<double, 2>> c;
  for (int i = 0; i < n; ++i) {
    const double a = 2 * M_PI * (i + 0.8 * u(rng)) / n, rad = 5 + 4 * u(rng);
    c.push_back({x + rad * std::cos(a), y + rad * std::sin(a)});
  }
  char b[160];
  const auto face = [&](const char* kind, const std::vector<std::array<double, 3>>& pts) {
    std::snprintf(b, sizeof b, "%08x%08x", static_cast<unsigned>(rng()), static_cast<unsigned>(rng()));
    out += std::string("<bldg:boundedBy><bldg:") + kind + "><bldg:lod2MultiSurface><gml:MultiSurface><gml:surfaceMember>"
           "<gml:Polygon gml:id=\"PL.PZGiK.994.LOD2_" + b + "\"><gml:exterior><gml:LinearRing>";
    for (const auto& p : pts) {
      std::snprintf(b, sizeof b, "<gml:pos srsDimension=\"3\">%.2f %.2f %.2f</gml:pos>", p[0], p[1], p[2]);
      out += b;
    }
    out += std::string("</gml:LinearRing></gml:exterior></gml:Polygon></gml:surfaceMember></gml:MultiSurface>"
                       "</bldg:lod2MultiSurface></bldg:") + kind + "></bldg:boundedBy>";
  };
  std::snprintf(b, sizeof b, "<core:cityObjectMember><bldg:Building gml:id=\"B%d\"><bldg:roofType>1130</bldg:roofType>"
                "<bldg:measuredHeight uom=\"m\">%.2f</bldg:measuredHeight>", id, r);
  out += b;
  std::vector<std::array<double, 3>> ground;
  for (int i = n; i >= 0; --i) ground.push_back({c[i % n][0], c[i % n][1], z0});
  face("GroundSurface", ground);
  const std::array<double, 3> apex{x, y, z0 + r};
  for (int i = 0; i < n; ++i) {
    const auto& p = c[i];
    const auto& q = c[(i + 1) % n];
    face("WallSurface", {{p[0], p[1], z0}, {q[0], q[1], z0}, {q[0], q[1], z0 + h}, {p[0], p[1], z0 + h}, {p[0], p[1], z0}});
    face("RoofSurface", {{p[0], p[1], z0 + h}, {q[0], q[1], z0 + h}, apex, {p[0], p[1], z0 + h}});
  }
  out += "</bldg:Building></core:cityObjectMember>";
}

std::string sheetText(int sx, int sy, int buildings, int& nextId) {
  std::mt19937 rng(static_cast<unsigned>(sx * 1000 + sy));
  const double x0 = 500000 + sx * kSheetSize, y0 = 250000 + sy * kSheetSize;
  char env[256];
  std::snprintf(env, sizeof env,
                "<gml:boundedBy><gml:Envelope><gml:lowerCorner>%.2f %.2f 0</gml:lowerCorner><gml:upperCorner>%.2f %.2f "
                "300</gml:upperCorner></gml:Envelope></gml:boundedBy>",
                x0, y0, x0 + kSheetSize, y0 + kSheetSize);
  std::string s = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><core:CityModel xmlns:core=\"http://www.opengis.net/citygml/2.0\" "
                  "xmlns:bldg=\"http://www.opengis.net/citygml/building/2.0\" xmlns:gml=\"http://www.opengis.net/gml\">";
  s += env;
  std::uniform_real_distribution<double> pos(10, kSheetSize - 10);
  for (int i = 0; i < buildings; ++i) appendBuilding(s, nextId++, x0 + pos(rng), y0 + pos(rng), rng);
  return s + "</core:CityModel>";
}

struct Package {
  fs::path dir, zip, firstSheet;
  int buildings = 0;
  double largestSheetMb = 0, gmlMb = 0;
  double startRssMb = 0;   // this process before any benchmark ran
};

// Compressed size of one text as the package will hold it.
std::uint64_t deflatedSize(const fs::path& dir, const std::string& text) {
  const fs::path probe = dir / "probe.zip";
  int err = 0;
  zip_t* z = zip_open(probe.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  zip_file_add(z, "s.gml", zip_source_buffer(z, text.data(), text.size(), 0), 0);
  zip_close(z);
  z = zip_open(probe.c_str(), ZIP_RDONLY, &err);
  zip_stat_t st;
  zip_stat_init(&st);
  zip_stat_index(z, 0, 0, &st);
  zip_close(z);
  fs::remove(probe);
  return st.comp_size;
}

// The package is written by a child process, so that the text it generates
// never counts in this process's peak memory; a package of the same size
// from an earlier run is reused.
Package buildPackage() {
  Package out;
  const char* mb = std::getenv("VELDRA_BENCH_PACKAGE_MB");
  const double targetMb = mb ? std::atof(mb) : 200.0;
  out.dir = fs::temp_directory_path() / "veldra-bench-buildings";
  out.zip = out.dir / "0000_gml.zip";
  out.firstSheet = out.dir / "sheet_0_0.gml";
  const fs::path meta = out.dir / ("meta_" + std::to_string(static_cast<int>(targetMb)) + ".txt");
  if (!fs::exists(meta) || !fs::exists(out.zip)) {
    fs::remove_all(out.dir);
    fs::create_directories(out.dir);
    const pid_t child = fork();
    if (child == 0) {
      // Buildings per sheet so that the compressed package reaches the target.
      int id = 0;
      const int probeCount = 125;
      const std::uint64_t probe = deflatedSize(out.dir, sheetText(0, 0, probeCount, id));
      const double perSheet = targetMb * (1 << 20) / (kSheetsPerSide * kSheetsPerSide);
      const int count = std::max(probeCount, static_cast<int>(std::ceil(probeCount * perSheet / static_cast<double>(probe))));
      id = 0;
      double largest = 0, gml = 0;
      int err = 0;
      zip_t* z = zip_open(out.zip.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
      for (int sx = 0; sx < kSheetsPerSide; ++sx)
        for (int sy = 0; sy < kSheetsPerSide; ++sy) {
          const std::string text = sheetText(sx, sy, count, id);
          largest = std::max(largest, static_cast<double>(text.size()) / (1 << 20));
          gml += static_cast<double>(text.size()) / (1 << 20);
          // Sheets go through files: libzip reads its sources only at close.
          const fs::path sheetPath = out.dir / ("sheet_" + std::to_string(sx) + "_" + std::to_string(sy) + ".gml");
          std::ofstream(sheetPath, std::ios::binary) << text;
          zip_file_add(z, ("LOD2/" + std::to_string(sx) + "_" + std::to_string(sy) + ".gml").c_str(),
                       zip_source_file(z, sheetPath.c_str(), 0, 0), 0);
        }
      zip_close(z);
      for (int sx = 0; sx < kSheetsPerSide; ++sx)
        for (int sy = 0; sy < kSheetsPerSide; ++sy)
          if (sx || sy) fs::remove(out.dir / ("sheet_" + std::to_string(sx) + "_" + std::to_string(sy) + ".gml"));
      std::ofstream(meta) << id << " " << largest << " " << gml << "\n";
      std::_Exit(0);
    }
    int status = 0;
    waitpid(child, &status, 0);
  }
  std::ifstream(meta) >> out.buildings >> out.largestSheetMb >> out.gmlMb;
  out.startRssMb = peakRssMb();
  return out;
}

const Package& package() {
  static const Package p = buildPackage();
  return p;
}

void BM_BuildSheetIndex(benchmark::State& state) {
  const Package& p = package();
  std::string why;
  const auto pkg = veldra::ZipPackage::open(p.zip.string(), why);
  for (auto _ : state) benchmark::DoNotOptimize(veldra::buildSheetIndex(*pkg).entries.size());
  state.counters["buildings"] = p.buildings;
  state.counters["package_mb"] = static_cast<double>(fs::file_size(p.zip)) / (1 << 20);
  state.counters["gml_mb"] = p.gmlMb;
  state.counters["peak_rss_mb"] = peakRssMb();
}

void BM_FrameQuery(benchmark::State& state) {
  const Package& p = package();
  std::string why;
  const auto pkg = veldra::ZipPackage::open(p.zip.string(), why);
  const auto index = veldra::buildSheetIndex(*pkg).entries;
  const veldra::Bbox frame{500400, 250400, 500600, 250600};   // inside the first sheet only
  std::size_t read = 0, buildings = 0;
  for (auto _ : state) {
    const auto sheets = veldra::sheetsInFrame(index, frame);
    read = sheets.size();
    for (const auto& s : sheets) {
      const auto r = pkg->read(s.name, std::uint64_t{1} << 30, veldra::ZipPackage::Extent::Whole);
      buildings = veldra::parseLod2Buildings(r.bytes, frame).size();
    }
  }
  state.counters["sheets_read"] = static_cast<double>(read);
  state.counters["sheets_total"] = static_cast<double>(index.size());
  state.counters["buildings_in_frame"] = static_cast<double>(buildings);
  state.counters["peak_rss_mb"] = peakRssMb();
  state.counters["peak_over_start_mb"] = peakRssMb() - p.startRssMb;
  state.counters["largest_sheet_mb"] = p.largestSheetMb;
}

void BM_ParseLod2SheetVsOgrinfo(benchmark::State& state) {
  const Package& p = package();
  std::ifstream in(p.firstSheet, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  const double inf = 1e300;
  double ours = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    benchmark::DoNotOptimize(veldra::parseLod2Buildings(text, {-inf, -inf, inf, inf}).size());
    ours = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
  const auto t0 = std::chrono::steady_clock::now();
  const std::string cmd = "ogrinfo -oo WRITE_GFS=NO -al -q " + p.firstSheet.string() + " > /dev/null 2>&1";
  const int rc = std::system(cmd.c_str());
  const double ogr = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  if (rc == 0 && ours > 0) state.counters["ogr_ratio"] = ogr / ours;
}

void BM_PlaceLod2(benchmark::State& state) {
  const Package& p = package();
  std::ifstream in(p.firstSheet, std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), {});
  const double inf = 1e300;
  const auto sheet = veldra::parseLod2Buildings(text, {-inf, -inf, inf, inf});
  std::vector<veldra::BuildingLod2> buildings;
  for (std::size_t i = 0; !sheet.empty() && buildings.size() < 5000; ++i) buildings.push_back(sheet[i % sheet.size()]);
  const auto local = [](veldra::Point2 q) { return veldra::Point2{q.x - 500000, q.y - 250000}; };
  for (auto _ : state) {
    veldra::MemoryHost host;
    int layer = 0;
    host.createAttribute(veldra::AttributeKind::Layer, "GIS_BUDYNKI_LOD2", 0, 0, 0, layer);
    benchmark::DoNotOptimize(veldra::placeLod2Buildings(host, buildings, layer, 0, local).created);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * buildings.size()));
  state.counters["peak_rss_mb"] = peakRssMb();
}

BENCHMARK(BM_BuildSheetIndex)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_FrameQuery)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseLod2SheetVsOgrinfo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlaceLod2)->Unit(benchmark::kMillisecond)->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
