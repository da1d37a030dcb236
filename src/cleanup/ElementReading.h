// Which elements the cleanup looks at, and reading them into plain records.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "cleanup/DuplicateKeys.h"
#include "hostapi/Host.h"

namespace veldra::cleanup {

enum class ElementSource { Selection, ActiveFloor };

// Selection: each selected element of `type`, once, in selection order.
// Active floor: all elements of `type` there, in the host's order.
std::vector<std::string> collectElements(Host& host, ElementType type, ElementSource source);

// Nothing when the element is no polyline, cannot be read, has fewer than two
// points or a coordinate or arc angle that is not a finite number.
std::optional<PolylineRecord> readPolyline(Host& host, const std::string& guid, std::size_t index);
// Nothing when the element is no text, cannot be read, its content is not
// valid UTF-16 or its position is not finite.
std::optional<TextRecord> readText(Host& host, const std::string& guid, std::size_t index);

}  // namespace veldra::cleanup
