#include "lod2fit/RoofFitting.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace veldra::lod2fit {

namespace {

// Linear interpolation between the two order statistics around (n-1)·p.
double percentile(const std::vector<double>& sorted, double p) {
  const double pos = static_cast<double>(sorted.size() - 1) * p;
  const auto i = static_cast<std::size_t>(pos);
  const double f = pos - static_cast<double>(i);
  return (1 - f) * sorted[i] + f * sorted[std::min(i + 1, sorted.size() - 1)];
}

std::vector<double> sortedHeights(const std::vector<Point3>& points) {
  std::vector<double> z;
  z.reserve(points.size());
  for (const Point3& p : points) z.push_back(p.z);
  std::sort(z.begin(), z.end());
  return z;
}

double planeDistance(const RoofPlane& pl, const Point3& p) { return std::abs(pl.nx * p.x + pl.ny * p.y + pl.nz * p.z + pl.d); }

// 32-bit xorshift (13, 17, 5): repeatable draws without a library generator's unspecified sequences.
struct XorShift32 {
  std::uint32_t state;
  std::uint32_t next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
};

double degrees(double radians) { return radians * 180.0 / std::numbers::pi; }

double azimuthGap(double a, double b) {
  const double d = std::fmod(std::abs(a - b), 360.0);
  return std::min(d, 360.0 - d);
}

}  // namespace

RoofHeights estimateRoofHeights(const std::vector<Point3>& points, double groundZ) {
  RoofHeights out;
  std::vector<Point3> finite;
  for (const Point3& p : points)
    if (std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z)) finite.push_back(p);
  if (finite.size() < 8 || !std::isfinite(groundZ)) return out;
  const double z98 = percentile(sortedHeights(finite), 0.98);
  const auto above = [&](double threshold) {
    std::vector<Point3> r;
    for (const Point3& p : finite)
      if (p.z > threshold) r.push_back(p);
    return r;
  };
  out.roofPoints = above(groundZ + std::max(0.4 * (z98 - groundZ), 2.0));
  if (out.roofPoints.size() < 30) out.roofPoints = above(groundZ + 2.0);
  if (out.roofPoints.size() < 12) return out;
  const auto z = sortedHeights(out.roofPoints);
  out.eaveZ = percentile(z, 0.10);
  out.ridgeZ = std::max(percentile(z, 0.95), out.eaveZ + 0.1);
  out.found = true;
  return out;
}

std::optional<RoofPlane> fitPlaneLeastSquares(const std::vector<Point3>& points) {
  if (points.size() < 3) return std::nullopt;
  const double n = static_cast<double>(points.size());
  double mx = 0, my = 0;
  for (const Point3& p : points) mx += p.x, my += p.y;
  mx /= n;
  my /= n;
  double sxx = 0, sxy = 0, syy = 0, sxz = 0, syz = 0, sz = 0;
  for (const Point3& p : points) {
    const double x = p.x - mx, y = p.y - my;
    sxx += x * x, sxy += x * y, syy += y * y;
    sxz += x * p.z, syz += y * p.z, sz += p.z;
  }
  // With centred x and y the normal equations split: [sxx sxy; sxy syy]·(a, b) = (sxz, syz), n·c = sz.
  const double det = n * (sxx * syy - sxy * sxy);
  if (!(std::abs(det) >= 1e-9)) return std::nullopt;
  const double a = n * (sxz * syy - sxy * syz) / det;
  const double b = n * (sxx * syz - sxy * sxz) / det;
  const double c = sz / n;
  const double s = std::sqrt(a * a + b * b + 1);
  return RoofPlane{-a / s, -b / s, 1 / s, (a * mx + b * my - c) / s};
}

std::vector<RoofPlane> detectRoofPlanes(const std::vector<Point3>& points, const PlaneDetectionSettings& settings) {
  std::vector<RoofPlane> planes;
  std::vector<bool> taken(points.size(), false);
  XorShift32 rng{0x9e3779b9u};
  const auto minInliers = static_cast<std::size_t>(std::max(settings.minInliers, 0));
  for (int round = 0; round < settings.maxPlanes * 3 && static_cast<int>(planes.size()) < settings.maxPlanes; ++round) {
    std::vector<std::size_t> free;
    for (std::size_t i = 0; i < points.size(); ++i)
      if (!taken[i]) free.push_back(i);
    if (free.size() < minInliers || free.size() < 3) break;
    const auto m = static_cast<std::uint32_t>(std::min<std::size_t>(free.size(), UINT32_MAX));
    std::size_t bestCount = 0;
    std::optional<RoofPlane> best;
    for (int it = 0; it < settings.iterationsPerPlane; ++it) {
      const std::uint32_t a = rng.next() % m, b = rng.next() % m, c = rng.next() % m;
      if (a == b || b == c || a == c) continue;
      const auto plane = fitPlaneLeastSquares({points[free[a]], points[free[b]], points[free[c]]});
      if (!plane || std::abs(plane->nz) < settings.minAbsNz) continue;
      std::size_t count = 0;
      for (const std::size_t i : free) count += planeDistance(*plane, points[i]) <= settings.distanceThreshold;
      if (count > bestCount) bestCount = count, best = plane;
    }
    if (!best || bestCount < minInliers) break;
    std::vector<Point3> inliers;
    for (const std::size_t i : free)
      if (planeDistance(*best, points[i]) <= settings.distanceThreshold) {
        taken[i] = true;
        inliers.push_back(points[i]);
      }
    // A plane drawn through a narrow strip of points is a wall or a chimney, not a roof.
    double mx = 0, my = 0, vx = 0, vy = 0;
    for (const Point3& p : inliers) mx += p.x, my += p.y;
    mx /= static_cast<double>(inliers.size());
    my /= static_cast<double>(inliers.size());
    for (const Point3& p : inliers) vx += (p.x - mx) * (p.x - mx), vy += (p.y - my) * (p.y - my);
    const double spread = std::sqrt(std::max(vx, vy) / static_cast<double>(inliers.size()));
    if (spread < settings.minSpread) continue;
    const auto refit = fitPlaneLeastSquares(inliers);
    if (refit && std::abs(refit->nz) >= settings.minAbsNz) planes.push_back(*refit);
  }
  return planes;
}

RoofTypeGuess classifyRoof(const std::vector<RoofPlane>& planes, const std::vector<Point3>& points) {
  struct Entry {
    double slope, azimuth;
    bool flat;
    std::size_t inliers;
  };
  std::vector<Entry> merged;
  for (const RoofPlane& pl : planes) {
    Entry e{degrees(std::acos(std::min(1.0, std::abs(pl.nz)))), degrees(std::atan2(pl.ny, pl.nx)), false, 0};
    if (e.azimuth < 0) e.azimuth += 360;
    e.flat = e.slope < 8;
    for (const Point3& p : points) e.inliers += planeDistance(pl, p) < 0.35;
    const auto same = std::find_if(merged.begin(), merged.end(), [&](const Entry& m) {
      if (m.flat || e.flat) return m.flat && e.flat;
      return std::abs(m.slope - e.slope) < 14 && azimuthGap(m.azimuth, e.azimuth) < 22;
    });
    if (same != merged.end()) same->inliers += e.inliers;
    else merged.push_back(e);
  }
  std::vector<Entry> sloped;
  std::vector<Entry> kept;
  for (const Entry& e : merged)
    if (static_cast<double>(e.inliers) > 0.08 * static_cast<double>(points.size())) kept.push_back(e);
  std::stable_sort(kept.begin(), kept.end(), [](const Entry& a, const Entry& b) { return a.inliers > b.inliers; });
  for (const Entry& e : kept)
    if (!e.flat) sloped.push_back(e);
  const std::size_t s = sloped.size();
  std::size_t pairs = 0;
  std::vector<bool> paired(s, false);
  for (std::size_t i = 0; i < s; ++i)
    for (std::size_t j = i + 1; j < s; ++j)
      if (!paired[i] && !paired[j] && std::abs(azimuthGap(sloped[i].azimuth, sloped[j].azimuth) - 180) < 35) {
        paired[i] = paired[j] = true;
        ++pairs;
      }
  if (s == 0) return {"Flat", 1.0};
  if (s == 1) return {"Shed", 0.9};
  if (pairs == 1 && s == 2)
    return std::abs(sloped[0].slope - sloped[1].slope) > 12 ? RoofTypeGuess{"AsymGabled", 0.8} : RoofTypeGuess{"Gabled", 0.9};
  if (pairs >= 2) return {"Hipped", 0.35};
  if (s >= 3) return {"Hipped", 0.7};
  return {"Hipped", 0.4};
}

}  // namespace veldra::lod2fit
