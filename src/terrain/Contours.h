// Contour lines: the height lattice, its smoothing, marching squares and labels.
#pragma once

#include "geo/Bbox.h"
#include "geo/Point.h"
#include "terrain/ElevationGrid.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <limits>
#include <string>
#include <vector>

namespace veldra {

inline constexpr int kMaxContourNodesPerAxis = 3000;

struct ContourLattice {
  double x0 = 0.0, y0 = 0.0;  // node (0, 0), PL-1992
  double cell = 1.0;
  std::int32_t ncols = 0, nrows = 0;
  // Row by row from the south, west to east; NaN where there is no height.
  std::vector<double> z;

  bool empty() const { return ncols <= 0 || nrows <= 0 || z.empty(); }
  double at(std::int32_t c, std::int32_t r) const {
    return z[static_cast<std::size_t>(r) * static_cast<std::size_t>(ncols) + static_cast<std::size_t>(c)];
  }
  std::size_t validCount() const;
};

struct Contour {
  double level = 0.0;
  bool index = false;  // every fifth level
  std::vector<Point2> points;  // a closed contour repeats its first point at the end
};

struct ContourLabel {
  double x = 0.0, y = 0.0;
  double angle = 0.0;  // radians, in (-pi/2, pi/2]
  std::string text;
};

// "12,50": two decimals and a decimal comma; "%.4g" from 1e6 up.
std::string formatContourNumber(double v);

// 0.25, 0.5, 1.0 or 2.0 within 1e-6.
bool isAllowedContourInterval(double interval);
// The notice for an interval that is not allowed.
std::string contourIntervalNotice(double interval);

// Lattice step for the frame: the requested step (1 when not positive),
// coarsened so that neither axis reaches 3000 cells; `message` then explains it.
double contourGridStep(const Bbox& frame, double requestedStep, std::string& message);

// Node (c, r) at (minX + c*step, minY + r*step). Empty when an axis would have
// fewer than 2 or more than kMaxContourNodesPerAxis nodes.
ContourLattice buildContourLattice(const Bbox& frame, double step, const TerrainSampler& sampler);

inline constexpr double kContourSmoothSpatialSigma = 1.5;
inline constexpr double kContourSmoothHeightSigma = 0.2;
// Bilateral filter over the valid nodes; NaN nodes stay NaN.
void smoothLattice(ContourLattice& lattice, double spatialSigma = kContourSmoothSpatialSigma,
                   double heightSigma = kContourSmoothHeightSigma);

struct ContourLimits {
  int maxLevels = 3000;
  int maxContours = 3000;
  std::size_t maxPoints = 600000;
};

class ContourBuilder {
 public:
  // Polled once before each level, on the building thread; answering true
  // stops the build (e.g. `[&] { return cancelFlag.load(); }`).
  using CancelCheck = std::function<bool()>;
  // (level being built, number of levels), before each level.
  using Progress = std::function<void(int done, int total)>;

  // Contours of every multiple of `interval` between the lowest and highest
  // valid height. `message` receives the truncation or cancellation text
  // (truncation is appended after a blank); on cancellation `cancelled` is
  // set and the contours of the finished levels are returned.
  static std::vector<Contour> build(const ContourLattice& lattice, double interval, std::string& message,
                                    const ContourLimits& limits = {}, const CancelCheck& cancel = {},
                                    bool* cancelled = nullptr, const Progress& progress = {});

  static constexpr const char* kCancelledMessage = "Poziomice: przerwano przez uzytkownika.";
  static constexpr const char* kTruncatedMessage =
      "Poziomice: za duzo danych dla wybranego ciecia - wynik ograniczony. Zwieksz ciecie albo zmniejsz kadr.";
};

// Labels of an index contour: one in the middle below 50 m, else every 50 m from 25 m.
std::vector<ContourLabel> labelContour(const Contour& contour);

}  // namespace veldra
