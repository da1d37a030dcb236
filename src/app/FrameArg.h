// "MINX,MINY,MAXX,MAXY" on the command line.
#pragma once

#include <sstream>
#include <string>

#include "geo/Bbox.h"

namespace veldra::app {

inline bool parseFrame(const std::string& text, Bbox& frame) {
  double v[4];
  std::istringstream in(text);
  for (int i = 0; i < 4; ++i) {
    if (!(in >> v[i])) return false;
    if (i < 3 && in.get() != ',') return false;
  }
  if (in.peek() != std::char_traits<char>::eof()) return false;
  frame = {v[0], v[1], v[2], v[3]};
  return true;
}

}  // namespace veldra::app
