#include "host/PlanExport.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include <nlohmann/json.hpp>

#include "host/ExportGeometry.h"
#include "platform/TextCodec.h"

namespace veldra {
namespace {

using nlohmann::json;

struct Bounds {
  double lo[2] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity()};
  double hi[2] = {-std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  void add(double x, double y) {
    lo[0] = std::min(lo[0], x), lo[1] = std::min(lo[1], y);
    hi[0] = std::max(hi[0], x), hi[1] = std::max(hi[1], y);
  }
  json toJson() const {
    if (!(lo[0] <= hi[0])) return nullptr;
    return json::array({lo[0], lo[1], hi[0], hi[1]});
  }
};

// Plan coordinates to the millimetre: the shortest form of a rounded number is
// a third shorter, which the page downloads and parses on every change.
void addPoint(json& pts, Bounds& box, double x, double y) {
  x = std::round(x * 1000) / 1000;
  y = std::round(y * 1000) / 1000;
  pts.push_back(x);
  pts.push_back(y);
  box.add(x, y);
}

// Points of the arc from a to b turning by `angle` (positive: counter-clockwise),
// excluding a, including b; the chord alone when the arc is degenerate.
void appendArc(Point2 a, Point2 b, double angle, json& pts, Bounds& box) {
  const double dx = b.x - a.x, dy = b.y - a.y, chord = std::hypot(dx, dy);
  const double s = std::sin(angle / 2);
  if (chord > 0 && std::abs(s) > 1e-9 && std::abs(angle) < 2 * M_PI) {
    // Centre on the chord's perpendicular bisector, at the distance the
    // turning angle asks for.
    const double h = chord / (2 * std::tan(angle / 2));
    const double cx = (a.x + b.x) / 2 - dy / chord * h, cy = (a.y + b.y) / 2 + dx / chord * h;
    const double r = std::hypot(a.x - cx, a.y - cy), start = std::atan2(a.y - cy, a.x - cx);
    const int steps = std::clamp(static_cast<int>(std::abs(angle) / (M_PI / 18)), 2, 72);
    for (int i = 1; i < steps; ++i) {
      const double t = start + angle * i / steps;
      addPoint(pts, box, cx + r * std::cos(t), cy + r * std::sin(t));
    }
  }
  addPoint(pts, box, b.x, b.y);
}

// Parts of a polyline (its ring ends split it), arcs replaced by chords.
json polylineParts(const Memo& m, Bounds& box) {
  json parts = json::array();
  const int n = m.pointCount();
  int begin = 1;
  for (int r = 1; r <= std::max(m.ringCount(), 1); ++r) {
    const int end = m.ringCount() ? m.ringEnds[static_cast<std::size_t>(r)] : n;
    json pts = json::array();
    for (int i = begin; i <= end && i <= n; ++i) {
      const Point2 p = m.coords[static_cast<std::size_t>(i)];
      const auto arc = i > begin ? std::find_if(m.arcs.begin(), m.arcs.end(),
                                                [i](const PolyArc& a) { return a.endIndex == i && a.begIndex == i - 1; })
                                 : m.arcs.end();
      if (arc != m.arcs.end()) {
        appendArc(m.coords[static_cast<std::size_t>(i - 1)], p, arc->arcAngle, pts, box);
      } else {
        addPoint(pts, box, p.x, p.y);
      }
    }
    parts.push_back(std::move(pts));
    begin = end + 1;
  }
  return parts;
}

json rings(const Memo& m, Bounds& box) {
  json out = json::array();
  for (int r = 1; r <= m.ringCount(); ++r) {
    json ring = json::array();
    // Rings repeat their first point at the end; the page closes them itself.
    for (int i = m.ringEnds[static_cast<std::size_t>(r - 1)] + 1; i < m.ringEnds[static_cast<std::size_t>(r)]; ++i) {
      const Point2 p = m.coords[static_cast<std::size_t>(i)];
      addPoint(ring, box, p.x, p.y);
    }
    out.push_back(std::move(ring));
  }
  return out;
}

}  // namespace

std::string planJson(const ProjectData& project, std::uint64_t revision) {
  json layers = json::array();
  for (const auto& l : project.layers) layers.push_back({{"index", l.index}, {"name", l.name}});
  json elements = json::array();
  Bounds box;
  for (const auto& se : project.elements) {
    if (!fitsNumberFormat(se, NumberFormat::Float64)) continue;
    const Element& e = se.element;
    json j{{"id", e.guid}, {"layer", e.layer}, {"info", se.info}};
    switch (static_cast<ElementType>(e.typeCode)) {
      case ElementType::Polyline:
        j["type"] = "polyline";
        j["pen"] = e.contourPen;
        j["closed"] = e.closed;
        j["parts"] = polylineParts(se.memo, box);
        break;
      case ElementType::Fill:
      case ElementType::Slab:
        j["type"] = e.typeCode == static_cast<int>(ElementType::Fill) ? "fill" : "slab";
        j["pen"] = e.typeCode == static_cast<int>(ElementType::Fill) ? e.fillPen : e.contourPen;
        j["rings"] = rings(se.memo, box);
        break;
      case ElementType::Text: {
        std::string text;
        if (!utf16ToUtf8(se.memo.text, text)) text.clear();
        j["type"] = "text";
        j.update({{"x", e.location.x}, {"y", e.location.y}, {"angle", e.angle}, {"size", e.textSize}, {"text", text}});
        box.add(e.location.x, e.location.y);
        break;
      }
      case ElementType::Picture:
        j["type"] = "picture";
        j.update({{"x", e.location.x}, {"y", e.location.y}, {"w", e.width}, {"h", e.height}, {"angle", e.angle}});
        box.add(e.location.x, e.location.y);
        box.add(e.location.x + e.width * std::cos(e.angle) - e.height * std::sin(e.angle),
                e.location.y + e.width * std::sin(e.angle) + e.height * std::cos(e.angle));
        break;
      default:
        continue;   // meshes and morphs are seen in the 3D view
    }
    if (e.useRgbColor) j["rgb"] = json::array({e.r, e.g, e.b});
    elements.push_back(std::move(j));
  }
  const GeoLocation& g = project.geoLocation;
  const json doc{{"revision", revision},
                 {"layers", layers},
                 {"survey", {{"x", g.surveyX0}, {"y", g.surveyY0}}},
                 {"bounds", box.toJson()},
                 {"elements", elements}};
  return doc.dump(-1, ' ', true, json::error_handler_t::replace);
}

}  // namespace veldra
