// The duplicate remover on a large drawing: the whole command (reading every
// element, keys, the undoable deletion) and its memory above the drawing, and
// the polyline key next to its literal construction (every candidate written
// out) on the same contours, with the ratio.
//
//   build/release/bench/bench_dedupe --benchmark_min_time=0.05
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <fstream>
#include <random>
#include <string>

#include "../tests/unit/cleanup/LiteralKey.h"
#include "cleanup/DuplicateKeys.h"
#include "cleanup/PolylineCleaner.h"
#include "host/MemoryHost.h"

namespace {

using namespace veldra;

// Resident and peak resident memory of the process, in kB.
long statusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(field, 0) == 0) return std::stol(line.substr(std::string(field).size()));
  return 0;
}
void resetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

std::vector<Point2> contour(std::mt19937& rng, std::size_t n, Point2 centre) {
  std::uniform_real_distribution<double> wobble(-0.4, 0.4);
  std::vector<Point2> pts;
  pts.reserve(n + 1);
  for (std::size_t i = 0; i < n; ++i) {
    const double a = 2 * M_PI * static_cast<double>(i) / static_cast<double>(n);
    const double r = 300 + 20 * std::sin(7 * a) + wobble(rng);
    pts.push_back({centre.x + r * std::cos(a), centre.y + r * std::sin(a)});
  }
  pts.push_back(pts.front());
  return pts;
}

struct Drawing {
  struct Item {
    bool text = false;
    int layer = 1;
    std::vector<Point2> points;
    Point2 at;
    std::u16string content;
  };
  std::vector<Item> items;
  std::size_t contours = 0, contourVertices = 0;
};

// `total` elements, a quarter of them copies of earlier ones (closed copies
// rotated and reversed), among the originals closed contours of 5 000 to
// 20 000 vertices.
Drawing makeDrawing(std::size_t total) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> coord(-2000, 2000);
  Drawing d;
  const std::size_t originals = total - total / 4;
  while (d.items.size() < originals) {
    Drawing::Item it;
    it.layer = 1 + static_cast<int>(rng() % 4);
    const unsigned kind = rng() % 1000;
    if (kind == 0 && d.contours < 48) {
      const std::size_t n = 5000 + rng() % 15001;
      it.points = contour(rng, n, {coord(rng), coord(rng)});
      ++d.contours;
      d.contourVertices += n;
    } else if (kind < 500) {
      const Point2 o{coord(rng), coord(rng)};
      const int n = 2 + static_cast<int>(rng() % 7);
      for (int k = 0; k < n; ++k) it.points.push_back({o.x + k * 1.37 + coord(rng) * 1e-3, o.y + (k % 3) * 2.11});
      if (rng() % 3 == 0) it.points.push_back(it.points.front());
    } else {
      it.text = true;
      it.at = {coord(rng), coord(rng)};
      it.content = u"dz. " + std::u16string(1, static_cast<char16_t>(u'0' + rng() % 10)) + u"/" +
                   std::u16string(1, static_cast<char16_t>(u'0' + rng() % 10));
    }
    d.items.push_back(std::move(it));
  }
  while (d.items.size() < total) {
    Drawing::Item copy = d.items[rng() % originals];
    if (!copy.text && copy.points.size() > 3 && copy.points.front().x == copy.points.back().x) {
      copy.points.pop_back();
      std::rotate(copy.points.begin(), copy.points.begin() + static_cast<long>(rng() % copy.points.size()), copy.points.end());
      std::reverse(copy.points.begin(), copy.points.end());
      copy.points.push_back(copy.points.front());
    } else if (!copy.text && rng() % 2) {
      std::reverse(copy.points.begin(), copy.points.end());
    }
    d.items.push_back(std::move(copy));
  }
  return d;
}

void fill(MemoryHost& host, const Drawing& d) {
  for (int l = 2; l <= 4; ++l) host.addAttribute(AttributeKind::Layer, Attribute{l, "Warstwa " + std::to_string(l)});
  Element line, text;
  line.typeCode = static_cast<int>(ElementType::Polyline);
  text.typeCode = static_cast<int>(ElementType::Text);
  host.getElementDefaults(line);
  host.getElementDefaults(text);
  for (const auto& it : d.items) {
    Element e = it.text ? text : line;
    e.layer = it.layer;
    Memo m;
    if (it.text) {
      e.location = it.at;
      m.text = it.content;
    } else {
      m.coords.reserve(it.points.size() + 1);
      m.coords.push_back({});
      m.coords.insert(m.coords.end(), it.points.begin(), it.points.end());
    }
    host.createElement(e, m);
  }
}

void BM_RemoveDuplicatesCommand(benchmark::State& state) {
  const Drawing d = makeDrawing(static_cast<std::size_t>(state.range(0)));
  MemoryHost host;
  fill(host, d);
  const long baseKb = statusKb("VmRSS:");
  long peakKb = 0;
  std::size_t deleted = 0;
  for (auto _ : state) {
    resetPeak();
    const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
    peakKb = std::max(peakKb, statusKb("VmHWM:"));
    deleted = out.deletedPolylines + out.deletedTexts;
    state.PauseTiming();
    host.undoLast();
    state.ResumeTiming();
  }
  state.counters["elements"] = static_cast<double>(host.elementCount());
  state.counters["deleted"] = static_cast<double>(deleted);
  state.counters["contours"] = static_cast<double>(d.contours);
  state.counters["contour_vertices"] = static_cast<double>(d.contourVertices);
  state.counters["drawing_MB"] = static_cast<double>(baseKb) / 1024;
  state.counters["peak_above_drawing_MB"] = static_cast<double>(peakKb - baseKb) / 1024;
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_RemoveDuplicatesCommand)->Arg(1'000'000)->Iterations(3)->Unit(benchmark::kMillisecond);

// The literal key holds 2n candidates of n segments: quadratic in time and
// memory, so its sample is a contour of a few thousand vertices.
void BM_ContourKeyAgainstLiteral(benchmark::State& state) {
  std::mt19937 rng(11);
  cleanup::PolylineRecord r;
  r.points = contour(rng, static_cast<std::size_t>(state.range(0)), {0, 0});
  r.closed = true;
  double fastS = 0, literalS = 0;
  for (auto _ : state) {
    const auto t0 = std::chrono::steady_clock::now();
    const std::string fast = cleanup::polylineKey(r);
    const auto t1 = std::chrono::steady_clock::now();
    const std::string slow = cleanup::literal::key(r);
    const auto t2 = std::chrono::steady_clock::now();
    if (fast != slow) state.SkipWithError("keys differ");
    fastS += std::chrono::duration<double>(t1 - t0).count();
    literalS += std::chrono::duration<double>(t2 - t1).count();
  }
  state.counters["fast_ms"] = 1e3 * fastS / static_cast<double>(state.iterations());
  state.counters["literal_ms"] = 1e3 * literalS / static_cast<double>(state.iterations());
  state.counters["ratio"] = literalS / fastS;
}
BENCHMARK(BM_ContourKeyAgainstLiteral)->Arg(500)->Arg(1500)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
