#include "formats/GeoJsonWriter.h"

#include <charconv>
#include <cmath>
#include <functional>
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

// Set while a large feature is written: hands the text so far on, so that the text of one
// feature is never held whole (it takes about ten times the memory of its points).
using Flush = std::function<void(std::string&)>;
constexpr std::size_t kFlushBytes = 1u << 20;

bool appendPoints(std::string& out, const std::vector<Point2>& pts, const Flush& flush = {}) {
  out += '[';
  for (std::size_t i = 0; i < pts.size(); ++i) {
    if (i) out += ',';
    if (!appendPosition(out, pts[i])) return false;
    if (flush && out.size() >= kFlushBytes) flush(out);
  }
  out += ']';
  return true;
}

// Distinct corners of a ring given open or closed: fewer than three enclose nothing, and such
// rings are left out as the placement leaves them out.
std::size_t ringCorners(const std::vector<Point2>& pts) {
  if (pts.size() >= 2 && pts.front().x == pts.back().x && pts.front().y == pts.back().y) return pts.size() - 1;
  return pts.size();
}

bool appendRings(std::string& out, const Polygon2& poly, const Flush& flush) {
  out += '[';
  if (!appendPoints(out, poly.outer, flush)) return false;
  for (const auto& hole : poly.holes) {
    if (ringCorners(hole) < 3) continue;
    out += ',';
    if (!appendPoints(out, hole, flush)) return false;
  }
  out += ']';
  return true;
}

// The geometry a feature is shown with: its polygons that enclose an area, else its lines, else
// its point.
struct ShownGeometry {
  std::vector<const Polygon2*> polygons;
  bool lines = false, point = false;
  bool nothing = false;   // only polygons too small to be areas: the feature is left out
};

ShownGeometry shownGeometry(const GisFeature& f) {
  ShownGeometry g;
  for (const Polygon2& p : f.polygons)
    if (ringCorners(p.outer) >= 3) g.polygons.push_back(&p);
  if (!g.polygons.empty()) return g;
  g.lines = !f.lines.empty();
  g.nothing = !g.lines && !f.polygons.empty();
  g.point = !g.lines && !g.nothing && f.hasPoint;
  return g;
}

// Calls fn on every ring or line written.
template <class Fn>
void forEachShownRun(const ShownGeometry& g, const GisFeature& f, Fn&& fn) {
  for (const Polygon2* p : g.polygons) {
    fn(p->outer);
    for (const auto& h : p->holes)
      if (ringCorners(h) >= 3) fn(h);
  }
  if (g.lines)
    for (const auto& l : f.lines) fn(l);
}

std::size_t shownPositions(const ShownGeometry& g, const GisFeature& f) {
  std::size_t n = 0;
  forEachShownRun(g, f, [&](const std::vector<Point2>& pts) { n += pts.size(); });
  return n;
}

// A feature with a position that cannot be projected is left out whole: a large one is checked
// before any of its text is handed on.
bool allProjectable(const ShownGeometry& g, const GisFeature& f) {
  bool ok = true;
  std::string scratch;
  forEachShownRun(g, f, [&](const std::vector<Point2>& pts) {
    for (std::size_t i = 0; ok && i < pts.size(); ++i) {
      scratch.clear();
      ok = appendPosition(scratch, pts[i]);
    }
  });
  return ok;
}

// Appends one feature; false (and out unchanged) when it has no geometry or cannot be projected.
// Keys are written in the library's order: geometry, properties, type; coordinates before type.
// `flush` only for a feature whose positions were all checked: its text cannot be taken back.
bool appendFeature(std::string& out, const GisFeature& f, const ShownGeometry& g, const Flush& flush) {
  const std::size_t mark = out.size();
  if (g.nothing) return false;
  out += "{\"geometry\":{\"coordinates\":";
  const char* type = nullptr;
  bool ok = true;
  const auto& polygons = g.polygons;
  if (!polygons.empty()) {
    if (polygons.size() == 1) {
      type = "Polygon";
      ok = appendRings(out, *polygons.front(), flush);
    } else {
      type = "MultiPolygon";
      out += '[';
      for (std::size_t i = 0; ok && i < polygons.size(); ++i) {
        if (i) out += ',';
        ok = appendRings(out, *polygons[i], flush);
      }
      out += ']';
    }
  } else if (g.lines) {
    if (f.lines.size() == 1) {
      type = "LineString";
      ok = appendPoints(out, f.lines.front(), flush);
    } else {
      type = "MultiLineString";
      out += '[';
      for (std::size_t i = 0; ok && i < f.lines.size(); ++i) {
        if (i) out += ',';
        ok = appendPoints(out, f.lines[i], flush);
      }
      out += ']';
    }
  } else if (g.point) {
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
  constexpr std::size_t kLargeFeature = 16384;   // positions
  const Flush flush = [&](std::string& text) {
    sink(text);
    text.clear();
  };
  for (const GisFeature& f : features) {
    buf.clear();
    if (!first) buf += ',';
    const ShownGeometry g = shownGeometry(f);
    const bool large = shownPositions(g, f) > kLargeFeature;
    if (large && !allProjectable(g, f)) continue;
    if (!appendFeature(buf, f, g, large ? flush : Flush{})) continue;
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
