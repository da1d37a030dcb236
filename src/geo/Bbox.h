// The fetch frame in PL-1992 metres (x easting, y northing).
#pragma once

#include "geo/Point.h"
#include "geo/Projections.h"

#include <algorithm>
#include <vector>

namespace veldra {

struct Bbox {
  double minX = 0, minY = 0, maxX = 0, maxY = 0;
};

// Extremes of four projected corners.
inline Bbox cornerBounds(const std::pair<double, double> (&corners)[4]) {
  Bbox b{corners[0].first, corners[0].second, corners[0].first, corners[0].second};
  for (const auto& [e, n] : corners) {
    b.minX = std::min(b.minX, e);
    b.minY = std::min(b.minY, n);
    b.maxX = std::max(b.maxX, e);
    b.maxY = std::max(b.maxY, n);
  }
  return b;
}

// Projects the corners SW, NE, NW, SE of a WGS84 frame and takes the extremes.
inline Bbox bboxFromWgs84(double west, double south, double east, double north) {
  const std::pair<double, double> corners[4] = {
      wgs84ToPl1992(south, west), wgs84ToPl1992(north, east), wgs84ToPl1992(north, west), wgs84ToPl1992(south, east)};
  return cornerBounds(corners);
}

// The box in a PL-2000 zone holding a PL-1992 frame. The zone's grid is turned against
// PL-1992's, so all four corners count: two would cut strips off the frame.
inline Bbox pl2000BoxOf(const Bbox& f, int epsg) {
  const std::pair<double, double> corners[4] = {
      pl1992ToPl2000(f.minX, f.minY, epsg), pl1992ToPl2000(f.maxX, f.maxY, epsg),
      pl1992ToPl2000(f.minX, f.maxY, epsg), pl1992ToPl2000(f.maxX, f.minY, epsg)};
  return cornerBounds(corners);
}

// Extremes of a ring of at least one point.
inline Bbox boundsOf(const std::vector<Point2>& ring) {
  Bbox b{ring.at(0).x, ring[0].y, ring[0].x, ring[0].y};
  for (const Point2& p : ring) {
    b.minX = std::min(b.minX, p.x);
    b.minY = std::min(b.minY, p.y);
    b.maxX = std::max(b.maxX, p.x);
    b.maxY = std::max(b.maxY, p.y);
  }
  return b;
}

}  // namespace veldra
