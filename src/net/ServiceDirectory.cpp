#include "net/ServiceDirectory.h"

#include <algorithm>

#include "formats/GmlParser.h"
#include "net/Endpoints.h"
#include "net/OgcClient.h"

namespace veldra {

namespace {

std::string lowerAscii(std::string_view s) {
  std::string out(s);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool allDigits(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

ServiceAddresses lookupService(ServiceDirectory directory, std::string_view code, std::size_t keyLength) {
  if (code.size() < keyLength) return {};
  std::string_view key = code.substr(0, keyLength);
  for (const auto& row : directory) {
    if (row.key == key) return {std::string(row.wms), std::string(row.wfs)};
  }
  return {};
}

std::string chooseBoundariesLayer(std::string_view caps) {
  static constexpr std::string_view kOpen = "<Name>";
  static constexpr std::string_view kClose = "</Name>";
  std::string best;
  int bestScore = 0;
  std::size_t p = 0;
  while ((p = caps.find(kOpen, p)) != std::string_view::npos) {
    std::size_t start = p + kOpen.size();
    std::size_t end = caps.find(kClose, start);
    if (end == std::string_view::npos) break;
    std::string_view name = caps.substr(start, end - start);
    std::string low = lowerAscii(name);
    int score = 0;
    if (low.find("gmin") != std::string::npos && low.find("obrony") == std::string::npos) {
      score = low.find("granice") != std::string::npos ? 2 : 1;
    }
    if (score > bestScore) {
      bestScore = score;
      best = std::string(name);
    }
    p = end + kClose.size();
  }
  return best;
}

std::string queryMunicipalityCode(WfsClient& client, const std::string& layer, const Point2& centre) {
  Bbox frame{centre.x - 1, centre.y - 1, centre.x + 1, centre.y + 1};
  std::string url = buildGetFeatureUrl(endpoints::url(endpoints::Service::PrgBoundariesWfs), layer, frame, 5, 0,
                                       true, false, kEpsgPl1992);
  HttpResponse r = client.get(url);
  if (r.status != 200) return {};
  for (const auto& f : GmlParser::parseFeatureCollection(r.body, DataType::Dzialki)) {
    for (const auto& [key, value] : f.attributes) {
      std::string k = lowerAscii(key);
      if (k.find("teryt") == std::string::npos && k.find("kod") == std::string::npos) continue;
      if ((value.size() == 6 || value.size() == 7) && allDigits(value)) return value.substr(0, 6);
    }
  }
  return {};
}

std::string resolveMunicipality(WfsClient& client, MunicipalityCache& cache, const Bbox& frame) {
  Point2 centre{(frame.minX + frame.maxX) / 2, (frame.minY + frame.maxY) / 2};
  if (!cache.code.empty()) {
    double dx = centre.x - cache.centre.x;
    double dy = centre.y - cache.centre.y;
    if (dx * dx + dy * dy < 1e8) return cache.code;
  }
  if (cache.layer.empty()) cache.layer = std::string(kMunicipalityBoundariesLayer);
  std::string code = queryMunicipalityCode(client, cache.layer, centre);
  if (code.empty() && !cache.capabilitiesProbed) {
    cache.capabilitiesProbed = true;
    HttpResponse r = client.get(endpoints::url(endpoints::Service::PrgBoundariesWfs) +
                                "?service=WFS&version=2.0.0&request=GetCapabilities");
    if (r.status == 200) {
      std::string layer = chooseBoundariesLayer(r.body);
      if (!layer.empty() && layer != cache.layer) {
        cache.layer = layer;
        code = queryMunicipalityCode(client, cache.layer, centre);
      }
    }
  }
  if (!code.empty()) {
    cache.code = code;
    cache.centre = centre;
  }
  return code;
}

}  // namespace veldra
