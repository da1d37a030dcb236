// Reading a roof from its points: heights from percentiles, planes by a seeded
// sequential RANSAC, the roof kind from a rule table over the planes. Pure
// functions; the same points give the same answer on every run.
#pragma once

#include <optional>
#include <vector>

#include "geo/Point.h"
#include "lod2fit/RoofTypes.h"

namespace veldra::lod2fit {

struct RoofHeights {
  std::vector<Point3> roofPoints;   // the points taken for the roof
  double eaveZ = 0.0, ridgeZ = 0.0;
  bool found = false;
};
// Points that are not finite are left out. Fewer than 8 points, or fewer than 12 above
// the roof threshold: not found.
RoofHeights estimateRoofHeights(const std::vector<Point3>& points, double groundZ);

// z = a·x + b·y + c in the least-squares sense (at least 3 points); nothing when the
// points do not span a plane that is a function of x and y.
std::optional<RoofPlane> fitPlaneLeastSquares(const std::vector<Point3>& points);

std::vector<RoofPlane> detectRoofPlanes(const std::vector<Point3>& points, const PlaneDetectionSettings& settings = {});

// One of Flat, Shed, Gabled, AsymGabled, Hipped with its confidence.
RoofTypeGuess classifyRoof(const std::vector<RoofPlane>& planes, const std::vector<Point3>& points);

}  // namespace veldra::lod2fit
