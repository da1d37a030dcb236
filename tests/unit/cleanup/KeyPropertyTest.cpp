// The fast polyline key against the literal construction on random polylines.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "LiteralKey.h"
#include "cleanup/DuplicateKeys.h"

namespace veldra::cleanup {
namespace {

// Few distinct coordinates, arcs and motifs, so that repeated vertices, equal
// rotations and values on both sides of a rounding step come up often.
PolylineRecord randomPolyline(std::mt19937& rng) {
  auto pick = [&](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
  static const double offsets[] = {0.0, 0.0004, 0.0005, 0.0006, -0.0005, 0.0015, 1e-9, -0.0};
  static const double angles[] = {0.5, -0.5, 1.0, -0.0, 0.0004, -0.0006};
  auto coord = [&] { return (pick(7) - 3) * 0.25 + offsets[pick(8)] + (pick(10) == 0 ? 1e7 : 0.0); };

  PolylineRecord r;
  const int motif = 1 + pick(4);
  const int repeats = pick(3) == 0 ? 2 + pick(3) : 1;   // periodic outlines
  std::vector<Point2> unit;
  for (int i = 0; i < motif; ++i) unit.push_back({coord(), coord()});
  for (int k = 0; k < repeats; ++k) r.points.insert(r.points.end(), unit.begin(), unit.end());
  for (int i = 0, extra = pick(4); i < extra; ++i) r.points.insert(r.points.begin() + pick(static_cast<int>(r.points.size())), r.points[pick(static_cast<int>(r.points.size()))]);
  const int shape = pick(10);
  if (shape < 6) r.points.push_back(r.points.front());   // exactly closed
  r.closed = shape < 6 ? r.points.size() > 2 : shape == 6;  // 6: marked closed, ends apart
  for (int i = 0, arcs = pick(4); i < arcs; ++i) {
    const int b = pick(static_cast<int>(r.points.size()) + 1) - 1;
    r.arcs.push_back(ArcRecord{b, pick(5) == 0 ? b + 2 : b + 1, angles[pick(6)]});
  }
  if (repeats > 1 && pick(2) == 0) {
    // The same arcs in every repetition keep the rotations equal.
    r.arcs.clear();
    for (int k = 0; k < repeats; ++k) r.arcs.push_back(ArcRecord{k * motif, k * motif + 1, 0.5});
  }
  return r;
}

TEST(PolylineKey, EqualsTheLiteralConstructionOnRandomPolylines) {
  for (const PolylineRecord& r : {PolylineRecord{}, PolylineRecord{0, 0, true, {{1, 2}}, {}}})
    EXPECT_EQ(polylineKey(r), literal::key(r));
  std::mt19937 rng(20261207);
  for (int i = 0; i < 6000; ++i) {
    const PolylineRecord r = randomPolyline(rng);
    ASSERT_EQ(polylineKey(r), literal::key(r)) << "case " << i << ", " << r.points.size() << " points";
  }
}

TEST(KeyNumber, EqualsPrintfOnEveryMagnitude) {
  // Around powers of ten, halves of the last millimetre and the ends of the
  // range written without an exponent.
  std::vector<double> values = {5e-4, 4.999e-4, 1e-3, 9.9949e-3, 9.9951e-3, 0.1, 0.9995, 0.99949, 1.0, 9.9995,
                                1.37, 1e15 - 0.0005, 9999999999999999.0, 1e16, 1e16 + 2, 1.234e17, 1e300, 1e-300};
  std::mt19937_64 rng(7);
  std::uniform_real_distribution<double> unit(0.5, 1.0);
  for (int i = 0; i < 200000; ++i) {
    const double v = std::ldexp(unit(rng), static_cast<int>(rng() % 70) - 12);
    const double millimetres = std::floor(v * 1000);
    // Raw values, millimetre multiples and values at half a millimetre.
    values.insert(values.end(), {v, millimetres / 1000, (millimetres + 0.5) / 1000});
  }
  for (const double v : values) {
    ASSERT_EQ(formatKeyNumber(v), literal::number(v)) << v;
    ASSERT_EQ(formatKeyNumber(-v), literal::number(-v)) << -v;
  }
}

}  // namespace
}  // namespace veldra::cleanup
