// Point lists as text: one point per line, its coordinates separated by blanks or
// tabs ("x y z", or "x y" where heights may be left out). Blank lines are skipped.
// A reader of text from anywhere: every number is checked, nothing is trusted.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "geo/Point.h"

namespace veldra::lod2fit {

enum class XyzHeights { Required, Optional };

struct XyzText {
  std::vector<Point3> points;
  bool allHaveHeights = true;   // with optional heights: whether every line gave one (missing ones read 0)
  std::string error;            // empty when the whole text was read
};

// A line with another count of numbers, a word that is no number, or a number that is
// not finite is an error naming the line; so is the point past `maxPoints`.
XyzText parseXyzText(std::string_view text, XyzHeights heights, std::size_t maxPoints = 2'000'000);

}  // namespace veldra::lod2fit
