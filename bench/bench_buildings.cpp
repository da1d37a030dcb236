// County packages of 3D buildings: a synthetic package (VELDRA_BENCH_PACKAGE_MB of GML, default
// 200, in 400 sheets of LOD2 buildings) built once in a temporary folder, then
//   - the sheet index build over the whole package,
//   - a frame query that opens only the sheets the frame touches (counter sheets_read),
//   - LOD2 parsing of one sheet next to `ogrinfo` reading the same sheet (counter ogr_ratio:
//     ogrinfo's time over ours, measured in the same run),
//   - placing 5 000 LOD2 buildings as morphs in the stand-in host,
// with the peak resident memory (counter peak_rss_mb) and the largest sheet (largest_sheet_mb).
#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <zip.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>

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

// One LOD2 building: a box with a gable roof, faces as in the national files.
void appendBuilding(std::string& out, int id, double x, double y, std::mt19937& rng) {
  std::uniform_real_distribution<double> d(6, 14);
  const double w = d(rng), l = d(rng), z0 = 200 + d(rng), h = d(rng), r = h + 3;
  char b[256];
  const auto ring = [&](std::initializer_list<std::array<double, 3>> pts) {
    out += "<bldg:boundedBy><bldg:WallSurface><bldg:lod2MultiSurface><gml:MultiSurface><gml:surfaceMember><gml:Polygon>"
           "<gml:exterior><gml:LinearRing><gml:posList>";
    for (const auto& p : pts) {
      std::snprintf(b, sizeof b, "%.2f %.2f %.2f ", p[0], p[1], p[2]);
      out += b;
    }
    out += "</gml:posList></gml:LinearRing></gml:exterior></gml:Polygon></gml:surfaceMember></gml:MultiSurface>"
           "</bldg:lod2MultiSurface></bldg:WallSurface></bldg:boundedBy>";
  };
  out += "<core:cityObjectMember><bldg:Building gml:id=\"B" + std::to_string(id) + "\"><bldg:roofType>1030</bldg:roofType>";
  const double X = x + w, Y = y + l, M = y + l / 2;
  ring({{x, y, z0}, {x, Y, z0}, {X, Y, z0}, {X, y, z0}, {x, y, z0}});
  ring({{x, y, z0}, {X, y, z0}, {X, y, z0 + h}, {x, y, z0 + h}, {x, y, z0}});
  ring({{X, Y, z0}, {x, Y, z0}, {x, Y, z0 + h}, {X, Y, z0 + h}, {X, Y, z0}});
  ring({{X, y, z0}, {X, Y, z0}, {X, Y, z0 + h}, {X, M, z0 + r}, {X, y, z0 + h}, {X, y, z0}});
  ring({{x, Y, z0}, {x, y, z0}, {x, y, z0 + h}, {x, M, z0 + r}, {x, Y, z0 + h}, {x, Y, z0}});
  ring({{x, y, z0 + h}, {X, y, z0 + h}, {X, M, z0 + r}, {x, M, z0 + r}, {x, y, z0 + h}});
  ring({{X, Y, z0 + h}, {x, Y, z0 + h}, {x, M, z0 + r}, {X, M, z0 + r}, {X, Y, z0 + h}});
  out += "</bldg:Building></core:cityObjectMember>";
}

std::string sheetText(int sx, int sy, std::size_t bytes, int& nextId) {
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
  std::uniform_real_distribution<double> pos(0, kSheetSize - 20);
  while (s.size() < bytes) appendBuilding(s, nextId++, x0 + pos(rng), y0 + pos(rng), rng);
  return s + "</core:CityModel>";
}

struct Package {
  fs::path dir, zip, firstSheet;
  int buildings = 0;
  double largestSheetMb = 0;
};

const Package& package() {
  static Package p = [] {
    Package out;
    const char* mb = std::getenv("VELDRA_BENCH_PACKAGE_MB");
    const std::size_t total = static_cast<std::size_t>(mb ? std::atof(mb) : 200.0) << 20;
    out.dir = fs::temp_directory_path() / "veldra-bench-buildings";
    fs::create_directories(out.dir);
    out.zip = out.dir / "0000_gml.zip";
    out.firstSheet = out.dir / "sheet_0_0.gml";
    fs::remove(out.zip);
    fs::remove(out.zip.string() + ".idx");
    int err = 0;
    zip_t* z = zip_open(out.zip.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    int id = 0;
    for (int sx = 0; sx < kSheetsPerSide; ++sx)
      for (int sy = 0; sy < kSheetsPerSide; ++sy) {
        const std::string text = sheetText(sx, sy, total / (kSheetsPerSide * kSheetsPerSide), id);
        out.largestSheetMb = std::max(out.largestSheetMb, static_cast<double>(text.size()) / (1 << 20));
        // Sheets go through files: libzip reads its sources only at close, and holding them all
        // would put the whole package into the peak memory measured below.
        const fs::path sheetPath = out.dir / ("sheet_" + std::to_string(sx) + "_" + std::to_string(sy) + ".gml");
        std::ofstream(sheetPath, std::ios::binary) << text;
        zip_source_t* src = zip_source_file(z, sheetPath.c_str(), 0, 0);
        zip_file_add(z, ("LOD2/" + std::to_string(sx) + "_" + std::to_string(sy) + ".gml").c_str(), src, 0);
      }
    zip_close(z);
    for (int sx = 0; sx < kSheetsPerSide; ++sx)
      for (int sy = 0; sy < kSheetsPerSide; ++sy)
        if (sx || sy) fs::remove(out.dir / ("sheet_" + std::to_string(sx) + "_" + std::to_string(sy) + ".gml"));
    out.buildings = id;
    return out;
  }();
  return p;
}

void BM_BuildSheetIndex(benchmark::State& state) {
  const Package& p = package();
  std::string why;
  const auto pkg = veldra::ZipPackage::open(p.zip.string(), why);
  for (auto _ : state) benchmark::DoNotOptimize(veldra::buildSheetIndex(*pkg).entries.size());
  state.counters["buildings"] = p.buildings;
  state.counters["package_mb"] = static_cast<double>(fs::file_size(p.zip)) / (1 << 20);
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
