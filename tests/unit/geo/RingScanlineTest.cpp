#include "geo/RingScanline.h"

#include <gtest/gtest.h>

#include <random>

namespace veldra {
namespace {

// The runs of every lattice row hold exactly the points the per-point test
// calls inside, also on random jagged rings whose vertices sit on the lattice.
TEST(RingScanline, RunsAgreeWithThePointTest) {
  std::mt19937 rng(7);
  std::uniform_int_distribution<int> coord(0, 40);
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<Point2> ring;
    for (int k = 0; k < 3 + trial % 9; ++k) ring.push_back({coord(rng) * 0.5, coord(rng) * 0.5});
    const RingScanline scan(ring);
    for (int j = -1; j <= 41; ++j) {
      const double y = j * 0.5;
      std::vector<bool> inRun(42, false);
      for (const auto& [a, b] : scan.insideRuns(y, -0.5, 0.5, 41))
        for (long i = a; i <= b; ++i) inRun[static_cast<std::size_t>(i)] = true;
      for (int i = 0; i <= 41; ++i)
        ASSERT_EQ(inRun[static_cast<std::size_t>(i)], pointInRing(ring, {-0.5 + i * 0.5, y})) << trial << " " << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace veldra
