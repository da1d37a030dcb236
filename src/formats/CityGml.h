// Buildings of a frame from CityGML text: LOD1 blocks (footprint, ground
// height, height) and LOD2 surface rings with their roof type code, plus a
// file's bounding envelope for the package index.
//
// Positions are taken as written (x, y, z): no axis swap, no conversion; the
// frame must be in the file's system. Invalid XML, or XML nested deeper than
// kMaxDepth, gives an empty result; nothing throws. The XML declaration's
// encoding is honoured (the sample packages come as UTF-8 and ISO-8859-1).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "geo/Bbox.h"
#include "geo/Point.h"

namespace veldra {

struct Building3D {
  std::string id;                               // "gml:id", empty when absent
  std::vector<Point2> footprint;                // chosen ground ring, closing point as in the file
  double baseZ = 0.0;                           // lowest z of all the building's rings
  double height = 0.0;                          // measured height or the z extent, always > 0
  // Inner rings of the footprint's polygon: a block around a courtyard must
  // not fill it.
  std::vector<std::vector<Point2>> holes;
};

struct Lod2Ring {
  std::vector<Point2> points;
  std::vector<double> z;                        // one per point
  std::vector<Lod2Ring> holes;                  // inner rings of the same polygon
};

struct BuildingLod2 {
  std::string id;
  std::vector<Lod2Ring> surfaces;               // every outer ring with at least 3 points
  int roofType = 0;                             // 0 when absent
};

struct CityGmlLimits {
  // Deeper documents are refused whole: the walks below keep one stack entry
  // per level, and real files stay under 20.
  static constexpr int kMaxDepth = 256;
};

std::vector<Building3D> parseLod1Buildings(std::string_view gml, const Bbox& frame);
std::vector<BuildingLod2> parseLod2Buildings(std::string_view gml, const Bbox& frame);
// The first Envelope's corners, each read as a triple; false when either
// corner holds fewer than three numbers or the text is not XML.
bool readEnvelope(std::string_view gml, Bbox& out);

// The first lowerCorner/upperCorner pair found by a plain text scan, for the
// head of a sheet that cannot be parsed as a whole document; two numbers per
// corner are enough there.
bool scanEnvelope(std::string_view text, Bbox& out);

}  // namespace veldra
