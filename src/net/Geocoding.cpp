#include "net/Geocoding.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "geo/Projections.h"
#include "net/Endpoints.h"
#include "net/WfsClient.h"

namespace veldra {

using nlohmann::json;

namespace {

std::string textOf(const json& o, const char* name) {
  if (!o.is_object()) return {};
  auto it = o.find(name);
  if (it == o.end() || !it->is_string()) return {};
  return it->get<std::string>();
}

}  // namespace

std::string photonSearchUrl(const std::string& query, int limit) {
  return endpoints::url(endpoints::Service::PhotonApi) + "?q=" + urlEncode(query) + "&limit=" + std::to_string(limit) +
         "&bbox=14.1,49.0,24.2,54.9";
}

std::string photonLabel(const json& properties) {
  const std::string name = textOf(properties, "name");
  const std::string street = textOf(properties, "street");
  const std::string number = textOf(properties, "housenumber");
  const std::string city = textOf(properties, "city");
  const std::string county = textOf(properties, "county");
  std::vector<std::string> parts;
  if (!name.empty()) parts.push_back(name);
  if (!street.empty() && !number.empty())
    parts.push_back(street + " " + number);
  else if (!street.empty())
    parts.push_back(street);
  else if (!number.empty())
    parts.push_back(number);
  if (!city.empty()) parts.push_back(city);
  if (!county.empty()) parts.push_back(county);
  std::string out;
  for (const auto& p : parts) {
    if (!out.empty()) out += ", ";
    out += p;
  }
  return out;
}

std::vector<AddressSuggestion> parsePhotonAnswer(const std::string& body) {
  std::vector<AddressSuggestion> out;
  json j = json::parse(body, nullptr, false, false);
  if (j.is_discarded() || !j.is_object()) return out;
  auto feats = j.find("features");
  if (feats == j.end() || !feats->is_array()) return out;
  for (const auto& f : *feats) {
    if (!f.is_object()) continue;
    auto geom = f.find("geometry");
    if (geom == f.end() || !geom->is_object()) continue;
    auto coords = geom->find("coordinates");
    if (coords == geom->end() || !coords->is_array() || coords->size() < 2 || !(*coords)[0].is_number() ||
        !(*coords)[1].is_number())
      continue;
    AddressSuggestion s;
    s.lon = (*coords)[0].get<double>();
    s.lat = (*coords)[1].get<double>();
    auto props = f.find("properties");
    s.label = props != f.end() ? photonLabel(*props) : std::string();
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<AddressSuggestion> suggestAddresses(WfsClient& client, const std::string& query) {
  HttpResponse r = client.getOnce(photonSearchUrl(query, 5), 4000);
  if (r.status != 200) return {};
  return parsePhotonAnswer(r.body);
}

std::string nominatimUrl(const std::string& query) {
  return endpoints::url(endpoints::Service::NominatimSearch) + "?format=json&limit=1&countrycodes=pl&q=" +
         urlEncode(query);
}

std::string overpassQuery(const std::string& bboxText, bool wantBridges, bool wantRoads) {
  std::string q = "[out:json][timeout:25];(";
  if (wantBridges) q += "way[\"bridge\"~\"^(yes|viaduct)$\"](" + bboxText + ");";
  if (wantRoads)
    q += "way[\"highway\"~\"^(motorway|trunk|primary|secondary|tertiary|residential|unclassified|living_street)$\"](" +
         bboxText + ");";
  q += ");out geom;";
  return q;
}

std::vector<OsmWay> parseOverpassWays(const std::string& body) {
  bool readable = false;
  return parseOverpassWays(body, readable);
}

std::vector<OsmWay> parseOverpassWays(const std::string& body, bool& readable) {
  std::vector<OsmWay> ways;
  readable = false;
  json j = json::parse(body, nullptr, false, false);
  if (j.is_discarded() || !j.is_object()) return ways;
  auto elems = j.find("elements");
  if (elems == j.end() || !elems->is_array()) return ways;
  readable = true;
  for (const auto& e : *elems) {
    if (!e.is_object() || textOf(e, "type") != "way") continue;
    auto geom = e.find("geometry");
    if (geom == e.end() || !geom->is_array()) continue;
    json tags = json::object();
    if (auto t = e.find("tags"); t != e.end() && t->is_object()) tags = *t;
    OsmWay w;
    w.kind = textOf(tags, "highway");
    if (w.kind.empty()) w.kind = textOf(tags, "railway");
    const std::string bridge = textOf(tags, "bridge");
    w.isBridge = bridge == "yes" || bridge == "viaduct";
    w.name = textOf(tags, "name");
    w.width = estimateWayWidth(w.kind, textOf(tags, "width"), textOf(tags, "lanes"), w.isBridge);
    for (const auto& g : *geom) {
      if (!g.is_object()) continue;
      auto lat = g.find("lat");
      auto lon = g.find("lon");
      if (lat == g.end() || lon == g.end() || !lat->is_number() || !lon->is_number()) continue;
      auto [x, y] = wgs84ToPl1992(lat->get<double>(), lon->get<double>());
      w.points.push_back({x, y});
    }
    if (w.points.size() >= 2) ways.push_back(std::move(w));
  }
  return ways;
}

std::vector<OsmWay> fetchOsmWays(WfsClient& client, const Bbox& frame, bool wantBridges, bool wantRoads,
                                 std::string& error) {
  error.clear();
  if (!wantBridges && !wantRoads) return {};
  if ((frame.maxX - frame.minX) * (frame.maxY - frame.minY) > 2.5e7) {
    error = "Mosty/drogi (OSM): kadr za duzy \xE2\x80\x94 przybliz mape (max ok. 5x5 km).";
    return {};
  }
  double minLat = 1e9, minLon = 1e9, maxLat = -1e9, maxLon = -1e9;
  const double cx[4] = {frame.minX, frame.maxX, frame.minX, frame.maxX};
  const double cy[4] = {frame.minY, frame.maxY, frame.maxY, frame.minY};
  for (int i = 0; i < 4; ++i) {
    auto [lat, lon] = pl1992ToWgs84(cx[i], cy[i]);
    minLat = std::min(minLat, lat);
    maxLat = std::max(maxLat, lat);
    minLon = std::min(minLon, lon);
    maxLon = std::max(maxLon, lon);
  }
  char bbox[160];
  std::snprintf(bbox, sizeof bbox, "%.6f,%.6f,%.6f,%.6f", minLat, minLon, maxLat, maxLon);
  const std::string url = endpoints::url(endpoints::Service::OverpassInterpreter) + "?data=" +
                          urlEncode(overpassQuery(bbox, wantBridges, wantRoads));
  HttpResponse r = client.get(url);
  if (r.status != 200) {
    error = "OSM (Overpass): usluga nie odpowiada (status " + std::to_string(r.status) + ").";
    return {};
  }
  // An answer of another shape (a proxy's page, a cut-off body) is a failure
  // the user must hear of, not a frame without ways.
  bool readable = false;
  std::vector<OsmWay> ways = parseOverpassWays(r.body, readable);
  if (!readable) error = kOverpassUnreadable;
  return ways;
}

double estimateWayWidth(const std::string& kind, const std::string& widthTag, const std::string& lanesTag,
                        bool isBridge) {
  if (!widthTag.empty()) {
    errno = 0;
    char* end = nullptr;
    const double w = std::strtod(widthTag.c_str(), &end);
    if (end != widthTag.c_str() && w > 0.5 && w < 60) return w;
  }
  if (!lanesTag.empty()) {
    char* end = nullptr;
    const long n = std::strtol(lanesTag.c_str(), &end, 10);
    if (end != lanesTag.c_str() && n >= 1 && n <= 12) return static_cast<double>(n) * 3.5 + 1.0;
  }
  if (kind == "motorway" || kind == "trunk") return 14;
  if (kind == "primary") return 10;
  if (kind == "secondary") return 8;
  if (kind == "tertiary") return 7;
  if (kind == "residential" || kind == "unclassified" || kind == "living_street") return 6;
  if (kind == "tram" || kind == "rail") return 3;
  if (kind == "cycleway" || kind == "path") return 2.5;
  if (kind == "footway" || kind == "pedestrian" || kind == "steps") return 2;
  return isBridge ? 6 : 5;
}

}  // namespace veldra
