#include "lod2fit/XyzText.h"

#include <charconv>
#include <cmath>

namespace veldra::lod2fit {

XyzText parseXyzText(std::string_view text, XyzHeights heights, std::size_t maxPoints) {
  XyzText out;
  std::size_t lineNo = 0;
  while (!text.empty()) {
    const std::size_t eol = text.find('\n');
    std::string_view line = text.substr(0, eol);
    text = eol == std::string_view::npos ? std::string_view{} : text.substr(eol + 1);
    ++lineNo;
    double v[3];
    int count = 0;
    for (std::size_t i = 0; i < line.size();) {
      const char c = line[i];
      if (c == ' ' || c == '\t' || c == '\r') {
        ++i;
        continue;
      }
      std::size_t end = i;
      while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '\r') ++end;
      const std::string_view word = line.substr(i, end - i);
      double value = 0;
      const auto [ptr, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
      if (ec != std::errc() || ptr != word.data() + word.size() || !std::isfinite(value) || count == 3) {
        out.error = "wiersz " + std::to_string(lineNo) + ": " +
                    (count == 3 ? std::string("wiecej niz 3 liczby") : "to nie jest liczba skonczona: " + std::string(word.substr(0, 40)));
        out.points.clear();
        return out;
      }
      v[count++] = value;
      i = end;
    }
    if (count == 0) continue;
    if (count == 2 && heights == XyzHeights::Optional) {
      out.allHaveHeights = false;
      v[2] = 0;
    } else if (count != 3) {
      out.error = "wiersz " + std::to_string(lineNo) + ": oczekiwano " +
                  (heights == XyzHeights::Optional ? std::string("2 lub 3 liczb") : std::string("3 liczb (x y z)"));
      out.points.clear();
      return out;
    }
    if (out.points.size() == maxPoints) {
      out.error = "wiersz " + std::to_string(lineNo) + ": za duzo punktow (najwyzej " + std::to_string(maxPoints) + ")";
      out.points.clear();
      return out;
    }
    out.points.push_back({v[0], v[1], v[2]});
  }
  return out;
}

}  // namespace veldra::lod2fit
