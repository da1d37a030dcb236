// Whole numbers read from JSON written by someone else (project files, fixture manifests, page
// messages). A JSON number may be anything up to 1e308; converting one that does not fit the
// target type is undefined, so the range is checked before any conversion.
#pragma once

#include <cmath>
#include <cstdint>

#include <nlohmann/json.hpp>

namespace veldra {

enum class JsonWhole { Ok, NotWhole, OutOfRange };

// Reads `v` into `out` when it is an integer within [lo, hi]. A fraction is NotWhole unless
// `truncate` is set, in which case it is cut towards zero and then range-checked. Anything that
// is not a number is NotWhole; `out` is only written on Ok.
inline JsonWhole readJsonWhole(const nlohmann::json& v, std::int64_t lo, std::int64_t hi, std::int64_t& out,
                               bool truncate = false) {
  if (v.is_number_unsigned()) {
    const std::uint64_t u = v.get<std::uint64_t>();
    if (hi < 0 || u > static_cast<std::uint64_t>(hi) || static_cast<std::int64_t>(u) < lo) return JsonWhole::OutOfRange;
    out = static_cast<std::int64_t>(u);
    return JsonWhole::Ok;
  }
  if (v.is_number_integer()) {
    const std::int64_t s = v.get<std::int64_t>();
    if (s < lo || s > hi) return JsonWhole::OutOfRange;
    out = s;
    return JsonWhole::Ok;
  }
  if (truncate && v.is_number_float()) {
    const double d = std::trunc(v.get<double>());
    // 2^63 itself rounds into range as a double but does not fit; NaN fails every comparison.
    if (!(d >= static_cast<double>(lo) && d <= static_cast<double>(hi) && d < 9223372036854775808.0))
      return JsonWhole::OutOfRange;
    out = static_cast<std::int64_t>(d);
    return JsonWhole::Ok;
  }
  return JsonWhole::NotWhole;
}

}  // namespace veldra
