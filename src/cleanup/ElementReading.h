// Which elements the cleanup looks at, and reading them into plain records.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "cleanup/DuplicateKeys.h"
#include "hostapi/Host.h"

namespace veldra::cleanup {

enum class ElementSource { Selection, ActiveFloor };

// Selection: each selected element of `type`, once, in selection order.
// Active floor: all elements of `type` there, in the host's order.
std::vector<std::string> collectElements(Host& host, ElementType type, ElementSource source);

// Reads elements one after another into records it keeps, reusing their
// buffers: reading a whole drawing allocates only while they grow.
class ElementReader {
 public:
  explicit ElementReader(Host& host) : host_(host) {}

  // Null when the element is no polyline, cannot be read, has fewer than two
  // points or a coordinate or arc angle that is not a finite number. Valid
  // until the next call.
  const PolylineRecord* polyline(const std::string& guid, std::size_t index);
  // Null when the element is no text, cannot be read, its content is not valid
  // UTF-16 or its position is not finite. Valid until the next call.
  const TextRecord* text(const std::string& guid, std::size_t index);

 private:
  Host& host_;
  ElementHeader header_;
  Element element_;
  Memo memo_;
  PolylineRecord polyline_;
  TextRecord text_;
};

}  // namespace veldra::cleanup
