#include "formats/GeoJsonWriter.h"

#include <charconv>
#include <cmath>
#include <ostream>
#include <string_view>

#include <nlohmann/json.hpp>

#include "geo/Projections.h"

namespace veldra {
namespace {

using nlohmann::json;

}  // namespace

std::string geoJsonKind(DataType type) {
  switch (static_cast<int>(type)) {
    case 0: return "dzialka";
    case 1: return "budynek";
    case 2: return "mpzp";
    case 3: return "pog";
    case 4: return "gesut";
    case 7: return "rastr";
    default: return "inne";
  }
}

namespace {

// Shortest text that reads back to the same double, with ".0" on integral values as the JSON
// library writes them.
void appendNumber(std::string& out, double v) {
  char buf[40];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
  if (std::string_view(buf, static_cast<std::size_t>(r.ptr - buf)).find_first_of(".e") == std::string_view::npos)
    out += ".0";
}

// Plain printable ASCII is written as it stands; anything else goes through the JSON library, which
// escapes to pure ASCII and replaces invalid UTF-8 (texts come from services unchecked).
void appendString(std::string& out, std::string_view s) {
  bool plain = true;
  for (const char ch : s) {
    const auto c = static_cast<unsigned char>(ch);
    if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
      plain = false;
      break;
    }
  }
  if (plain) {
    out += '"';
    out += s;
    out += '"';
    return;
  }
  out += json(std::string(s)).dump(-1, ' ', true, json::error_handler_t::replace);
}

bool appendPosition(std::string& out, const Point2& p) {
  const auto [lat, lon] = pl1992ToWgs84(p.x, p.y);
  // Far outside the projection's domain the series give inf or NaN, which JSON cannot hold.
  if (!std::isfinite(lat) || !std::isfinite(lon)) return false;
  out += '[';
  appendNumber(out, lon);
  out += ',';
  appendNumber(out, lat);
  out += ']';
  return true;
}

bool appendPoints(std::string& out, const std::vector<Point2>& pts) {
  out += '[';
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (i) out += ',';
    if (!appendPosition(out, pts[i])) return false;
  }
  out += ']';
  return true;
}

bool appendRings(std::string& out, const Polygon2& poly) {
  out += '[';
  if (!appendPoints(out, poly.outer)) return false;
  for (const auto& hole : poly.holes) {
    out += ',';
    if (!appendPoints(out, hole)) return false;
  }
  out += ']';
  return true;
}

// Appends one feature; false (and out unchanged) when it has no geometry or cannot be projected.
// Keys are written in the library's order: geometry, properties, type; coordinates before type.
bool appendFeature(std::string& out, const GisFeature& f) {
  const std::size_t mark = out.size();
  out += "{\"geometry\":{\"coordinates\":";
  const char* type = nullptr;
  bool ok = true;
  if (!f.polygons.empty()) {
    if (f.polygons.size() == 1) {
      type = "Polygon";
      ok = appendRings(out, f.polygons.front());
    } else {
      type = "MultiPolygon";
      out += '[';
      for (std::size_t i = 0; ok && i < f.polygons.size(); ++i) {
        if (i) out += ',';
        ok = appendRings(out, f.polygons[i]);
      }
      out += ']';
    }
  } else if (!f.lines.empty()) {
    if (f.lines.size() == 1) {
      type = "LineString";
      ok = appendPoints(out, f.lines.front());
    } else {
      type = "MultiLineString";
      out += '[';
      for (std::size_t i = 0; ok && i < f.lines.size(); ++i) {
        if (i) out += ',';
        ok = appendPoints(out, f.lines[i]);
      }
      out += ']';
    }
  } else if (f.hasPoint) {
    type = "Point";
    ok = appendPosition(out, f.point);
  }
  if (!type || !ok) {
    out.resize(mark);
    return false;
  }
  out += ",\"type\":\"";
  out += type;
  out += "\"},\"properties\":{";
  // Keys in map order with the computed "_kind" in its sorted place (replacing any "_kind" attribute).
  const std::string kind = geoJsonKind(f.type);
  bool kindDone = false, firstKey = true;
  auto member = [&](std::string_view key, std::string_view value) {
    if (!firstKey) out += ',';
    firstKey = false;
    appendString(out, key);
    out += ':';
    appendString(out, value);
  };
  for (const auto& [key, value] : f.attributes) {
    if (!kindDone && key >= std::string_view("_kind")) {
      member("_kind", kind);
      kindDone = true;
    }
    if (key != "_kind") member(key, value);
  }
  if (!kindDone) member("_kind", kind);
  out += "},\"type\":\"Feature\"}";
  return true;
}

// The compact text of {"features": [...], "type": "FeatureCollection"}, produced feature by feature.
template <class Sink>
void writeCollection(const std::vector<GisFeature>& features, Sink&& sink) {
  sink("{\"features\":[");
  bool first = true;
  std::string buf;
  for (const GisFeature& f : features) {
    buf.clear();
    if (!first) buf += ',';
    if (!appendFeature(buf, f)) continue;
    first = false;
    sink(buf);
  }
  sink("],\"type\":\"FeatureCollection\"}");
}

}  // namespace

std::string toGeoJson(const std::vector<GisFeature>& features) {
  std::string out;
  writeCollection(features, [&](std::string_view s) { out += s; });
  return out;
}

void writeGeoJson(std::ostream& out, const std::vector<GisFeature>& features) {
  writeCollection(features, [&](std::string_view s) { out.write(s.data(), static_cast<std::streamsize>(s.size())); });
}

}  // namespace veldra
