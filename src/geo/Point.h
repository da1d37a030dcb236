// Planar and spatial points: metres, easting first.
#pragma once

namespace veldra {

struct Point2 {
  double x = 0.0;   // easting
  double y = 0.0;   // northing
};

struct Point3 {
  double x = 0.0, y = 0.0, z = 0.0;
};

}  // namespace veldra
