// GML reading on arbitrary bytes: no crash, no hang, and reading member by member must agree with
// the whole-document tree (the reference). The GeoJSON writer and the diagnosis run on the result.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formats/GeoJsonWriter.h"
#include "formats/GmlParser.h"

namespace {

bool samePoints(const std::vector<veldra::Point2>& a, const std::vector<veldra::Point2>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (a[i].x != b[i].x || a[i].y != b[i].y) return false;
  return true;
}

bool same(const veldra::GisFeature& a, const veldra::GisFeature& b) {
  if (a.attributes != b.attributes || a.hasPoint != b.hasPoint || a.polygons.size() != b.polygons.size() ||
      a.lines.size() != b.lines.size())
    return false;
  if (a.hasPoint && (a.point.x != b.point.x || a.point.y != b.point.y)) return false;
  for (std::size_t i = 0; i < a.polygons.size(); ++i) {
    if (!samePoints(a.polygons[i].outer, b.polygons[i].outer)) return false;
    if (a.polygons[i].holes.size() != b.polygons[i].holes.size()) return false;
    for (std::size_t h = 0; h < a.polygons[i].holes.size(); ++h)
      if (!samePoints(a.polygons[i].holes[h], b.polygons[i].holes[h])) return false;
  }
  for (std::size_t i = 0; i < a.lines.size(); ++i)
    if (!samePoints(a.lines[i], b.lines[i])) return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto fast = veldra::GmlParser::parseFeatureCollection(text, veldra::DataType::Dzialki);
  const auto whole = veldra::GmlParser::parseFeatureCollectionWholeDocument(text, veldra::DataType::Dzialki);
  if (fast.size() != whole.size()) std::abort();
  for (std::size_t i = 0; i < fast.size(); ++i)
    if (!same(fast[i], whole[i])) std::abort();
  (void)veldra::toGeoJson(fast);
  (void)veldra::GmlParser::diagnose(text);
  return 0;
}
