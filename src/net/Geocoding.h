// Address search (suggestions and best match) and OpenStreetMap ways.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "geo/Bbox.h"
#include "geo/Point.h"

namespace veldra {

class WfsClient;

struct AddressSuggestion {
  std::string label;
  double lat = 0.0;
  double lon = 0.0;
};

struct OsmWay {
  std::vector<Point2> points;   // PL-1992, at least 2
  std::string name;
  std::string kind;             // highway tag, else railway tag
  double width = 0.0;           // metres
  bool isBridge = false;
};

std::string photonSearchUrl(const std::string& query, int limit);
std::string photonLabel(const nlohmann::json& properties);
// Suggestions from the answer body of the suggestion service.
std::vector<AddressSuggestion> parsePhotonAnswer(const std::string& body);
// At most 5 suggestions; any failure gives none.
std::vector<AddressSuggestion> suggestAddresses(WfsClient& client, const std::string& query);

std::string nominatimUrl(const std::string& query);

// Overpass query text for a frame (bbox text "south,west,north,east").
std::string overpassQuery(const std::string& bboxText, bool wantBridges, bool wantRoads);
// Bridges and/or roads of the frame; `error` receives the only message.
std::vector<OsmWay> fetchOsmWays(WfsClient& client, const Bbox& frame, bool wantBridges, bool wantRoads,
                                 std::string& error);
// Ways of an Overpass JSON answer; `readable` is false when the answer is not
// an object with an "elements" array.
std::vector<OsmWay> parseOverpassWays(const std::string& body);
std::vector<OsmWay> parseOverpassWays(const std::string& body, bool& readable);
inline constexpr const char* kOverpassUnreadable = "OSM (Overpass): nieczytelna odpowiedz uslugi.";

double estimateWayWidth(const std::string& kind, const std::string& widthTag, const std::string& lanesTag,
                        bool isBridge);

}  // namespace veldra
