// Roof reconstruction on synthetic buildings: for every primitive of the catalogue, 24
// buildings of varied size, heights, footprint (rectangles, skewed quadrilaterals, L plans
// where the kind takes any footprint) and orientation are built by that primitive and
// listed from any corner either way round, and sampled the way a LiDAR survey sees them: 12 points per m² over the footprint, each the
// highest surface under it (ground where the solid leaves the footprint), 5 cm of height
// noise and 1 % outliers. One benchmark per true kind reconstructs its buildings and reports
//   buildings_per_s   throughput,
//   as_<Kind>         share classified as each of the five kinds (the confusion table's row),
//   mean_distance     mean of the buildings' mean surface distances (m),
//   flagged           share marked for correction.
// Build with `scripts/build.sh release`; run build/release/bench/bench_roof_fit.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Reconstruction.h"
#include "lod2fit/RoofPrimitive.h"

namespace {

using namespace veldra;
using namespace veldra::lod2fit;

constexpr int kBuildingsPerKind = 24;
constexpr double kPointsPerM2 = 12;
const char* const kClassified[] = {"Flat", "Shed", "Gabled", "AsymGabled", "Hipped"};

bool takesAnyFootprint(const std::string& kind) { return kind == "Flat" || kind == "Shed" || kind == "Tent"; }

std::vector<Point2> footprintFor(const std::string& kind, std::mt19937& rng) {
  std::uniform_real_distribution<double> len(9, 22), dep(6, 12), skew(-1.5, 1.5), pick(0, 1);
  const double w = len(rng), d = std::min(dep(rng), w);
  const double choice = pick(rng);
  if (takesAnyFootprint(kind) && choice < 0.3)
    return {{0, 0}, {w, 0}, {w, d * 0.5}, {w * 0.5, d * 0.5}, {w * 0.5, d}, {0, d}};
  if (choice < 0.7) return {{0, 0}, {w, 0}, {w, d}, {0, d}};
  return {{0, 0}, {w, 0}, {w + skew(rng), d}, {skew(rng), d}};
}

// Heights of the solid's upward faces over (x, y): the highest, or nothing.
struct Surface {
  struct Tri {
    Point3 a, b, c;
  };
  std::vector<Tri> tris;
  explicit Surface(const RoofMesh& m) {
    for (const auto& f : m.faces)
      for (std::size_t j = 2; j < f.size(); ++j) {
        const Tri t{m.vertices[f[0]], m.vertices[f[j - 1]], m.vertices[f[j]]};
        if ((t.b.x - t.a.x) * (t.c.y - t.a.y) - (t.b.y - t.a.y) * (t.c.x - t.a.x) > 1e-9) tris.push_back(t);
      }
  }
  bool heightAt(double x, double y, double& z) const {
    bool hit = false;
    for (const Tri& t : tris) {
      const double det = (t.b.x - t.a.x) * (t.c.y - t.a.y) - (t.b.y - t.a.y) * (t.c.x - t.a.x);
      const double u = ((x - t.a.x) * (t.c.y - t.a.y) - (y - t.a.y) * (t.c.x - t.a.x)) / det;
      const double v = ((t.b.x - t.a.x) * (y - t.a.y) - (t.b.y - t.a.y) * (x - t.a.x)) / det;
      if (u < 0 || v < 0 || u + v > 1) continue;
      const double h = t.a.z + u * (t.b.z - t.a.z) + v * (t.c.z - t.a.z);
      if (!hit || h > z) z = h;
      hit = true;
    }
    return hit;
  }
};

bool inside(const std::vector<Point2>& poly, double x, double y) {
  bool in = false;
  for (std::size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
    if ((poly[i].y > y) != (poly[j].y > y) &&
        x < poly[j].x + (poly[i].x - poly[j].x) * (y - poly[j].y) / (poly[i].y - poly[j].y))
      in = !in;
  return in;
}

std::vector<ReconstructionInput> buildingsOf(const RoofPrimitive& kind, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> ground(90, 250), wall(3, 9), rise(2, 6), hip(1, 4), turn(0, 360), unit(0, 1);
  std::uniform_int_distribution<int> dormers(1, 3);
  std::normal_distribution<double> noise(0, 0.05);
  std::vector<ReconstructionInput> out;
  for (int b = 0; b < kBuildingsPerKind; ++b) {
    RoofParams p;
    p.groundZ = ground(rng);
    p.eaveZ = p.groundZ + wall(rng);
    p.ridgeZ = p.eaveZ + rise(rng);
    p.hipInset = hip(rng);
    p.dormerCount = dormers(rng);
    const auto fp = footprintFor(kind.name(), rng);
    const Surface surface(kind.build(p, fp));
    // Outlines come listed from any corner, either way round.
    auto listed = fp;
    std::rotate(listed.begin(), listed.begin() + static_cast<std::ptrdiff_t>(rng() % listed.size()), listed.end());
    if (rng() % 2) std::reverse(listed.begin(), listed.end());
    const double a = turn(rng) * std::numbers::pi / 180, c = std::cos(a), s = std::sin(a);
    const double e0 = 600000 + 1000 * unit(rng), n0 = 480000 + 1000 * unit(rng);
    const auto place = [&](double x, double y) { return Point2{e0 + x * c - y * s, n0 + x * s + y * c}; };
    ReconstructionInput in;
    in.groundZ = p.groundZ;
    for (const Point2 q : listed) in.footprint.push_back(place(q.x, q.y));
    const Box2 box = boundingBox(fp);
    const auto count = static_cast<int>((box.x1 - box.x0) * (box.y1 - box.y0) * kPointsPerM2);
    for (int i = 0; i < count; ++i) {
      const double x = box.x0 + unit(rng) * (box.x1 - box.x0), y = box.y0 + unit(rng) * (box.y1 - box.y0);
      if (!inside(fp, x, y)) continue;
      double z = p.groundZ;
      surface.heightAt(x, y, z);
      z += noise(rng);
      if (unit(rng) < 0.01) z += unit(rng) * 15 - 5;   // birds, aerials, wires, multipath
      const Point2 q = place(x, y);
      in.points.push_back({q.x, q.y, z});
    }
    out.push_back(std::move(in));
  }
  return out;
}

void reconstructKind(benchmark::State& state, const RoofPrimitive* kind) {
  const auto buildings = buildingsOf(*kind, 20240 + static_cast<unsigned>(state.range(0)));
  std::map<std::string, int> classified;
  double distance = 0;
  int flagged = 0, done = 0;
  for (auto _ : state) {
    for (const auto& in : buildings) {
      const RoofFitResult r = reconstructBuilding(in);
      benchmark::DoNotOptimize(r.mesh.faces.data());
      ++classified[r.classifiedType];
      distance += r.meanDistance;
      flagged += r.needsCorrection;
      ++done;
    }
  }
  state.counters["buildings_per_s"] = benchmark::Counter(static_cast<double>(done), benchmark::Counter::kIsRate);
  for (const char* k : kClassified) state.counters[std::string("as_") + k] = double(classified[k]) / std::max(done, 1);
  state.counters["mean_distance"] = distance / std::max(done, 1);
  state.counters["flagged"] = double(flagged) / std::max(done, 1);
}

const int registered = [] {
  int i = 0;
  for (const RoofPrimitive* kind : roofPrimitives())
    benchmark::RegisterBenchmark((std::string("BM_Reconstruct/") + kind->name()).c_str(), reconstructKind, kind)
        ->Arg(i++)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1);
  return i;
}();

}  // namespace

BENCHMARK_MAIN();
