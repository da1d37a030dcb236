// The host application's modelling operations, as placement, georeferencing,
// the point-cloud palette and the duplicate remover call them. Every operation
// answers a host error code: 0 is success, anything else is passed up as is.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "geo/Point.h"

namespace veldra {

using HostErr = int;
constexpr HostErr kHostOk = 0;
// Codes the stand-in host answers with (the real host's values).
constexpr HostErr kHostErrBadId = -2130311;
constexpr HostErr kHostErrBadParameters = -2130313;
constexpr HostErr kHostErrBadIndex = -2130315;
constexpr HostErr kHostErrNotSupported = -2110145;
constexpr HostErr kHostErrRefused = -2130000;  // generic refusal (injected failures)
constexpr HostErr kHostErrMemFull = -2130312;  // memory handle too large

// Element type codes.
enum class ElementType : int {
  Slab = 8,
  Mesh = 10,
  Text = 15,
  Fill = 18,
  Polyline = 20,
  Picture = 31,
  Morph = 45,
};

inline bool isKnownElementType(int code) {
  return code == 8 || code == 10 || code == 15 || code == 18 || code == 20 || code == 31 || code == 45;
}

// Attribute kinds.
enum class AttributeKind : int {
  Layer = 1,
  FillType = 3,
  SurfaceMaterial = 5,
  BuildingMaterial = 12,
};

struct Attribute {
  int index = 0;
  std::string name;
  // Fill types: whether the fill may be used for drawing fills, and its kind.
  bool usableForFills = true;
  bool solid = false;
  bool hatch = false;
  // Surface materials: colour 0..1.
  double r = 0.0, g = 0.0, b = 0.0;
};

// Element record. Defaults for a type come from the host; the caller overrides
// the fields its placement needs. Fields a type does not use are ignored.
struct Element {
  int typeCode = 0;
  std::string guid;   // assigned by the host on creation
  int layer = 1;      // layer attribute index
  int floor = 0;

  // Pens and colours.
  int contourPen = 1;
  int fillPen = 1;
  int backgroundPen = 0;
  int fillType = 0;      // fill type attribute index
  bool useRgbColor = false;
  double r = 0.0, g = 0.0, b = 0.0;   // true colour 0..1 when useRgbColor
  int surfaceMaterial = 0;            // mesh, slab, morph
  int buildingMaterial = 0;           // slab, morph

  // Levels (slab, mesh): bottom/top relative to the floor.
  double level = 0.0;
  double thickness = 0.0;

  // Text.
  double textSize = 2.5;   // mm on paper
  double angle = 0.0;      // radians, text and picture
  Point2 location;         // text anchor, picture origin
  int textAnchor = 1;

  // Picture.
  double width = 0.0, height = 0.0;   // model metres
  std::string pictureFormat;          // e.g. "PNG"
  bool mirrored = false;

  // Polyline.
  bool closed = false;
};

// Mesh level line: a polyline of 3D points inside a mesh.
struct MeshLevelLine {
  std::vector<Point3> points;
};

// Morph body: a boundary representation built by the caller.
struct MorphBody {
  std::vector<Point3> vertices;
  std::vector<std::pair<int, int>> edges;                 // vertex indices, 0-based
  std::vector<std::vector<int>> polygons;                 // signed edge indices, 1-based
};

// A polyline segment drawn as an arc: from point slot begIndex to endIndex
// (1-based, as the coordinates), bulging by arcAngle radians (negative: clockwise).
struct PolyArc {
  int begIndex = 0;
  int endIndex = 0;
  double arcAngle = 0.0;
};

// Element memo. Polygon points are numbered from 1 (slot 0 unused); every ring
// repeats its first point at its end; ringEnds holds the last slot of each ring.
struct Memo {
  std::vector<Point2> coords;        // slot 0 unused
  std::vector<int> ringEnds;         // slot 0 is 0, then end slot of each ring
  std::vector<PolyArc> arcs;         // polylines
  std::vector<double> z;             // mesh: one z per coord slot (slot 0 unused)
  std::vector<MeshLevelLine> levelLines;
  std::u16string text;               // text content
  std::vector<std::uint8_t> pixels;  // picture bytes (encoded image file)
  MorphBody body;

  int pointCount() const { return coords.empty() ? 0 : static_cast<int>(coords.size()) - 1; }
  int ringCount() const { return ringEnds.empty() ? 0 : static_cast<int>(ringEnds.size()) - 1; }
};

// Host geolocation record.
struct GeoLocation {
  double surveyEasting = 0.0;
  double surveyNorthing = 0.0;
  double surveyHeight = 0.0;   // orthogonal height, metres above sea level
  double xAxisAbscissa = 1.0;
  double xAxisOrdinate = 0.0;
  double scale = 1.0;
  double surveyX0 = 0.0;       // survey point's position in project coordinates
  double surveyY0 = 0.0;

  std::string crsName;
  std::string crsDescription;
  std::string geodeticDatum;
  std::string verticalDatum;
  std::string mapProjection;
  std::string mapZone;

  double longitude = 0.0;   // project location, degrees
  double latitude = 0.0;
  double altitude = 0.0;
  double northDirection = 0.0;   // radians
};

struct ElementHeader {
  std::string guid;
  int typeCode = 0;
  int layer = 0;
  int floor = 0;
};

enum class AlertKind { Warning, Information };

struct AlertRequest {
  AlertKind kind = AlertKind::Warning;
  std::string title;
  std::string text;
  std::vector<std::string> buttons;   // answer is the 1-based button index
};

class Host {
 public:
  virtual ~Host() = default;

  // Runs `body` as one undoable command. A non-zero result or an exception of
  // `body` rolls every change back; the result (or the exception) is passed on.
  virtual HostErr runUndoableCommand(const std::string& title, const std::function<HostErr()>& body) = 0;

  // Fills the user's current defaults for element->typeCode.
  virtual HostErr getElementDefaults(Element& element) = 0;
  // Creates an element from its record and memo; sets element.guid.
  virtual HostErr createElement(Element& element, const Memo& memo) = 0;
  // Releases a memo's contents (after every create, successful or not).
  virtual void disposeMemo(Memo& memo) = 0;
  // Attaches an identifier text to an element.
  virtual HostErr setElementInfoString(const std::string& guid, const std::string& info) = 0;

  virtual HostErr listAttributes(AttributeKind kind, std::vector<Attribute>& out) = 0;
  // Creates a layer (kind 1) or a surface material (kind 5, colour r,g,b 0..1).
  // A failure yields index 0.
  virtual HostErr createAttribute(AttributeKind kind, const std::string& name, double r, double g, double b,
                                  int& indexOut) = 0;

  virtual HostErr readGeoLocation(GeoLocation& out) = 0;
  virtual HostErr writeGeoLocation(const GeoLocation& in) = 0;

  virtual void writeReportLine(const std::string& line) = 0;

  virtual HostErr getSelection(std::vector<std::string>& guids) = 0;
  virtual HostErr elementsOfTypeOnActiveFloor(int typeCode, std::vector<std::string>& guids) = 0;
  virtual HostErr getElementHeader(const std::string& guid, ElementHeader& out) = 0;
  virtual HostErr getElementMemo(const std::string& guid, Memo& out) = 0;
  // The whole element record (a text's position is there, not in the header).
  virtual HostErr getElement(const std::string& guid, Element& out) = 0;
  // Deletes elements; only inside an undoable command. A refusal deletes nothing.
  virtual HostErr deleteElements(const std::vector<std::string>& guids) = 0;

  // Modal alert; answers the chosen button (1-based).
  virtual int showAlert(const AlertRequest& request) = 0;

  // Memory handles, as memo arrays use them.
  virtual HostErr allocateHandle(std::size_t bytes, std::int64_t& handleOut) = 0;
  virtual HostErr handleSize(std::int64_t handle, std::size_t& bytesOut) = 0;
  virtual void releaseHandle(std::int64_t handle) = 0;
};

}  // namespace veldra
