// Flat reading of WFS GML feature collections (WFS 1.1.0/GML 3.1 and WFS 2.0/GML 3.2) into GisFeature
// records in PL-1992 metres, easting first. PL-2000 input is converted; other systems pass through.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pugixml.hpp>

#include "formats/DataType.h"
#include "formats/GisFeature.h"
#include "geo/Point.h"

namespace veldra {

struct SrsInfo {
  std::uint32_t epsg = 0;      // 0 when none was found
  bool northingFirst = false;
};

// What a text holds, for callers that want to tell the user why nothing was read.
struct GmlDiagnosis {
  enum class Kind {
    FeatureCollection,   // parsed; features may still be zero
    XmlError,            // not well-formed XML
    TooDeep,             // nesting beyond the supported depth
    ExceptionReport,     // an OGC service exception instead of data
    NotFeatureCollection, // well-formed XML of another kind
    TooLarge             // reading it would take more memory than a small multiple of its size
  };
  Kind kind = Kind::FeatureCollection;
  std::string message;   // parser error with offset, or the exception code and texts
};

struct GmlReading {
  std::vector<GisFeature> features;
  bool tooLarge = false;   // refused (no features): more elements or coordinates than memory allows
  // EPSG codes met that are neither PL-1992 nor PL-2000: their coordinates were taken as written.
  std::vector<std::uint32_t> unknownEpsg;
};

class GmlParser {
 public:
  // Memory stays within a small multiple of the text: past it nothing is read and tooLarge is set.
  static GmlReading readFeatureCollection(std::string_view text, DataType dataType);

  static constexpr const char* kTooLargeMessage =
      "dokument wymaga zbyt duzo pamieci (za duzo elementow lub wspolrzednych wzgledem rozmiaru pliku)";

  // Malformed XML gives an empty sequence; never throws for any input.
  static std::vector<GisFeature> parseFeatureCollection(std::string_view text, DataType dataType);

  // Same result from one tree of the whole document: the reference for parseFeatureCollection, which
  // reads member by member where it safely can.
  static std::vector<GisFeature> parseFeatureCollectionWholeDocument(std::string_view text, DataType dataType);

  static GmlDiagnosis diagnose(std::string_view text);

  // Last run of digits (value > 0) after the first "EPSG"; 0 when none.
  static std::uint32_t parseSrsEpsg(std::string_view srsName);

  // srsName of the element or its nearest ancestor; the thread's document default otherwise.
  static SrsInfo srsOf(const pugi::xml_node& element);

  // (a, b) as written -> (easting, northing) in PL-1992 where the system is PL-1992 or PL-2000.
  static Point2 readCoordinatePair(double a, double b, const SrsInfo& srs);

  static bool isGeometryName(std::string_view localName);

  // Elements nested deeper than this are refused: searches below each geometry would otherwise
  // grow with the square of the depth.
  static constexpr int kMaxDepth = 256;

  // The document default EPSG of the calling thread, as set by the last parse on it.
  static std::uint32_t threadDefaultEpsg();
  static void setThreadDefaultEpsg(std::uint32_t epsg);
};

}  // namespace veldra
