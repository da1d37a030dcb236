// Keys that make two polylines or two texts equal when they are duplicates.
//
// Coordinates are rounded to 1 mm (model units are metres) and written as
// text, so two elements are duplicates exactly when their keys are equal. A
// polyline's key does not depend on its direction nor, when closed, on its
// starting vertex: it is the byte-wise smallest serialisation over all of them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "geo/Point.h"

namespace veldra::cleanup {

struct ArcRecord {
  int begin = 0;   // point indices, 0-based
  int end = 0;
  double angle = 0.0;
};

struct PolylineRecord {
  std::size_t index = 0;   // position in the collected list
  std::int32_t layer = 0;
  bool closed = false;
  std::vector<Point2> points;
  std::vector<ArcRecord> arcs;
};

struct TextRecord {
  std::size_t index = 0;
  std::int32_t layer = 0;
  Point2 position;
  std::string content;   // UTF-8
};

struct Segment {
  Point2 start;
  Point2 end;
  double arcAngle = 0.0;   // 0 for a straight segment
};

// v rounded to 0.001 (halves up), -0 as 0, written "%.17g|".
std::string formatKeyNumber(double v);
void appendKeyNumber(std::string& out, double v);

// Segment i joins points i and i+1; its angle is the first arc from i to i+1.
std::vector<Segment> polylineSegments(const PolylineRecord& record);

// "open:" or "closed:" and the smallest serialisation; "open:empty" or
// "closed:empty" without segments.
std::string polylineKey(const PolylineRecord& record);

std::string textKey(const TextRecord& record);

// The same keys, written into buffers kept from one call to the next: keying
// a whole drawing allocates only while the buffers grow.
class KeyWriter {
 public:
  KeyWriter();
  ~KeyWriter();
  KeyWriter(const KeyWriter&) = delete;
  KeyWriter& operator=(const KeyWriter&) = delete;

  // Each valid until the next call.
  std::string_view polyline(const PolylineRecord& record);
  std::string_view text(const TextRecord& record);

 private:
  struct Buffers;
  std::unique_ptr<Buffers> buffers_;
};

}  // namespace veldra::cleanup
