#include "formats/GeoJsonWriter.h"

#include <cmath>

#include <nlohmann/json.hpp>

#include "geo/Projections.h"

namespace veldra {
namespace {

using nlohmann::json;

// Far outside the projection's domain the series give inf or NaN, which JSON would write as null.
thread_local bool tNonFinite = false;

json position(const Point2& p) {
  const auto [lat, lon] = pl1992ToWgs84(p.x, p.y);
  if (!std::isfinite(lat) || !std::isfinite(lon)) tNonFinite = true;
  return json::array({lon, lat});
}

json pointArray(const std::vector<Point2>& pts) {
  json a = json::array();
  for (const Point2& p : pts) a.push_back(position(p));
  return a;
}

json polygonRings(const Polygon2& poly) {
  json rings = json::array();
  rings.push_back(pointArray(poly.outer));
  for (const auto& hole : poly.holes) rings.push_back(pointArray(hole));
  return rings;
}

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

std::string toGeoJson(const std::vector<GisFeature>& features) {
  json collection = {{"type", "FeatureCollection"}, {"features", json::array()}};
  json& out = collection["features"];
  for (const GisFeature& f : features) {
    tNonFinite = false;
    json geometry;
    if (!f.polygons.empty()) {
      if (f.polygons.size() == 1) {
        geometry = {{"type", "Polygon"}, {"coordinates", polygonRings(f.polygons.front())}};
      } else {
        json polys = json::array();
        for (const auto& poly : f.polygons) polys.push_back(polygonRings(poly));
        geometry = {{"type", "MultiPolygon"}, {"coordinates", std::move(polys)}};
      }
    } else if (!f.lines.empty()) {
      if (f.lines.size() == 1) {
        geometry = {{"type", "LineString"}, {"coordinates", pointArray(f.lines.front())}};
      } else {
        json lines = json::array();
        for (const auto& line : f.lines) lines.push_back(pointArray(line));
        geometry = {{"type", "MultiLineString"}, {"coordinates", std::move(lines)}};
      }
    } else if (f.hasPoint) {
      geometry = {{"type", "Point"}, {"coordinates", position(f.point)}};
    } else {
      continue;
    }
    if (tNonFinite) continue;
    json props = json::object();
    for (const auto& [key, value] : f.attributes) props[key] = value;
    props["_kind"] = geoJsonKind(f.type);
    out.push_back({{"type", "Feature"}, {"properties", std::move(props)}, {"geometry", std::move(geometry)}});
  }
  // Attribute texts come from services unchecked; invalid UTF-8 must not abort the preview.
  return collection.dump(-1, ' ', true, json::error_handler_t::replace);
}

}  // namespace veldra
