// Whole numbers taken from the pages' messages. A page (or a script on the bridge's standard
// input) may send any JSON number; converting one that does not fit an int is undefined, so
// the range is checked first.
#pragma once

#include <climits>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "formats/JsonNumbers.h"

namespace veldra {

// Integers and finite fractions (cut towards zero, as before) within int's range; throws
// std::out_of_range for other numbers and nlohmann's type error for anything not a number.
inline int messageInt(const nlohmann::json& v) {
  std::int64_t n = 0;
  switch (readJsonWhole(v, INT_MIN, INT_MAX, n, /*truncate=*/true)) {
    case JsonWhole::Ok: return static_cast<int>(n);
    case JsonWhole::OutOfRange: throw std::out_of_range("liczba poza zakresem");
    case JsonWhole::NotWhole: break;
  }
  return v.get<int>();   // not a number: nlohmann's type error
}

}  // namespace veldra
