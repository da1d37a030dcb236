// County and municipal OGC services: WFS GetFeature and WMS GetMap addresses,
// tiled feature requests, the search over request variants that remembers what
// worked per service and type, and the parcel/building type names of a WFS.
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "formats/DataType.h"
#include "formats/GisFeature.h"
#include "geo/Bbox.h"
#include "net/WfsClient.h"

namespace veldra {

// Feature type names of a cadastre WFS; either may be empty.
struct LayerPair {
  std::string parcels;
  std::string buildings;
};

// Request variant of a WFS GetFeature (0: nothing remembered).
//   1: 2.0.0, northing first, EPSG 2180     2: 2.0.0, easting first, EPSG 2180
//   4: 2.0.0, northing first, PL-2000 zone  3: 1.1.0, northing first, EPSG 2180
using FetchStrategy = int;

// (tiles done, tiles total); may be empty.
using TileProgressFn = std::function<void(int done, int total)>;

// "&" when the base already carries a query, else "?".
std::string querySeparator(const std::string& base);

// base + separator + "service=" + service + "&request=GetCapabilities".
std::string capabilitiesUrl(const std::string& base, const std::string& service);

// GetFeature for a PL-1992 frame. epsg 2176..2179 asks for that PL-2000 zone
// (frame converted, SRSNAME sent); anything else means EPSG 2180.
std::string buildGetFeatureUrl(const std::string& base, const std::string& typeName, const Bbox& frame, int count,
                               int startIndex, bool northingFirst, bool wfs110, int epsg);

// WMS 1.1.1 GetMap; the four values go out in the caller's order.
std::string buildGetMapUrl(const std::string& base, const std::string& layers, const double bbox[4], int width,
                           int height, int epsg);

enum class WmsVersion { V111, V130 };

// GetMap of either version; `bbox` is (minE, minN, maxE, maxN). In 1.3.0 the
// system's own axis order holds, and PL-1992 and PL-2000 are northing first:
// their box goes out as minN,minE,maxN,maxE with CRS instead of SRS.
std::string buildGetMapUrl(const std::string& base, const std::string& layers, const double bbox[4], int width,
                           int height, int epsg, WmsVersion version);

// 1.3.0 when the capabilities document says so, else 1.1.1.
WmsVersion wmsVersionOf(std::string_view capabilitiesVersion);

// Drawing layers of a local plan WMS, by the municipal rule: names with
// "rysun"; else names without any of the auxiliary words (boundaries, extents,
// outlines, collections, acts); else every name.
std::vector<std::string> planDrawingLayers(const std::vector<std::string>& names);

// Point, any outer-ring vertex or any line vertex inside the frame, borders included.
bool featureTouchesFrame(const GisFeature& feature, const Bbox& frame);
bool anyVertexInFrame(const std::vector<GisFeature>& features, const Bbox& frame);

// Drops features equal in every field to an earlier one (neighbouring tiles
// both return a feature that crosses their common edge). Order is kept.
std::vector<GisFeature> removeDuplicateFeatures(std::vector<GisFeature> features);

// True when the text is an OGC exception report (WFS ExceptionReport, WMS
// ServiceExceptionReport) rather than data.
bool isOgcExceptionReport(std::string_view text);

// Parcel and building type names found by a plain text scan of WFS capabilities
// (unprefixed or prefixed <Name> tags; archival/historic/description names only
// while nothing better has appeared).
LayerPair scanLayerPair(std::string_view capabilities);

// Text of every unprefixed <Name> element without a line feed, in document order.
std::vector<std::string> capabilityNames(std::string_view capabilities);
// GESUT network feature types: names containing "przewod", without duplicates.
std::vector<std::string> gesutWfsTypes(std::string_view capabilities);
// WMS layers for a data type: all names except the service name (WMS, WFS,
// OGC:WMS, OGC:WFS), "default" and names with a blank; GESUT (4) and BDOT500 (5) keep only their thematic names, without
// "strefa". Without duplicates, in document order. May be empty.
std::vector<std::string> wmsLayerChoice(std::string_view capabilities, DataType dataType);

// Joins the feature collections of neighbouring tiles into one document: the
// first text with members is the base and the members of later ones (any
// prefix: wfs:member, gml:featureMember) go in before its closing tag.
// Empty collections and exception reports give way to data; a report is the
// result only when nothing else came.
class FeatureCollectionMerger {
 public:
  void add(std::string text);
  std::string take();

 private:
  std::string result_;
  bool resultHasMember_ = false;
  std::string report_;
};

class OgcClient {
 public:
  // Frames above this many 500 m tiles are refused (empty text): a mistaken
  // frame must not turn into hours of requests.
  static constexpr long kMaxTiles = 4096;
  static constexpr int kTileSize = 500;
  static constexpr int kTileFeatureLimit = 1000;
  static constexpr long long kMaxWholeLayerFeatures = 200000;
  static constexpr long kWholeLayerTimeoutMs = 240000;

  explicit OgcClient(WfsClient& client) : client_(client) {}

  // Parcel and building type names from the service's WFS capabilities.
  // False when the service does not answer 200 or lists neither.
  bool resolveLayers(const std::string& serviceUrl, LayerPair& out);

  // One GML text for the frame: 500 m tiles, each cached on disk, merged.
  std::string getFeaturesTiled(const std::string& base, const std::string& typeName, const Bbox& frame,
                               const TileProgressFn& progress, bool northingFirst, bool wfs110, int epsg);

  // Features of the frame, trying the request variants 1, 2, 4, 3 until one
  // returns features inside the frame (remembered per service and type), then
  // the whole layer filtered locally.
  std::vector<GisFeature> fetchFeatures(const std::string& serviceUrl, const std::string& typeName, const Bbox& frame,
                                        DataType dataType, const TileProgressFn& progress);

  // Remembered variant for service + type, 0 when none.
  FetchStrategy rememberedStrategy(const std::string& serviceUrl, const std::string& typeName) const;

  WfsClient& client() { return client_; }

 private:
  std::vector<GisFeature> fetchWholeLayer(const std::string& serviceUrl, const std::string& typeName,
                                          const Bbox& frame, DataType dataType, const TileProgressFn& progress);

  WfsClient& client_;
  std::map<std::string, LayerPair> capabilities_;       // service URL -> type names
  std::map<std::string, FetchStrategy> strategies_;     // service URL + "|" + type -> variant
};

}  // namespace veldra
