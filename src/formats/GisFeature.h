// One 2D vector feature as read from a service, in PL-1992 metres.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "formats/DataType.h"
#include "geo/Point.h"

namespace veldra {

struct Polygon2 {
  std::vector<Point2> outer;               // closing point kept when the source repeats it
  std::vector<std::vector<Point2>> holes;
};

struct GisFeature {
  DataType type = DataType::Dzialki;
  std::vector<Polygon2> polygons;
  std::vector<std::vector<Point2>> lines;   // each with at least 2 points
  Point2 point;                             // representative (label) point
  bool hasPoint = false;
  std::map<std::string, std::string> attributes;   // property local name -> text, plus "gml_id", "_typ"
};

}  // namespace veldra
