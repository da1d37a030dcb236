#include "net/OgcClient.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <system_error>
#include <unordered_map>

#include "formats/GmlParser.h"
#include "geo/Projections.h"

namespace veldra {

namespace fs = std::filesystem;

namespace {

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool contains(std::string_view hay, std::string_view needle) { return hay.find(needle) != std::string_view::npos; }

bool containsAny(std::string_view hay, std::initializer_list<std::string_view> needles) {
  return std::any_of(needles.begin(), needles.end(), [&](std::string_view n) { return contains(hay, n); });
}

// "%.10g": ten significant digits, no fixed decimals.
std::string num10(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.10g", v);
  return buf;
}

bool isTagNameEnd(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '/' || c == '>'; }

// One start tag met by the text scan: qualified name and where it begins.
struct StartTag {
  std::size_t pos = std::string_view::npos;  // of "<"
  std::string_view qname;
};

// Next start tag at or after `from` (not "</", "<?" or "<!").
StartTag nextStartTag(std::string_view text, std::size_t from) {
  for (std::size_t p = text.find('<', from); p != std::string_view::npos; p = text.find('<', p + 1)) {
    if (p + 1 >= text.size()) break;
    char c = text[p + 1];
    if (c == '/' || c == '?' || c == '!') continue;
    std::size_t e = p + 1;
    while (e < text.size() && !isTagNameEnd(text[e])) ++e;
    return {p, text.substr(p + 1, e - p - 1)};
  }
  return {};
}

std::string_view localName(std::string_view qname) {
  auto colon = qname.rfind(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

// The document element: the first start tag (prolog, comments and doctype skipped).
StartTag rootTag(std::string_view text) { return nextStartTag(text, 0); }

// First member element of a feature collection, whatever its prefix.
std::size_t firstMemberPos(std::string_view text) {
  StartTag root = rootTag(text);
  if (root.pos == std::string_view::npos) return std::string_view::npos;
  for (StartTag t = nextStartTag(text, root.pos + 1); t.pos != std::string_view::npos;
       t = nextStartTag(text, t.pos + 1)) {
    std::string_view ln = localName(t.qname);
    if (ln == "member" || ln == "featureMember" || ln == "featureMembers") return t.pos;
  }
  return std::string_view::npos;
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// Position of the closing tag of the document element: the last markup of the
// text once trailing white space, comments and processing instructions are
// set aside (so a "</wfs:FeatureCollection>" inside a comment is not taken).
std::size_t rootClosePos(std::string_view text) {
  StartTag root = rootTag(text);
  if (root.pos == std::string_view::npos || root.qname.empty()) return std::string_view::npos;
  std::size_t end = text.size();
  for (;;) {
    while (end > 0 && isXmlSpace(text[end - 1])) --end;
    std::string_view head = text.substr(0, end);
    std::size_t open = std::string_view::npos;
    if (head.ends_with("-->")) {
      open = head.rfind("<!--", end - 3);
    } else if (head.ends_with("?>")) {
      open = head.rfind("<?", end - 2);
    } else {
      break;
    }
    if (open == std::string_view::npos) return std::string_view::npos;
    end = open;
  }
  if (end == 0 || text[end - 1] != '>') return std::string_view::npos;
  std::size_t p = text.rfind("</", end - 1);
  if (p == std::string_view::npos) return std::string_view::npos;
  std::size_t nameEnd = p + 2 + root.qname.size();
  if (text.substr(p + 2, root.qname.size()) != root.qname || nameEnd >= end) return std::string_view::npos;
  for (std::size_t i = nameEnd; i + 1 < end; ++i) {
    if (!isXmlSpace(text[i])) return std::string_view::npos;
  }
  return p;
}

bool readWholeFile(const std::string& path, std::string& out) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::ostringstream ss;
  ss << in.rdbuf();
  if (in.bad()) return false;
  out = ss.str();
  return true;
}

std::atomic<unsigned> gTileWriteCounter{0};

// Written aside and renamed, so a cut-short write never stands as a cached tile.
// The ".part" name is swept at the next start should the process die first.
void writeCacheFile(const std::string& path, const std::string& body) {
  std::string tmp = path + ".part.ogc." + std::to_string(gTileWriteCounter.fetch_add(1));
  {
    std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
    if (!out) return;
    out.write(body.data(), static_cast<std::streamsize>(body.size()));
    out.close();
    if (!out) {
      std::error_code ec;
      fs::remove(tmp, ec);
      return;
    }
  }
  std::error_code ec;
  fs::rename(tmp, path, ec);
  if (ec) fs::remove(tmp, ec);
}

struct StrategySpec {
  FetchStrategy id;
  bool northingFirst;
  bool wfs110;
  bool pl2000;
};

constexpr StrategySpec kStrategies[] = {
    {1, true, false, false},
    {2, false, false, false},
    {4, true, false, true},
    {3, true, true, false},
};

bool inFrame(const Point2& p, const Bbox& f) {
  return f.minX <= p.x && p.x <= f.maxX && f.minY <= p.y && p.y <= f.maxY;
}

bool samePoints(const std::vector<Point2>& a, const std::vector<Point2>& b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](const Point2& p, const Point2& q) { return p.x == q.x && p.y == q.y; });
}

bool sameFeature(const GisFeature& a, const GisFeature& b) {
  if (a.type != b.type || a.hasPoint != b.hasPoint || a.point.x != b.point.x || a.point.y != b.point.y) return false;
  if (a.attributes != b.attributes || a.polygons.size() != b.polygons.size() || a.lines.size() != b.lines.size())
    return false;
  for (std::size_t i = 0; i < a.polygons.size(); ++i) {
    const auto& p = a.polygons[i];
    const auto& q = b.polygons[i];
    if (!samePoints(p.outer, q.outer) || p.holes.size() != q.holes.size()) return false;
    for (std::size_t h = 0; h < p.holes.size(); ++h) {
      if (!samePoints(p.holes[h], q.holes[h])) return false;
    }
  }
  for (std::size_t i = 0; i < a.lines.size(); ++i) {
    if (!samePoints(a.lines[i], b.lines[i])) return false;
  }
  return true;
}

std::size_t featureHash(const GisFeature& f) {
  std::size_t h = std::hash<int>{}(static_cast<int>(f.type));
  auto mix = [&h](std::size_t v) { h ^= v + 0x9e3779b97f4a7c15ull + (h << 6) + (h >> 2); };
  auto mixPoint = [&](const Point2& p) {
    mix(std::hash<double>{}(p.x));
    mix(std::hash<double>{}(p.y));
  };
  if (f.hasPoint) mixPoint(f.point);
  for (const auto& [k, v] : f.attributes) {
    mix(std::hash<std::string>{}(k));
    mix(std::hash<std::string>{}(v));
  }
  for (const auto& poly : f.polygons) {
    mix(poly.outer.size());
    for (const auto& p : poly.outer) mixPoint(p);
  }
  for (const auto& line : f.lines) {
    mix(line.size());
    for (const auto& p : line) mixPoint(p);
  }
  return h;
}

}  // namespace

std::string querySeparator(const std::string& base) { return base.find('?') != std::string::npos ? "&" : "?"; }

std::string capabilitiesUrl(const std::string& base, const std::string& service) {
  return base + querySeparator(base) + "service=" + service + "&request=GetCapabilities";
}

std::string buildGetFeatureUrl(const std::string& base, const std::string& typeName, const Bbox& frame, int count,
                               int startIndex, bool northingFirst, bool wfs110, int epsg) {
  std::string url = base + querySeparator(base);
  if (wfs110) {
    url += "service=WFS&version=1.1.0&request=GetFeature&typename=" + urlEncode(typeName) +
           "&maxFeatures=" + std::to_string(count);
  } else {
    url += "service=WFS&version=2.0.0&request=GetFeature&typenames=" + urlEncode(typeName) +
           "&COUNT=" + std::to_string(count);
    if (startIndex > 0) url += "&STARTINDEX=" + std::to_string(startIndex);
  }
  Bbox b = frame;
  int code = kEpsgPl1992;
  if (epsg >= kEpsgPl2000First && epsg <= kEpsgPl2000Last) {
    code = epsg;
    b = pl2000BoxOf(frame, epsg);
    url += "&SRSNAME=" + urlEncode("EPSG:" + std::to_string(epsg));
  }
  std::string value = northingFirst
                          ? num10(b.minY) + "," + num10(b.minX) + "," + num10(b.maxY) + "," + num10(b.maxX)
                          : num10(b.minX) + "," + num10(b.minY) + "," + num10(b.maxX) + "," + num10(b.maxY);
  value += ",urn:ogc:def:crs:EPSG::" + std::to_string(code);
  url += "&BBOX=" + urlEncode(value);
  return url;
}

std::string buildGetMapUrl(const std::string& base, const std::string& layers, const double bbox[4], int width,
                           int height, int epsg) {
  std::string box = num10(bbox[0]) + "," + num10(bbox[1]) + "," + num10(bbox[2]) + "," + num10(bbox[3]);
  return base + querySeparator(base) + "service=WMS&version=1.1.1&request=GetMap&layers=" + urlEncode(layers) +
         "&styles=&format=" + urlEncode("image/png") + "&transparent=true&SRS=" +
         urlEncode("EPSG:" + std::to_string(epsg)) + "&WIDTH=" + std::to_string(width) +
         "&HEIGHT=" + std::to_string(height) + "&BBOX=" + urlEncode(box);
}

std::string buildGetMapUrl(const std::string& base, const std::string& layers, const double bbox[4], int width,
                           int height, int epsg, WmsVersion version) {
  if (version == WmsVersion::V111) return buildGetMapUrl(base, layers, bbox, width, height, epsg);
  const bool northingFirst = epsg >= 2176 && epsg <= 2180;
  const double* b = bbox;
  const double swapped[4] = {bbox[1], bbox[0], bbox[3], bbox[2]};
  if (northingFirst) b = swapped;
  std::string box = num10(b[0]) + "," + num10(b[1]) + "," + num10(b[2]) + "," + num10(b[3]);
  return base + querySeparator(base) + "service=WMS&version=1.3.0&request=GetMap&layers=" + urlEncode(layers) +
         "&styles=&format=" + urlEncode("image/png") + "&transparent=true&CRS=" +
         urlEncode("EPSG:" + std::to_string(epsg)) + "&WIDTH=" + std::to_string(width) +
         "&HEIGHT=" + std::to_string(height) + "&BBOX=" + urlEncode(box);
}

WmsVersion wmsVersionOf(std::string_view v) { return v.rfind("1.3", 0) == 0 ? WmsVersion::V130 : WmsVersion::V111; }

std::vector<std::string> planDrawingLayers(const std::vector<std::string>& names) {
  std::vector<std::string> drawing;
  for (const auto& n : names)
    if (lowerAscii(n).find("rysun") != std::string::npos) drawing.push_back(n);
  if (!drawing.empty()) return drawing;
  static const char* const kAuxiliary[] = {"granic", "zasieg", "obrys", "zbior", "aktplanowania"};
  for (const auto& n : names) {
    const std::string low = lowerAscii(n);
    if (std::none_of(std::begin(kAuxiliary), std::end(kAuxiliary),
                     [&](const char* w) { return low.find(w) != std::string::npos; }))
      drawing.push_back(n);
  }
  if (!drawing.empty()) return drawing;
  return names;
}

bool featureTouchesFrame(const GisFeature& feature, const Bbox& frame) {
  if (feature.hasPoint && inFrame(feature.point, frame)) return true;
  for (const auto& poly : feature.polygons) {
    for (const auto& p : poly.outer) {
      if (inFrame(p, frame)) return true;
    }
  }
  for (const auto& line : feature.lines) {
    for (const auto& p : line) {
      if (inFrame(p, frame)) return true;
    }
  }
  return false;
}

bool anyVertexInFrame(const std::vector<GisFeature>& features, const Bbox& frame) {
  return std::any_of(features.begin(), features.end(),
                     [&](const GisFeature& f) { return featureTouchesFrame(f, frame); });
}

std::vector<GisFeature> removeDuplicateFeatures(std::vector<GisFeature> features) {
  std::unordered_map<std::size_t, std::vector<std::size_t>> seen;  // hash -> indexes kept
  std::vector<GisFeature> out;
  out.reserve(features.size());
  for (auto& f : features) {
    auto& bucket = seen[featureHash(f)];
    bool dup = std::any_of(bucket.begin(), bucket.end(), [&](std::size_t i) { return sameFeature(out[i], f); });
    if (dup) continue;
    bucket.push_back(out.size());
    out.push_back(std::move(f));
  }
  return out;
}

bool isOgcExceptionReport(std::string_view text) {
  StartTag root = rootTag(text);
  if (root.pos == std::string_view::npos) return false;
  std::string_view ln = localName(root.qname);
  return ln == "ExceptionReport" || ln == "ServiceExceptionReport";
}

LayerPair scanLayerPair(std::string_view caps) {
  LayerPair pair;
  auto offer = [](std::string& slot, const std::string& name, bool secondary) {
    if (slot.empty()) {
      slot = name;
      return;
    }
    std::string cur = lowerAscii(slot);
    bool curSecondary = containsAny(cur, {"archiw", "hist", "opis"});
    if (!secondary && curSecondary) slot = name;
  };
  for (StartTag t = nextStartTag(caps, 0); t.pos != std::string_view::npos; t = nextStartTag(caps, t.pos + 1)) {
    if (localName(t.qname) != "Name") continue;
    std::size_t gt = caps.find('>', t.pos + 1 + t.qname.size());
    if (gt == std::string_view::npos) break;
    if (caps[gt - 1] == '/') continue;  // <Name/>
    std::size_t lt = caps.find('<', gt + 1);
    if (lt == std::string_view::npos) break;
    std::string_view raw = caps.substr(gt + 1, lt - gt - 1);
    auto isWs = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!raw.empty() && isWs(raw.front())) raw.remove_prefix(1);
    while (!raw.empty() && isWs(raw.back())) raw.remove_suffix(1);
    if (raw.empty() || contains(raw, " ") || contains(raw, "/")) continue;
    std::string name(raw);
    std::string low = lowerAscii(name);
    bool secondary = containsAny(low, {"archiw", "hist", "opis"});
    if (containsAny(low, {"dzialk", "dzia\xc5\x82k", "parcel"})) {
      offer(pair.parcels, name, secondary);
    } else if (containsAny(low, {"budyn", "building"})) {
      offer(pair.buildings, name, secondary);
    }
  }
  return pair;
}

std::vector<std::string> capabilityNames(std::string_view caps) {
  std::vector<std::string> names;
  std::size_t p = 0;
  while ((p = caps.find("<Name", p)) != std::string_view::npos) {
    std::size_t after = p + 5;
    if (after >= caps.size()) break;
    if (!isTagNameEnd(caps[after])) {  // <NamedLayer> and the like
      p = after;
      continue;
    }
    std::size_t gt = caps.find('>', after);
    if (gt == std::string_view::npos) break;
    if (caps[gt - 1] == '/') {
      p = gt + 1;
      continue;
    }
    std::size_t end = caps.find("</Name", gt + 1);
    if (end == std::string_view::npos) break;
    std::string_view text = caps.substr(gt + 1, end - gt - 1);
    if (!contains(text, "\n")) names.emplace_back(text);
    p = end + 6;
  }
  return names;
}

std::vector<std::string> gesutWfsTypes(std::string_view caps) {
  std::vector<std::string> out;
  for (auto& n : capabilityNames(caps)) {
    if (!contains(lowerAscii(n), "przewod")) continue;
    if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(std::move(n));
  }
  return out;
}

std::vector<std::string> wmsLayerChoice(std::string_view caps, DataType dataType) {
  std::vector<std::string> out;
  for (auto& n : capabilityNames(caps)) {
    // The service's own name: "WMS" in 1.3.0, "OGC:WMS" in 1.1.1 documents.
    if (n == "WMS" || n == "WFS" || n == "OGC:WMS" || n == "OGC:WFS" || n == "default" || contains(n, " ")) continue;
    std::string low = lowerAscii(n);
    if (dataType == DataType::Gesut) {
      if (!containsAny(low, {"gesut", "siec", "przewod", "uzbroj", "urzadzen"}) || contains(low, "strefa")) continue;
    } else if (dataType == DataType::Bdot500) {
      if (!containsAny(low, {"bdot", "_ot", "budowl", "ogrodz", "komunikac", "zagospodar", "sport", "wody", "rzezb",
                             "sytuac", "nmz"}) ||
          contains(low, "strefa"))
        continue;
    }
    if (std::find(out.begin(), out.end(), n) == out.end()) out.push_back(std::move(n));
  }
  return out;
}

void FeatureCollectionMerger::add(std::string text) {
  if (text.empty()) return;
  if (isOgcExceptionReport(text)) {
    if (report_.empty()) report_ = std::move(text);
    return;
  }
  if (result_.empty()) {
    resultHasMember_ = firstMemberPos(text) != std::string::npos;
    result_ = std::move(text);
    return;
  }
  std::size_t member = firstMemberPos(text);
  if (member == std::string::npos) return;
  if (!resultHasMember_) {
    // An empty collection (perhaps written <wfs:FeatureCollection .../>) must
    // not shut out the tiles that have features.
    result_ = std::move(text);
    resultHasMember_ = true;
    return;
  }
  std::size_t close = rootClosePos(text);
  std::size_t at = rootClosePos(result_);
  if (close != std::string::npos && close > member && at != std::string::npos) {
    result_.insert(at, text, member, close - member);
  }
}

std::string FeatureCollectionMerger::take() {
  std::string out = result_.empty() ? std::move(report_) : std::move(result_);
  result_.clear();
  report_.clear();
  resultHasMember_ = false;
  return out;
}

bool OgcClient::resolveLayers(const std::string& serviceUrl, LayerPair& out) {
  if (auto it = capabilities_.find(serviceUrl); it != capabilities_.end()) {
    out = it->second;
    return !out.parcels.empty() || !out.buildings.empty();
  }
  HttpResponse r = client_.get(capabilitiesUrl(serviceUrl, "WFS"));
  if (r.status != 200) return false;
  LayerPair pair = scanLayerPair(r.body);
  capabilities_[serviceUrl] = pair;
  out = pair;
  return !out.parcels.empty() || !out.buildings.empty();
}

std::string OgcClient::getFeaturesTiled(const std::string& base, const std::string& typeName, const Bbox& frame,
                                        const TileProgressFn& progress, bool northingFirst, bool wfs110, int epsg) {
  if (!(frame.maxX > frame.minX)) return {};
  if (!std::isfinite(frame.minX) || !std::isfinite(frame.maxX) || !std::isfinite(frame.minY) ||
      !std::isfinite(frame.maxY) || !(frame.maxY >= frame.minY))
    return {};
  double cols = std::max(std::ceil((frame.maxX - frame.minX) / kTileSize), 1.0);
  double rows = std::max(std::ceil((frame.maxY - frame.minY) / kTileSize), 1.0);
  if (cols * rows > static_cast<double>(kMaxTiles)) return {};
  const int nx = static_cast<int>(cols);
  const int ny = static_cast<int>(rows);
  const int total = nx * ny;

  FeatureCollectionMerger merger;
  int done = 0;
  for (int ix = 0; ix < nx; ++ix) {
    for (int iy = 0; iy < ny; ++iy) {
      Bbox tile;
      tile.minX = frame.minX + ix * double(kTileSize);
      tile.maxX = std::min(tile.minX + kTileSize, frame.maxX);
      tile.minY = frame.minY + iy * double(kTileSize);
      tile.maxY = std::min(tile.minY + kTileSize, frame.maxY);
      std::string url = buildGetFeatureUrl(base, typeName, tile, kTileFeatureLimit, 0, northingFirst, wfs110, epsg);
      std::string path = cachePathFor(url, "gml");
      std::string text;
      if (!readWholeFile(path, text)) {
        text.clear();
        HttpResponse r = client_.get(url);
        if (r.status >= 200 && r.status <= 299) {
          text = std::move(r.body);
          // An exception report or an empty body is usually a passing server
          // fault; caching it would hide the tile for the cache's lifetime.
          if (!text.empty() && !isOgcExceptionReport(text)) writeCacheFile(path, text);
        }
      }
      merger.add(std::move(text));
      ++done;
      if (progress) progress(done, total);
    }
  }
  return merger.take();
}

FetchStrategy OgcClient::rememberedStrategy(const std::string& serviceUrl, const std::string& typeName) const {
  auto it = strategies_.find(serviceUrl + "|" + typeName);
  return it == strategies_.end() ? 0 : it->second;
}

std::vector<GisFeature> OgcClient::fetchFeatures(const std::string& serviceUrl, const std::string& typeName,
                                                 const Bbox& frame, DataType dataType,
                                                 const TileProgressFn& progress) {
  if (typeName.empty()) return {};
  // Nothing can lie in an inverted or undefined frame; without this the
  // whole-layer fallback would download the layer only to filter it all away.
  if (!(frame.maxX > frame.minX) || !(frame.maxY >= frame.minY) || !std::isfinite(frame.minX) ||
      !std::isfinite(frame.maxX) || !std::isfinite(frame.minY) || !std::isfinite(frame.maxY))
    return {};
  const std::string key = serviceUrl + "|" + typeName;
  FetchStrategy remembered = rememberedStrategy(serviceUrl, typeName);
  auto [lat, lon] = pl1992ToWgs84((frame.minX + frame.maxX) / 2, (frame.minY + frame.maxY) / 2);
  (void)lat;
  const int zone = pl2000ZoneForLongitude(lon);

  auto run = [&](const StrategySpec& s) {
    std::string text =
        getFeaturesTiled(serviceUrl, typeName, frame, progress, s.northingFirst, s.wfs110, s.pl2000 ? zone : 0);
    return removeDuplicateFeatures(GmlParser::parseFeatureCollection(text, dataType));
  };

  if (remembered != 0) {
    for (const auto& s : kStrategies) {
      if (s.id == remembered) return run(s);
    }
  } else {
    for (const auto& s : kStrategies) {
      auto features = run(s);
      if (anyVertexInFrame(features, frame)) {
        strategies_[key] = s.id;
        return features;
      }
    }
  }
  return fetchWholeLayer(serviceUrl, typeName, frame, dataType, progress);
}

std::vector<GisFeature> OgcClient::fetchWholeLayer(const std::string& serviceUrl, const std::string& typeName,
                                                   const Bbox& frame, DataType dataType,
                                                   const TileProgressFn& progress) {
  const std::string base = serviceUrl + querySeparator(serviceUrl) +
                           "service=WFS&version=2.0.0&request=GetFeature&typenames=" + urlEncode(typeName);
  HttpResponse hits = client_.get(base + "&resultType=hits");
  static constexpr std::string_view kMarker = "numberMatched=\"";
  std::size_t at = hits.body.find(kMarker);
  if (at == std::string::npos) return {};
  long long matched = 0;
  std::size_t p = at + kMarker.size();
  bool digits = false;
  while (p < hits.body.size() && hits.body[p] >= '0' && hits.body[p] <= '9') {
    digits = true;
    matched = matched * 10 + (hits.body[p] - '0');
    if (matched > kMaxWholeLayerFeatures) break;  // no need to read further, and no overflow
    ++p;
  }
  if (!digits || matched < 1 || matched > kMaxWholeLayerFeatures) return {};

  if (progress) progress(0, 1);
  std::string text = client_.getTextCached(base, kWholeLayerTimeoutMs);
  if (text.empty()) return {};
  std::vector<GisFeature> kept;
  for (auto& f : GmlParser::parseFeatureCollection(text, dataType)) {
    if (featureTouchesFrame(f, frame)) kept.push_back(std::move(f));
  }
  if (progress) progress(1, 1);
  return kept;
}

}  // namespace veldra
