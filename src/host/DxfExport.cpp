#include "host/DxfExport.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <system_error>
#include <vector>

#include "host/ExportGeometry.h"
#include "platform/AtomicFile.h"
#include "platform/TextCodec.h"
#include "platform/Paths.h"

namespace veldra {

namespace fs = std::filesystem;

namespace {

constexpr double kPi = 3.14159265358979323846;
// Polyface vertex and face counts are 16-bit in DXF.
constexpr std::size_t kMaxPolyfaceVertices = 32000;

std::string num(double v) {
  if (!std::isfinite(v)) v = 0.0;
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string hex(unsigned long long v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%llX", v);
  return buf;
}

// One line of text for a group value: no line breaks or other controls.
std::string oneLine(const std::string& s) {
  std::string out;
  out.reserve(s.size());
  for (char c : s) out.push_back(static_cast<unsigned char>(c) < 0x20 ? ' ' : c);
  return out;
}

std::string layerName(const std::string& name) {
  std::string out;
  for (char c : oneLine(name)) {
    static const std::string bad = "<>/\\\":;?*|=`,";
    out.push_back(bad.find(c) != std::string::npos ? '_' : c);
  }
  return out.empty() ? std::string("0") : out;
}

// Pixel size of a PNG or JPEG, or (0, 0).
std::pair<int, int> imageSize(const std::vector<std::uint8_t>& b) {
  if (b.size() >= 24 && b[0] == 137 && b[1] == 'P' && b[2] == 'N' && b[3] == 'G') {
    const auto be32 = [&](std::size_t i) {
      return static_cast<int>((static_cast<std::uint32_t>(b[i]) << 24) | (b[i + 1] << 16) | (b[i + 2] << 8) | b[i + 3]);
    };
    return {be32(16), be32(20)};
  }
  if (b.size() > 4 && b[0] == 0xFF && b[1] == 0xD8) {
    std::size_t i = 2;
    while (i + 9 < b.size()) {
      if (b[i] != 0xFF) {
        ++i;
        continue;
      }
      const std::uint8_t marker = b[i + 1];
      const std::size_t len = (static_cast<std::size_t>(b[i + 2]) << 8) | b[i + 3];
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC)
        return {(b[i + 7] << 8) | b[i + 8], (b[i + 5] << 8) | b[i + 6]};
      if (len < 2) break;
      i += 2 + len;
    }
  }
  return {0, 0};
}

// Group codes and values, passed on to the file in pieces of about a megabyte: a drawing of
// hundreds of megabytes is never held in memory whole.
class Writer {
 public:
  explicit Writer(platform::AtomicFile& file) : file_(file) { out_.reserve(kPiece + 4096); }
  unsigned long long next = 0x20;

  std::string handle() { return hex(next++); }
  void g(int code, const std::string& v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%3d\n", code);
    out_ += buf;
    out_ += v;
    out_ += '\n';
    if (out_.size() >= kPiece) flush();
  }
  // File offset of the next byte written.
  std::uint64_t position() const { return written_ + out_.size(); }
  void flush() {
    file_.append(out_);   // a failure is kept by the file and reported at commit
    written_ += out_.size();
    out_.clear();
  }
  void g(int code, double v) { g(code, num(v)); }
  void gi(int code, long long v) { g(code, std::to_string(v)); }
  void xyz(int code, double x, double y, double z) {
    g(code, x);
    g(code + 10, y);
    g(code + 20, z);
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  platform::AtomicFile& file_;
  std::string out_;
  std::uint64_t written_ = 0;
};

struct Context {
  const ProjectData& p;
  Writer& w;
  std::string modelSpace;   // block record handle
  std::map<int, std::string> layers;
  struct Image {
    std::string defHandle, reactorHandle, imageHandle, file;
    int px = 0, py = 0;
  };
  std::vector<Image> images;
};

// `owner` empty: the model space.
void entityHead(Context& c, const char* type, const std::string& handle, int layer, const std::string& owner = {}) {
  c.w.g(0, type);
  c.w.g(5, handle);
  c.w.g(330, owner.empty() ? c.modelSpace : owner);
  c.w.g(100, "AcDbEntity");
  auto it = c.layers.find(layer);
  c.w.g(8, it == c.layers.end() ? std::string("0") : it->second);
}

// Parts of a memo's point list.
std::vector<std::vector<Point2>> parts(const Memo& m) {
  std::vector<std::vector<Point2>> out;
  for (std::size_t r = 1; r < m.ringEnds.size(); ++r) {
    const int b = m.ringEnds[r - 1] + 1, e = m.ringEnds[r];
    if (b < 1 || e >= static_cast<int>(m.coords.size()) || e < b) continue;
    out.emplace_back(m.coords.begin() + b, m.coords.begin() + e + 1);
  }
  return out;
}

void lwpolyline(Context& c, int layer, std::vector<Point2> pts, bool closed) {
  if (pts.size() >= 2 && pts.front().x == pts.back().x && pts.front().y == pts.back().y) {
    pts.pop_back();
    closed = true;
  }
  if (pts.size() < 2) return;
  entityHead(c, "LWPOLYLINE", c.w.handle(), layer);
  c.w.g(100, "AcDbPolyline");
  c.w.gi(90, static_cast<long long>(pts.size()));
  c.w.gi(70, closed ? 1 : 0);
  for (const auto& q : pts) {
    c.w.g(10, q.x);
    c.w.g(20, q.y);
  }
}

void hatch(Context& c, const StoredElement& se) {
  const Element& e = se.element;
  std::vector<std::vector<Point2>> rings = parts(se.memo);
  for (auto& r : rings)
    if (r.size() >= 2 && r.front().x == r.back().x && r.front().y == r.back().y) r.pop_back();
  std::erase_if(rings, [](const std::vector<Point2>& r) { return r.size() < 3; });
  if (rings.empty()) return;
  bool solidType = false;
  for (const auto& f : c.p.fillTypes)
    if (f.index == e.fillType) solidType = f.solid;
  const bool solid = e.useRgbColor || solidType;
  entityHead(c, "HATCH", c.w.handle(), e.layer);
  if (e.useRgbColor) {
    const auto ch = [](double v) { return static_cast<long long>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    c.w.gi(420, (ch(e.r) << 16) | (ch(e.g) << 8) | ch(e.b));
  }
  c.w.g(100, "AcDbHatch");
  c.w.xyz(10, 0, 0, 0);
  c.w.xyz(210, 0, 0, 1);
  c.w.g(2, solid ? "SOLID" : "ANSI31");
  c.w.gi(70, solid ? 1 : 0);
  c.w.gi(71, 0);
  c.w.gi(91, static_cast<long long>(rings.size()));
  for (std::size_t i = 0; i < rings.size(); ++i) {
    c.w.gi(92, i == 0 ? 3 : 2);   // external + polyline for the outer ring
    c.w.gi(72, 0);
    c.w.gi(73, 1);
    c.w.gi(93, static_cast<long long>(rings[i].size()));
    for (const auto& q : rings[i]) {
      c.w.g(10, q.x);
      c.w.g(20, q.y);
    }
    c.w.gi(97, 0);
  }
  c.w.gi(75, 0);
  c.w.gi(76, 1);
  if (!solid) {
    c.w.g(52, 0.0);
    c.w.g(41, 1.0);
    c.w.gi(77, 0);
    c.w.gi(78, 1);
    c.w.g(53, 45.0);
    c.w.g(43, 0.0);
    c.w.g(44, 0.0);
    c.w.g(45, -2.2450640303);
    c.w.g(46, 2.2450640303);
    c.w.gi(79, 0);
  }
  c.w.gi(98, 0);
}

void text(Context& c, const StoredElement& se) {
  std::string utf8;
  if (!utf16ToUtf8(se.memo.text, utf8) || utf8.empty()) return;
  const Element& e = se.element;
  entityHead(c, "TEXT", c.w.handle(), e.layer);
  c.w.g(100, "AcDbText");
  c.w.xyz(10, e.location.x, e.location.y, 0);
  c.w.g(40, e.textSize / 10.0);
  c.w.g(1, oneLine(utf8));
  c.w.g(50, e.angle * 180.0 / kPi);
  c.w.g(100, "AcDbText");
}

void polyface(Context& c, int layer, const TriangleSoup& soup) {
  // Chunks small enough for 16-bit counts.
  std::size_t t = 0;
  while (t < soup.triangles.size()) {
    std::map<std::uint32_t, int> local;
    std::vector<std::uint32_t> order;
    std::size_t end = t;
    while (end < soup.triangles.size() && order.size() + 3 <= kMaxPolyfaceVertices && end - t < kMaxPolyfaceVertices) {
      for (std::uint32_t v : soup.triangles[end])
        if (local.emplace(v, static_cast<int>(order.size()) + 1).second) order.push_back(v);
      ++end;
    }
    const std::string owner = c.w.handle();
    entityHead(c, "POLYLINE", owner, layer);
    c.w.g(100, "AcDbPolyFaceMesh");
    c.w.gi(66, 1);
    c.w.xyz(10, 0, 0, 0);
    c.w.gi(70, 64);
    c.w.gi(71, static_cast<long long>(order.size()));
    c.w.gi(72, static_cast<long long>(end - t));
    const auto vertexHead = [&] {
      entityHead(c, "VERTEX", c.w.handle(), layer, owner);
      c.w.g(100, "AcDbVertex");
    };
    for (std::uint32_t v : order) {
      vertexHead();
      c.w.g(100, "AcDbPolyFaceMeshVertex");
      const Point3& p = soup.vertices[v];
      c.w.xyz(10, p.x, p.y, p.z);
      c.w.gi(70, 192);
    }
    for (std::size_t i = t; i < end; ++i) {
      vertexHead();
      c.w.g(100, "AcDbFaceRecord");
      c.w.xyz(10, 0, 0, 0);
      c.w.gi(70, 128);
      c.w.gi(71, local[soup.triangles[i][0]]);
      c.w.gi(72, local[soup.triangles[i][1]]);
      c.w.gi(73, local[soup.triangles[i][2]]);
    }
    entityHead(c, "SEQEND", c.w.handle(), layer, owner);
    t = end;
  }
}

std::string picture(Context& c, const StoredElement& se, const fs::path& imageDir, const std::string& relDir) {
  const Element& e = se.element;
  const auto& bytes = se.memo.pixels;
  if (bytes.empty()) return {};
  auto [px, py] = imageSize(bytes);
  if (px <= 0 || py <= 0 || px > 1000000 || py > 1000000) px = py = 1;
  const bool png = bytes.size() > 4 && bytes[0] == 137;
  const std::string name = (se.element.guid.empty() ? std::string("obraz") : oneLine(se.element.guid)) +
                           (png ? ".png" : ".jpg");
  const std::string err = platform::writeFileAtomically(
      imageDir / name, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  if (!err.empty()) return err;
  Context::Image img;
  img.defHandle = c.w.handle();
  img.reactorHandle = c.w.handle();
  img.imageHandle = c.w.handle();
  img.file = relDir + "/" + name;
  img.px = px;
  img.py = py;
  entityHead(c, "IMAGE", img.imageHandle, e.layer);
  c.w.g(100, "AcDbRasterImage");
  c.w.gi(90, 0);
  c.w.xyz(10, e.location.x, e.location.y, 0);
  const double ca = std::cos(e.angle), sa = std::sin(e.angle);
  const double ux = e.width / px, vy = e.height / py;
  c.w.xyz(11, ca * ux, sa * ux, 0);
  c.w.xyz(12, -sa * vy, ca * vy, 0);
  c.w.g(13, static_cast<double>(px));
  c.w.g(23, static_cast<double>(py));
  c.w.g(340, img.defHandle);
  c.w.gi(70, 3);
  c.w.gi(280, 0);
  c.w.gi(281, 50);
  c.w.gi(282, 50);
  c.w.gi(283, 0);
  c.w.g(360, img.reactorHandle);
  c.w.gi(71, 1);
  c.w.gi(91, 2);
  c.w.g(14, -0.5);
  c.w.g(24, -0.5);
  c.w.g(14, px - 0.5);
  c.w.g(24, py - 0.5);
  c.images.push_back(img);
  return {};
}

void table(Writer& w, const char* name, const std::string& handle, int count, const char* extraSubclass = nullptr) {
  w.g(0, "TABLE");
  w.g(2, name);
  w.g(5, handle);
  w.g(330, "0");
  w.g(100, "AcDbSymbolTable");
  w.gi(70, count);
  if (extraSubclass) w.g(100, extraSubclass);
}

void record(Writer& w, const char* type, const std::string& owner, const char* subclass, const std::string& name) {
  w.g(0, type);
  w.g(5, w.handle());
  w.g(330, owner);
  w.g(100, "AcDbSymbolTableRecord");
  w.g(100, subclass);
  w.g(2, name);
  w.gi(70, 0);
}

}  // namespace

std::string exportDxf(const ProjectData& p, const fs::path& out) {
  platform::AtomicFile file(out);
  if (!file.error().empty()) return file.error();
  Writer body(file);
  Context c{p, body, {}, {}, {}};

  // Layer names, unique after cleaning.
  std::set<std::string> used{"0"};
  for (const auto& l : p.layers) {
    std::string n = layerName(l.name);
    for (int k = 2; used.count(n); ++k) n = layerName(l.name) + "_" + std::to_string(k);
    used.insert(n);
    c.layers[l.index] = n;
  }

  Writer& w = body;
  w.g(0, "SECTION");
  w.g(2, "HEADER");
  w.g(9, "$ACADVER");
  w.g(1, "AC1021");
  w.g(9, "$DWGCODEPAGE");
  w.g(3, "ANSI_1252");
  w.g(9, "$HANDSEED");
  // Fixed width, patched in the file once every handle is known.
  w.g(5, std::string(16, '0'));
  const std::uint64_t seedAt = w.position() - 17;
  w.g(9, "$INSUNITS");
  w.gi(70, 6);
  w.g(9, "$MEASUREMENT");
  w.gi(70, 1);
  const GeoLocation& geo = p.geoLocation;
  const auto prop = [&](const char* tag, const std::string& value) {
    w.g(9, "$CUSTOMPROPERTYTAG");
    w.g(1, tag);
    w.g(9, "$CUSTOMPROPERTY");
    w.g(1, oneLine(value));
  };
  prop("VELDRA_CRS", geo.crsName);
  prop("VELDRA_SURVEY_E", num(geo.surveyEasting));
  prop("VELDRA_SURVEY_N", num(geo.surveyNorthing));
  prop("VELDRA_SURVEY_H", num(geo.surveyHeight));
  prop("VELDRA_SURVEY_X0", num(geo.surveyX0));
  prop("VELDRA_SURVEY_Y0", num(geo.surveyY0));
  const double a = (geo.xAxisAbscissa != 0.0 || geo.xAxisOrdinate != 0.0)
                       ? std::atan2(geo.xAxisOrdinate, geo.xAxisAbscissa)
                       : 0.0;
  prop("VELDRA_ROTATION", num(a));
  w.g(0, "ENDSEC");
  w.g(0, "SECTION");
  w.g(2, "CLASSES");
  const auto cls = [&](const char* rec, const char* cpp, int flags, int isEntity) {
    w.g(0, "CLASS");
    w.g(1, rec);
    w.g(2, cpp);
    w.g(3, "ISM");
    w.gi(90, flags);
    w.gi(91, 0);
    w.gi(280, 0);
    w.gi(281, isEntity);
  };
  cls("IMAGE", "AcDbRasterImage", 2175, 1);
  cls("IMAGEDEF", "AcDbRasterImageDef", 0, 0);
  cls("IMAGEDEF_REACTOR", "AcDbRasterImageDefReactor", 1, 0);
  w.g(0, "ENDSEC");

  const std::string rootDict = w.handle();
  const std::string groupDict = w.handle();
  const std::string imageDict = w.handle();
  const std::string msRecord = w.handle();
  const std::string psRecord = w.handle();
  c.modelSpace = msRecord;

  w.g(0, "SECTION");
  w.g(2, "TABLES");
  {
    const std::string h = w.handle();
    table(w, "VPORT", h, 1);
    record(w, "VPORT", h, "AcDbViewportTableRecord", "*Active");
    w.xyz(10, 0, 0, 0);
    w.g(11, 1.0);
    w.g(21, 1.0);
    w.g(40, 100.0);
    w.g(41, 1.5);
    w.g(0, "ENDTAB");
  }
  {
    const std::string h = w.handle();
    table(w, "LTYPE", h, 3);
    for (const char* n : {"ByBlock", "ByLayer", "Continuous"}) {
      record(w, "LTYPE", h, "AcDbLinetypeTableRecord", n);
      w.g(3, std::string(n) == "Continuous" ? "Solid line" : "");
      w.gi(72, 65);
      w.gi(73, 0);
      w.g(40, 0.0);
    }
    w.g(0, "ENDTAB");
  }
  {
    const std::string h = w.handle();
    table(w, "LAYER", h, static_cast<int>(c.layers.size()) + 1);
    std::vector<std::string> names{"0"};
    for (const auto& [idx, n] : c.layers)
      if (n != "0") names.push_back(n);
    for (const auto& n : names) {
      record(w, "LAYER", h, "AcDbLayerTableRecord", n);
      w.gi(62, 7);
      w.g(6, "Continuous");
      w.gi(370, -3);
      w.g(390, "0");
    }
    w.g(0, "ENDTAB");
  }
  {
    const std::string h = w.handle();
    table(w, "STYLE", h, 1);
    record(w, "STYLE", h, "AcDbTextStyleTableRecord", "Standard");
    w.g(40, 0.0);
    w.g(41, 1.0);
    w.g(50, 0.0);
    w.gi(71, 0);
    w.g(42, 2.5);
    w.g(3, "txt");
    w.g(4, "");
    w.g(0, "ENDTAB");
  }
  for (const char* t : {"VIEW", "UCS"}) {
    table(w, t, w.handle(), 0);
    w.g(0, "ENDTAB");
  }
  {
    const std::string h = w.handle();
    table(w, "APPID", h, 1);
    record(w, "APPID", h, "AcDbRegAppTableRecord", "ACAD");
    w.g(0, "ENDTAB");
  }
  {
    const std::string h = w.handle();
    table(w, "DIMSTYLE", h, 1, "AcDbDimStyleTable");
    w.g(0, "DIMSTYLE");
    w.g(105, w.handle());
    w.g(330, h);
    w.g(100, "AcDbSymbolTableRecord");
    w.g(100, "AcDbDimStyleTableRecord");
    w.g(2, "Standard");
    w.gi(70, 0);
    w.g(0, "ENDTAB");
  }
  {
    const std::string h = w.handle();
    table(w, "BLOCK_RECORD", h, 2);
    for (const auto& [rh, n] : {std::pair{msRecord, "*Model_Space"}, std::pair{psRecord, "*Paper_Space"}}) {
      w.g(0, "BLOCK_RECORD");
      w.g(5, rh);
      w.g(330, h);
      w.g(100, "AcDbSymbolTableRecord");
      w.g(100, "AcDbBlockTableRecord");
      w.g(2, n);
    }
    w.g(0, "ENDTAB");
  }
  w.g(0, "ENDSEC");

  w.g(0, "SECTION");
  w.g(2, "BLOCKS");
  for (const auto& [rh, n] : {std::pair{msRecord, "*Model_Space"}, std::pair{psRecord, "*Paper_Space"}}) {
    w.g(0, "BLOCK");
    w.g(5, w.handle());
    w.g(330, rh);
    w.g(100, "AcDbEntity");
    w.g(8, "0");
    w.g(100, "AcDbBlockBegin");
    w.g(2, n);
    w.gi(70, 0);
    w.xyz(10, 0, 0, 0);
    w.g(3, n);
    w.g(1, "");
    w.g(0, "ENDBLK");
    w.g(5, w.handle());
    w.g(330, rh);
    w.g(100, "AcDbEntity");
    w.g(8, "0");
    w.g(100, "AcDbBlockEnd");
  }
  w.g(0, "ENDSEC");

  const fs::path imageDir = out.parent_path() / (out.stem().string() + "_obrazy");
  const std::string relDir = out.stem().string() + "_obrazy";
  w.g(0, "SECTION");
  w.g(2, "ENTITIES");
  for (const auto& se : p.elements) {
    if (!fitsNumberFormat(se, NumberFormat::Float64)) continue;
    const Element& e = se.element;
    switch (e.typeCode) {
      case static_cast<int>(ElementType::Polyline):
        for (auto& part : parts(se.memo)) lwpolyline(c, e.layer, part, e.closed);
        break;
      case static_cast<int>(ElementType::Fill):
        hatch(c, se);
        break;
      case static_cast<int>(ElementType::Text):
        text(c, se);
        break;
      case static_cast<int>(ElementType::Picture):
        if (std::string err = picture(c, se, imageDir, relDir); !err.empty()) return err;
        break;
      default: {
        const TriangleSoup soup = elementTriangles(se);
        if (!soup.empty()) polyface(c, e.layer, soup);
      }
    }
  }
  w.g(0, "ENDSEC");

  w.g(0, "SECTION");
  w.g(2, "OBJECTS");
  w.g(0, "DICTIONARY");
  w.g(5, rootDict);
  w.g(330, "0");
  w.g(100, "AcDbDictionary");
  w.gi(281, 1);
  w.g(3, "ACAD_GROUP");
  w.g(350, groupDict);
  w.g(3, "ACAD_IMAGE_DICT");
  w.g(350, imageDict);
  w.g(0, "DICTIONARY");
  w.g(5, groupDict);
  w.g(330, rootDict);
  w.g(100, "AcDbDictionary");
  w.gi(281, 1);
  w.g(0, "DICTIONARY");
  w.g(5, imageDict);
  w.g(330, rootDict);
  w.g(100, "AcDbDictionary");
  w.gi(281, 1);
  for (std::size_t i = 0; i < c.images.size(); ++i) {
    w.g(3, "OBRAZ_" + std::to_string(i + 1));
    w.g(350, c.images[i].defHandle);
  }
  for (const auto& img : c.images) {
    w.g(0, "IMAGEDEF");
    w.g(5, img.defHandle);
    w.g(102, "{ACAD_REACTORS");
    w.g(330, imageDict);
    w.g(330, img.reactorHandle);
    w.g(102, "}");
    w.g(330, imageDict);
    w.g(100, "AcDbRasterImageDef");
    w.gi(90, 0);
    w.g(1, img.file);
    w.g(10, static_cast<double>(img.px));
    w.g(20, static_cast<double>(img.py));
    w.g(11, 1.0);
    w.g(21, 1.0);
    w.gi(280, 1);
    w.gi(281, 0);
    w.g(0, "IMAGEDEF_REACTOR");
    w.g(5, img.reactorHandle);
    w.g(330, img.imageHandle);
    w.g(100, "AcDbRasterImageDefReactor");
    w.gi(90, 2);
    w.g(330, img.imageHandle);
  }
  w.g(0, "ENDSEC");
  w.g(0, "EOF");


  char seed[32];
  std::snprintf(seed, sizeof seed, "%016llX", body.next);
  body.flush();
  file.overwrite(seedAt, std::string_view(seed, 16));
  return file.commit();
}

}  // namespace veldra
