// Whole numbers taken from the pages' messages. A page (or a script on the bridge's standard
// input) may send any JSON number; converting one that does not fit an int is undefined, so
// the range is checked first.
#pragma once

#include <climits>
#include <cmath>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace veldra {

// Integers and finite fractions (cut towards zero, as before) within int's range; throws
// std::out_of_range for other numbers and nlohmann's type error for anything not a number.
inline int messageInt(const nlohmann::json& v) {
  if (v.is_number_unsigned()) {
    if (v.get<unsigned long long>() > static_cast<unsigned long long>(INT_MAX))
      throw std::out_of_range("liczba poza zakresem");
    return static_cast<int>(v.get<unsigned long long>());
  }
  if (v.is_number_integer()) {
    const long long n = v.get<long long>();
    if (n < INT_MIN || n > INT_MAX) throw std::out_of_range("liczba poza zakresem");
    return static_cast<int>(n);
  }
  if (v.is_number_float()) {
    const double d = std::trunc(v.get<double>());
    if (!(d >= static_cast<double>(INT_MIN) && d <= static_cast<double>(INT_MAX)))
      throw std::out_of_range("liczba poza zakresem");
    return static_cast<int>(d);
  }
  return v.get<int>();   // not a number: nlohmann's type error
}

}  // namespace veldra
