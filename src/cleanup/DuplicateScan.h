// Finding the duplicates among collected polylines and texts. Of each group of
// equal (layer, key) the first element stays; the others are duplicates.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "hostapi/Host.h"

namespace veldra::cleanup {

struct DuplicateGroup {
  ElementType type = ElementType::Polyline;
  std::int32_t layer = 0;
  std::string key;
  std::string kept;                      // identifier of the element that stays
  std::vector<std::string> duplicates;   // in collection order
};

struct DuplicateScan {
  std::size_t polylinesRead = 0;
  std::size_t textsRead = 0;
  std::vector<std::string> duplicatePolylines;   // collection order
  std::vector<std::string> duplicateTexts;
  std::vector<DuplicateGroup> groups;            // only when asked for; by type, layer, key
};

enum class GroupListing { Skip, Build };

// Reads the elements (unreadable ones are left out and never reported) and
// marks the duplicates.
DuplicateScan scanDuplicates(Host& host, const std::vector<std::string>& polylines,
                             const std::vector<std::string>& texts, GroupListing listing = GroupListing::Skip);

}  // namespace veldra::cleanup
