#include "host/ProjectFile.h"

#include <limits>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <system_error>

#include "formats/JsonNumbers.h"
#include "host/ElementFields.h"
#include "platform/TextCodec.h"
#include "platform/InputFile.h"
#include "platform/Paths.h"

namespace veldra {
namespace {

using ojson = nlohmann::ordered_json;
using json = nlohmann::json;
using namespace elementfields;

constexpr const char* kFormat = "veldra-project";
constexpr int kVersion = 1;
constexpr std::uintmax_t kMaxFileBytes = std::uintmax_t{2} << 30;

// ---- base64 (pictures) ------------------------------------------------------

constexpr char kB64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::string toBase64(const std::vector<std::uint8_t>& in) {
  std::string out;
  out.reserve((in.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < in.size(); i += 3) {
    const unsigned v = (in[i] << 16) | (in[i + 1] << 8) | in[i + 2];
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += kB64[(v >> 6) & 63];
    out += kB64[v & 63];
  }
  if (i < in.size()) {
    const unsigned v = (in[i] << 16) | (i + 1 < in.size() ? in[i + 1] << 8 : 0);
    out += kB64[v >> 18];
    out += kB64[(v >> 12) & 63];
    out += i + 1 < in.size() ? kB64[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

bool fromBase64(const std::string& in, std::vector<std::uint8_t>& out) {
  out.clear();
  if (in.size() % 4 != 0) return false;
  out.reserve(in.size() / 4 * 3);
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  for (std::size_t i = 0; i < in.size(); i += 4) {
    const bool last = i + 4 == in.size();
    const int pad = last ? (in[i + 3] == '=') + (in[i + 2] == '=') : 0;
    if (pad == 1 && in[i + 2] == '=') return false;
    int v[4] = {0, 0, 0, 0};
    for (int k = 0; k < 4 - pad; ++k) {
      v[k] = value(in[i + static_cast<std::size_t>(k)]);
      if (v[k] < 0) return false;
    }
    const unsigned n = (static_cast<unsigned>(v[0]) << 18) | (static_cast<unsigned>(v[1]) << 12) |
                       (static_cast<unsigned>(v[2]) << 6) | static_cast<unsigned>(v[3]);
    out.push_back(static_cast<std::uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<std::uint8_t>((n >> 8) & 255));
    if (pad < 1) out.push_back(static_cast<std::uint8_t>(n & 255));
  }
  return true;
}

// ---- writing ----------------------------------------------------------------

ojson attributeJson(const Attribute& a, AttributeKind kind) {
  ojson j;
  j["index"] = a.index;
  j["name"] = a.name;
  if (kind == AttributeKind::FillType) {
    j["usableForFills"] = a.usableForFills;
    j["solid"] = a.solid;
    j["hatch"] = a.hatch;
  }
  if (kind == AttributeKind::SurfaceMaterial) j["rgb"] = {a.r, a.g, a.b};
  return j;
}

ojson memoJson(const Memo& m, unsigned parts) {
  ojson j = ojson::object();
  if (parts & kCoords) {
    ojson pts = ojson::array();
    for (std::size_t i = 1; i < m.coords.size(); ++i) {
      pts.push_back(m.coords[i].x);
      pts.push_back(m.coords[i].y);
    }
    j["points"] = std::move(pts);
    ojson ends = ojson::array();
    for (std::size_t i = 1; i < m.ringEnds.size(); ++i) ends.push_back(m.ringEnds[i]);
    j["ringEnds"] = std::move(ends);
    if (!m.arcs.empty()) {
      ojson arcs = ojson::array();
      for (const auto& a : m.arcs) arcs.push_back(ojson::array({a.begIndex, a.endIndex, a.arcAngle}));
      j["arcs"] = std::move(arcs);
    }
  }
  if ((parts & kZ) && !m.z.empty()) {
    ojson z = ojson::array();
    for (std::size_t i = 1; i < m.z.size(); ++i) z.push_back(m.z[i]);
    j["z"] = std::move(z);
  }
  if ((parts & kLevelLines) && !m.levelLines.empty()) {
    ojson lines = ojson::array();
    for (const auto& line : m.levelLines) {
      ojson l = ojson::array();
      for (const auto& p : line.points) {
        l.push_back(p.x);
        l.push_back(p.y);
        l.push_back(p.z);
      }
      lines.push_back(std::move(l));
    }
    j["levelLines"] = std::move(lines);
  }
  if (parts & kText) {
    std::string utf8;
    if (!utf16ToUtf8(m.text, utf8)) throw std::runtime_error("tekst elementu nie jest poprawnym UTF-16");
    j["text"] = utf8;
  }
  if (parts & kPixels) j["pixels"] = toBase64(m.pixels);
  if (parts & kBody) {
    ojson v = ojson::array(), e = ojson::array(), p = ojson::array();
    for (const auto& q : m.body.vertices) {
      v.push_back(q.x);
      v.push_back(q.y);
      v.push_back(q.z);
    }
    for (const auto& [a, b] : m.body.edges) {
      e.push_back(a);
      e.push_back(b);
    }
    for (const auto& poly : m.body.polygons) p.push_back(poly);
    j["vertices"] = std::move(v);
    j["edges"] = std::move(e);
    j["polygons"] = std::move(p);
  }
  return j;
}

ojson elementJson(const StoredElement& s) {
  const Element& e = s.element;
  const unsigned f = fieldsOf(e.typeCode);
  ojson j;
  j["guid"] = e.guid;
  j["type"] = e.typeCode;
  j["layer"] = e.layer;
  j["floor"] = e.floor;
  j["info"] = s.info;
  j["contourPen"] = e.contourPen;
  if (f & kFill) {
    j["fillPen"] = e.fillPen;
    j["backgroundPen"] = e.backgroundPen;
    j["fillType"] = e.fillType;
  }
  if (f & kRgb) {
    j["useRgbColor"] = e.useRgbColor;
    j["rgb"] = {e.r, e.g, e.b};
  }
  if (f & kSurface) j["surfaceMaterial"] = e.surfaceMaterial;
  if (f & kBuildingMat) j["buildingMaterial"] = e.buildingMaterial;
  if (f & kLevels) {
    j["level"] = e.level;
    j["thickness"] = e.thickness;
  }
  if (f & kTextStyle) {
    j["textSize"] = e.textSize;
    j["textAnchor"] = e.textAnchor;
  }
  if (f & kPlacement) {
    j["angle"] = e.angle;
    j["location"] = {e.location.x, e.location.y};
  }
  if (f & kPicture) {
    j["width"] = e.width;
    j["height"] = e.height;
    j["pictureFormat"] = e.pictureFormat;
    j["mirrored"] = e.mirrored;
  }
  if (f & kClosed) j["closed"] = e.closed;
  j["memo"] = memoJson(s.memo, memoPartsOf(e.typeCode));
  return j;
}

ojson geoJson(const GeoLocation& g) {
  ojson j;
  j["surveyEasting"] = g.surveyEasting;
  j["surveyNorthing"] = g.surveyNorthing;
  j["surveyHeight"] = g.surveyHeight;
  j["xAxisAbscissa"] = g.xAxisAbscissa;
  j["xAxisOrdinate"] = g.xAxisOrdinate;
  j["scale"] = g.scale;
  j["surveyX0"] = g.surveyX0;
  j["surveyY0"] = g.surveyY0;
  j["crsName"] = g.crsName;
  j["crsDescription"] = g.crsDescription;
  j["geodeticDatum"] = g.geodeticDatum;
  j["verticalDatum"] = g.verticalDatum;
  j["mapProjection"] = g.mapProjection;
  j["mapZone"] = g.mapZone;
  j["longitude"] = g.longitude;
  j["latitude"] = g.latitude;
  j["altitude"] = g.altitude;
  j["northDirection"] = g.northDirection;
  return j;
}

// ---- reading ----------------------------------------------------------------

struct BadFile : std::runtime_error {
  using std::runtime_error::runtime_error;
};

const json* member(const json& obj, const char* key) {
  auto it = obj.find(key);
  return it == obj.end() ? nullptr : &*it;
}

// Missing keys keep the record's default; a key of the wrong kind is an error.
void readDouble(const json& obj, const char* key, double& out, const std::string& where) {
  if (const json* v = member(obj, key)) {
    if (!v->is_number()) throw BadFile(where + key + ": oczekiwano liczby");
    out = v->get<double>();
  }
}

int toInt(const json& v, const std::string& what) {
  std::int64_t n = 0;
  switch (readJsonWhole(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), n)) {
    case JsonWhole::Ok: return static_cast<int>(n);
    case JsonWhole::OutOfRange: throw BadFile(what + ": liczba poza zakresem");
    case JsonWhole::NotWhole: break;
  }
  throw BadFile(what + ": oczekiwano liczby calkowitej");
}

void readInt(const json& obj, const char* key, int& out, const std::string& where) {
  if (const json* v = member(obj, key)) out = toInt(*v, where + key);
}

void readBool(const json& obj, const char* key, bool& out, const std::string& where) {
  if (const json* v = member(obj, key)) {
    if (!v->is_boolean()) throw BadFile(where + key + ": oczekiwano true/false");
    out = v->get<bool>();
  }
}

void readString(const json& obj, const char* key, std::string& out, const std::string& where) {
  if (const json* v = member(obj, key)) {
    if (!v->is_string()) throw BadFile(where + key + ": oczekiwano tekstu");
    out = v->get<std::string>();
  }
}

const json& arrayOf(const json& obj, const char* key, const std::string& where) {
  static const json empty = json::array();
  const json* v = member(obj, key);
  if (!v) return empty;
  if (!v->is_array()) throw BadFile(where + key + ": oczekiwano tablicy");
  return *v;
}

std::vector<double> numbers(const json& arr, std::size_t group, const std::string& what) {
  if (!arr.is_array()) throw BadFile(what + ": oczekiwano tablicy");
  if (arr.size() % group != 0) throw BadFile(what + ": liczba wartosci nie jest wielokrotnoscia " + std::to_string(group));
  std::vector<double> out;
  out.reserve(arr.size());
  for (const auto& v : arr) {
    if (!v.is_number()) throw BadFile(what + ": oczekiwano liczby");
    out.push_back(v.get<double>());
  }
  return out;
}

void readRgb(const json& obj, double& r, double& g, double& b, const std::string& where) {
  if (const json* v = member(obj, "rgb")) {
    const auto c = numbers(*v, 3, where + "rgb");
    if (c.size() != 3) throw BadFile(where + "rgb: oczekiwano trzech liczb");
    r = c[0], g = c[1], b = c[2];
  }
}

std::vector<Attribute> readAttributes(const json& attrs, const char* key, AttributeKind kind) {
  std::vector<Attribute> out;
  const std::string where = std::string("attributes.") + key;
  const json& arr = arrayOf(attrs, key, where + ": ");
  for (std::size_t i = 0; i < arr.size(); ++i) {
    const json& a = arr[i];
    const std::string w = where + "[" + std::to_string(i) + "].";
    if (!a.is_object()) throw BadFile(where + "[" + std::to_string(i) + "]: oczekiwano obiektu");
    Attribute at;
    if (!member(a, "index")) throw BadFile(w + "index: brak");
    readInt(a, "index", at.index, w);
    readString(a, "name", at.name, w);
    if (kind == AttributeKind::FillType) {
      readBool(a, "usableForFills", at.usableForFills, w);
      readBool(a, "solid", at.solid, w);
      readBool(a, "hatch", at.hatch, w);
    }
    if (kind == AttributeKind::SurfaceMaterial) readRgb(a, at.r, at.g, at.b, w);
    out.push_back(std::move(at));
  }
  return out;
}

Memo readMemo(const json& j, unsigned parts, const std::string& where) {
  Memo m;
  if (!j.is_object()) throw BadFile(where + "memo: oczekiwano obiektu");
  const std::string w = where + "memo.";
  if (parts & kCoords) {
    const auto pts = numbers(arrayOf(j, "points", w), 2, w + "points");
    m.coords.resize(pts.size() / 2 + 1);
    for (std::size_t i = 0; i < pts.size() / 2; ++i) m.coords[i + 1] = Point2{pts[2 * i], pts[2 * i + 1]};
    const json& ends = arrayOf(j, "ringEnds", w);
    if (!ends.empty() || member(j, "ringEnds")) {
      m.ringEnds.push_back(0);
      for (const auto& e : ends) m.ringEnds.push_back(toInt(e, w + "ringEnds"));
    }
    for (const auto& a : arrayOf(j, "arcs", w)) {
      if (!a.is_array() || a.size() != 3) throw BadFile(w + "arcs: oczekiwano [poczatek, koniec, kat]");
      const auto angle = numbers(json::array({a[2]}), 1, w + "arcs");
      m.arcs.push_back(PolyArc{toInt(a[0], w + "arcs"), toInt(a[1], w + "arcs"), angle[0]});
    }
  }
  if ((parts & kZ) && member(j, "z")) {
    const auto z = numbers(j["z"], 1, w + "z");
    m.z.reserve(z.size() + 1);
    m.z.push_back(0.0);
    m.z.insert(m.z.end(), z.begin(), z.end());
  }
  if (parts & kLevelLines) {
    for (const auto& line : arrayOf(j, "levelLines", w)) {
      const auto v = numbers(line, 3, w + "levelLines");
      MeshLevelLine l;
      for (std::size_t i = 0; i + 2 < v.size(); i += 3) l.points.push_back(Point3{v[i], v[i + 1], v[i + 2]});
      m.levelLines.push_back(std::move(l));
    }
  }
  if (parts & kText) {
    std::string t;
    readString(j, "text", t, w);
    if (!utf8ToUtf16(t, m.text)) throw BadFile(w + "text: bledne UTF-8");
  }
  if (parts & kPixels) {
    std::string b64;
    readString(j, "pixels", b64, w);
    if (!fromBase64(b64, m.pixels)) throw BadFile(w + "pixels: bledne base64");
  }
  if (parts & kBody) {
    const auto v = numbers(arrayOf(j, "vertices", w), 3, w + "vertices");
    for (std::size_t i = 0; i + 2 < v.size(); i += 3) m.body.vertices.push_back(Point3{v[i], v[i + 1], v[i + 2]});
    const json& e = arrayOf(j, "edges", w);
    if (e.size() % 2 != 0) throw BadFile(w + "edges: nieparzysta liczba wartosci");
    for (std::size_t i = 0; i < e.size(); i += 2)
      m.body.edges.emplace_back(toInt(e[i], w + "edges"), toInt(e[i + 1], w + "edges"));
    for (const auto& poly : arrayOf(j, "polygons", w)) {
      if (!poly.is_array()) throw BadFile(w + "polygons: oczekiwano tablicy");
      std::vector<int> p;
      for (const auto& k : poly) p.push_back(toInt(k, w + "polygons"));
      m.body.polygons.push_back(std::move(p));
    }
  }
  return m;
}

StoredElement readElement(const json& j, std::size_t i) {
  const std::string where = "elements[" + std::to_string(i) + "].";
  if (!j.is_object()) throw BadFile("elements[" + std::to_string(i) + "]: oczekiwano obiektu");
  StoredElement s;
  Element& e = s.element;
  if (!member(j, "type")) throw BadFile(where + "type: brak");
  readInt(j, "type", e.typeCode, where);
  if (!isKnownElementType(e.typeCode)) throw BadFile(where + "type: nieznany typ " + std::to_string(e.typeCode));
  readString(j, "guid", e.guid, where);
  readInt(j, "layer", e.layer, where);
  readInt(j, "floor", e.floor, where);
  readString(j, "info", s.info, where);
  readInt(j, "contourPen", e.contourPen, where);
  readInt(j, "fillPen", e.fillPen, where);
  readInt(j, "backgroundPen", e.backgroundPen, where);
  readInt(j, "fillType", e.fillType, where);
  readBool(j, "useRgbColor", e.useRgbColor, where);
  readRgb(j, e.r, e.g, e.b, where);
  readInt(j, "surfaceMaterial", e.surfaceMaterial, where);
  readInt(j, "buildingMaterial", e.buildingMaterial, where);
  readDouble(j, "level", e.level, where);
  readDouble(j, "thickness", e.thickness, where);
  readDouble(j, "textSize", e.textSize, where);
  readInt(j, "textAnchor", e.textAnchor, where);
  readDouble(j, "angle", e.angle, where);
  if (const json* loc = member(j, "location")) {
    const auto v = numbers(*loc, 2, where + "location");
    if (v.size() != 2) throw BadFile(where + "location: oczekiwano dwoch liczb");
    e.location = Point2{v[0], v[1]};
  }
  readDouble(j, "width", e.width, where);
  readDouble(j, "height", e.height, where);
  readString(j, "pictureFormat", e.pictureFormat, where);
  readBool(j, "mirrored", e.mirrored, where);
  readBool(j, "closed", e.closed, where);
  const json* memo = member(j, "memo");
  if (!memo) throw BadFile(where + "memo: brak");
  s.memo = readMemo(*memo, memoPartsOf(e.typeCode), where);
  return s;
}

GeoLocation readGeo(const json& j) {
  GeoLocation g;
  if (!j.is_object()) throw BadFile("geolocation: oczekiwano obiektu");
  const std::string w = "geolocation.";
  readDouble(j, "surveyEasting", g.surveyEasting, w);
  readDouble(j, "surveyNorthing", g.surveyNorthing, w);
  readDouble(j, "surveyHeight", g.surveyHeight, w);
  readDouble(j, "xAxisAbscissa", g.xAxisAbscissa, w);
  readDouble(j, "xAxisOrdinate", g.xAxisOrdinate, w);
  readDouble(j, "scale", g.scale, w);
  readDouble(j, "surveyX0", g.surveyX0, w);
  readDouble(j, "surveyY0", g.surveyY0, w);
  readString(j, "crsName", g.crsName, w);
  readString(j, "crsDescription", g.crsDescription, w);
  readString(j, "geodeticDatum", g.geodeticDatum, w);
  readString(j, "verticalDatum", g.verticalDatum, w);
  readString(j, "mapProjection", g.mapProjection, w);
  readString(j, "mapZone", g.mapZone, w);
  readDouble(j, "longitude", g.longitude, w);
  readDouble(j, "latitude", g.latitude, w);
  readDouble(j, "altitude", g.altitude, w);
  readDouble(j, "northDirection", g.northDirection, w);
  return g;
}

// Parses and checks a whole file; gives the reason or empty.
std::string parseProject(const std::string& text, ProjectData& out) {
  if (text.empty()) return "plik jest pusty";
  const json root = json::parse(text, nullptr, false);
  if (root.is_discarded()) return "plik nie jest poprawnym JSON-em (uszkodzony lub obciety)";
  if (!root.is_object()) return "plik nie jest plikiem projektu VELDRA";
  const json* format = member(root, "format");
  if (!format || !format->is_string() || format->get<std::string>() != kFormat) return "plik nie jest plikiem projektu VELDRA";
  const json* version = member(root, "version");
  if (!version || !version->is_number_integer()) return "brak wersji formatu";
  if (version->get<std::int64_t>() > kVersion)
    return "plik zapisano w nowszej wersji formatu (" + version->dump() + ") niz obslugiwana (" + std::to_string(kVersion) + ")";
  if (version->get<std::int64_t>() < 1) return "nieznana wersja formatu " + version->dump();
  try {
    ProjectData d;
    readInt(root, "activeFloor", d.activeFloor, "");
    if (const json* n = member(root, "nextGuid")) {
      if (!n->is_number_unsigned()) throw BadFile("nextGuid: oczekiwano liczby naturalnej");
      d.nextGuid = n->get<std::uint64_t>();
    }
    const json* attrs = member(root, "attributes");
    if (!attrs || !attrs->is_object()) return "attributes: brak lub nie jest obiektem";
    d.layers = readAttributes(*attrs, "layers", AttributeKind::Layer);
    d.fillTypes = readAttributes(*attrs, "fillTypes", AttributeKind::FillType);
    d.surfaceMaterials = readAttributes(*attrs, "surfaceMaterials", AttributeKind::SurfaceMaterial);
    d.buildingMaterials = readAttributes(*attrs, "buildingMaterials", AttributeKind::BuildingMaterial);
    if (const json* g = member(root, "geolocation")) d.geoLocation = readGeo(*g);
    const json& elements = arrayOf(root, "elements", "");
    d.elements.reserve(elements.size());
    for (std::size_t i = 0; i < elements.size(); ++i) d.elements.push_back(readElement(elements[i], i));
    out = std::move(d);
  } catch (const BadFile& e) {
    return e.what();
  } catch (const json::exception& e) {
    return std::string("blad struktury pliku: ") + e.what();
  }
  return {};
}

std::string readProjectText(const std::filesystem::path& path, std::string& text) {
  std::error_code ec;
  const auto status = std::filesystem::status(path, ec);
  if (ec || !std::filesystem::exists(status)) return "plik nie istnieje";
  if (!std::filesystem::is_regular_file(status)) return "to nie jest zwykly plik";
  // Opened anew without waiting: the path may have been swapped for a FIFO since.
  return platform::readRegularFile(path, kMaxFileBytes, text);
}

std::string loadInto(const std::filesystem::path& path, MemoryHost& host) {
  std::string text;
  std::string why = readProjectText(path, text);
  if (why.empty()) why = projectFromJson(text, host);
  return why;
}

}  // namespace

std::string projectToJson(const MemoryHost& host) {
  const ProjectData d = host.exportProject();
  ojson root;
  root["format"] = kFormat;
  root["version"] = kVersion;
  root["activeFloor"] = d.activeFloor;
  root["nextGuid"] = d.nextGuid;
  ojson attrs;
  for (auto [key, list, kind] : {std::tuple{"layers", &d.layers, AttributeKind::Layer},
                                 std::tuple{"fillTypes", &d.fillTypes, AttributeKind::FillType},
                                 std::tuple{"surfaceMaterials", &d.surfaceMaterials, AttributeKind::SurfaceMaterial},
                                 std::tuple{"buildingMaterials", &d.buildingMaterials, AttributeKind::BuildingMaterial}}) {
    ojson arr = ojson::array();
    for (const auto& a : *list) arr.push_back(attributeJson(a, kind));
    attrs[key] = std::move(arr);
  }
  root["attributes"] = std::move(attrs);
  root["geolocation"] = geoJson(d.geoLocation);
  ojson elements = ojson::array();
  for (const auto& e : d.elements) elements.push_back(elementJson(e));
  root["elements"] = std::move(elements);
  // Compact; doubles in their shortest round-trip form, UTF-8 kept as is.
  return root.dump() + "\n";
}

std::string projectFromJson(const std::string& text, MemoryHost& host) {
  ProjectData d;
  if (std::string why = parseProject(text, d); !why.empty()) return why;
  return host.importProject(std::move(d));
}

std::string checkProjectFile(const std::filesystem::path& path) {
  MemoryHost scratch;
  if (std::string why = loadInto(path, scratch); !why.empty()) return "Niepoprawny plik projektu " + path.string() + ": " + why;
  return {};
}

std::string loadProject(const std::filesystem::path& path, MemoryHost& host) {
  if (std::string why = loadInto(path, host); !why.empty()) return "Nie mozna wczytac projektu " + path.string() + ": " + why;
  return {};
}

std::string saveProject(const MemoryHost& host, const std::filesystem::path& path) {
  std::error_code ec;
  if (std::filesystem::exists(std::filesystem::symlink_status(path, ec))) {
    MemoryHost scratch;
    if (std::string why = loadInto(path, scratch); !why.empty())
      return "Nie zapisano projektu: istniejacy plik " + path.string() +
             " nie jest poprawnym projektem i nie zostanie nadpisany (" + why + ")";
  }
  std::string text;
  try {
    text = projectToJson(host);
  } catch (const std::exception& e) {
    return std::string("Nie zapisano projektu: ") + e.what();
  }
  if (std::string why = platform::writeFileAtomically(path, text); !why.empty())
    return "Nie zapisano projektu " + path.string() + ": " + why;
  return {};
}

}  // namespace veldra
