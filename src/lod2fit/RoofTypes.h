// The records of roof fitting: the parameters a roof primitive is built from, the
// mesh it builds, the planes found in the points and the result per building.
// Metres in a projected system with absolute heights.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "geo/Point.h"

namespace veldra::lod2fit {

// The defaults are the template the reconstruction starts from.
struct RoofParams {
  double groundZ = 0.0;
  double eaveZ = 3.0;
  double ridgeZ = 6.0;
  double axisX = 1.0;   // direction of the longest footprint edge (Shed)
  double axisY = 0.0;
  double hipInset = 2.0;
  double breakHeightFraction = 0.5;
  double breakInsetFraction = 0.3;
  double halfHipFraction = 0.5;
  std::int32_t dormerCount = 1;
  double dormerWidth = 2.0;
  double reserved = 1.5;   // carried unchanged
  std::int32_t segments = 16;
};

// Faces are planar polygons listed counter-clockwise seen from outside the solid.
struct RoofMesh {
  std::vector<Point3> vertices;
  std::vector<std::vector<std::uint32_t>> faces;
};

// nx·x + ny·y + nz·z + d = 0 with a unit normal and nz > 0.
struct RoofPlane {
  double nx = 0.0, ny = 0.0, nz = 1.0, d = 0.0;
};

struct PlaneDetectionSettings {
  double distanceThreshold = 0.3;
  int minInliers = 30;
  int maxPlanes = 6;
  int iterationsPerPlane = 200;
  double minAbsNz = 0.2;   // planes steeper than about 78.5 degrees are walls, not roofs
  double minSpread = 0.25;
};

struct RoofTypeGuess {
  std::string type;
  double confidence = 0.0;
};

struct ReconstructionInput {
  std::vector<Point3> points;
  std::vector<Point2> footprint;
  double groundZ = 0.0;
  RoofParams params;
  std::string forcedType;   // build this primitive instead of the classified one (when not empty)
};

struct RoofFitResult {
  std::string type;             // the primitive built
  std::string classifiedType;   // what the points say; `confidence` is its confidence
  RoofParams params;
  RoofMesh mesh;   // in the input's coordinates
  double confidence = 0.0;
  double meanDistance = 0.0;
  bool needsCorrection = true;
};

}  // namespace veldra::lod2fit
