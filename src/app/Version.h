#pragma once

#include <string>

namespace veldra::app {

inline constexpr const char* kVersion = "1.8.0";

// The build's date and time, blank-separated: "Dec 6 2026 19:40:02".
inline std::string buildDateText() {
  std::string text = std::string(__DATE__) + " " + __TIME__;
  // __DATE__ pads a one-digit day with a second blank.
  std::string out;
  for (char c : text)
    if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
  return out;
}

}  // namespace veldra::app
