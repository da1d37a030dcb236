// Deepest element nesting of a parsed document, walked without recursion, so
// that a hostile document cannot exhaust the stack of the code that checks it.
#pragma once

#include <algorithm>

#include <pugixml.hpp>

namespace veldra {

inline int xmlMaxDepth(const pugi::xml_document& doc) {
  int depth = 0, worst = 0;
  pugi::xml_node n = doc.first_child();
  while (n) {
    if (n.type() == pugi::node_element) worst = std::max(worst, depth + 1);
    if (n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
      if (n == doc) return worst;
    }
    if (n) n = n.next_sibling();
  }
  return worst;
}

}  // namespace veldra
