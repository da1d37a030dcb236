#pragma once

#include <string>

namespace veldra::app {

inline constexpr const char* kVersion = "1.8.0";

// The build's date and time: "Dec  6 2026 19:40:02" (month, day, year, time).
inline std::string buildDateText() { return std::string(__DATE__) + " " + __TIME__; }

}  // namespace veldra::app
