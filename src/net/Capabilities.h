// WFS and WMS capabilities read as XML: the offered feature types or named
// layers with their coordinate systems, or the text of an exception report.
// (The layer choices of the import use the plain text scans of OgcClient.h;
// this reader serves the questions those scans cannot answer, such as which
// systems a layer is offered in.)
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace veldra {

struct CapabilitiesLayer {
  std::string name;
  std::string title;
  std::vector<std::string> crs;  // as written ("EPSG:2180", "urn:ogc:def:crs:EPSG::2180"), no duplicates
  // WMS scale denominators between which the layer draws (inherited from the
  // enclosing layer unless it states its own); 0 means no limit on that side.
  double minScale = 0;
  double maxScale = 0;
};

// Whether a WMS layer draws at this scale denominator (limits inclusive, with
// a little slack for the rounding of metres per pixel).
bool drawsAtScale(const CapabilitiesLayer& layer, double scaleDenominator);

struct Capabilities {
  enum class Kind {
    Wfs,              // WFS_Capabilities
    Wms,              // WMS_Capabilities or WMT_MS_Capabilities
    ExceptionReport,  // ExceptionReport or ServiceExceptionReport
    Other,            // well-formed XML of another kind
    XmlError,         // not well-formed
  };
  Kind kind = Kind::Other;
  std::string version;                   // the document element's version attribute
  std::vector<CapabilitiesLayer> layers;  // feature types or named layers, in document order
  std::string message;                   // exception texts or the parse error
};

// Never throws. Elements nested deeper than kMaxDepth are not visited.
Capabilities readCapabilities(std::string_view text);

// The first layer of that name, or null.
const CapabilitiesLayer* findLayer(const Capabilities& caps, std::string_view name);

inline constexpr int kCapabilitiesMaxDepth = 64;

}  // namespace veldra
