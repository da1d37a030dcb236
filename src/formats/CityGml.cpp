#include "formats/CityGml.h"

#include "formats/XmlDepth.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include <pugixml.hpp>

namespace veldra {

namespace {

std::string_view localName(const pugi::xml_node& n) {
  std::string_view s = n.name();
  const auto colon = s.find(':');
  return colon == std::string_view::npos ? s : s.substr(colon + 1);
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Reads numbers until the first one that does not parse or is not finite (as
// a stream extraction would stop there).
std::vector<double> readNumbers(std::string_view s) {
  std::vector<double> out;
  const char* p = s.data();
  const char* end = p + s.size();
  while (true) {
    while (p < end && isSpace(*p)) ++p;
    if (p == end) break;
    if (*p == '+') ++p;   // from_chars refuses a leading plus
    double v = 0;
    const auto [next, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || !std::isfinite(v)) break;
    p = next;
    if (p < end && !isSpace(*p)) break;   // "1.5abc"
    out.push_back(v);
  }
  return out;
}


bool load(pugi::xml_document& doc, std::string_view text) {
  if (!doc.load_buffer(text.data(), text.size())) return false;
  return xmlMaxDepth(doc) <= CityGmlLimits::kMaxDepth;
}

void forEachBuilding(const pugi::xml_document& doc, const std::function<void(const pugi::xml_node&)>& fn) {
  // Document order, nested buildings included.
  for (const pugi::xpath_node& x : doc.select_nodes("//*")) {
    const pugi::xml_node n = x.node();
    if (localName(n) == "Building") fn(n);
  }
}

pugi::xml_node firstChildNamed(const pugi::xml_node& parent, std::string_view name) {
  for (pugi::xml_node c = parent.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element && localName(c) == name) return c;
  return {};
}

bool isInterior(const pugi::xml_node& ring) {
  const std::string_view p = localName(ring.parent());
  return p == "interior" || p == "innerBoundaryIs";
}

// The polygon a ring belongs to (its exterior/interior wrapper's parent).
pugi::xml_node polygonOf(const pugi::xml_node& ring) { return ring.parent().parent(); }

struct RingZ {
  std::vector<Point2> xy;
  std::vector<double> z;
  pugi::xml_node polygon;
  bool interior = false;
};

void appendTriples(const std::vector<double>& v, RingZ& r) {
  for (std::size_t i = 0; i + 2 < v.size(); i += 3) {
    r.xy.push_back({v[i], v[i + 1]});
    r.z.push_back(v[i + 2]);
  }
}

// LinearRings below `root` in document order, never descending into a ring.
void collectRings(const pugi::xml_node& root, bool withPos, std::vector<RingZ>& out,
                  std::unordered_set<const void*>* seen) {
  for (pugi::xml_node c = root.first_child(); c; c = c.next_sibling()) {
    if (c.type() != pugi::node_element) continue;
    if (localName(c) != "LinearRing") {
      collectRings(c, withPos, out, seen);
      continue;
    }
    if (seen && !seen->insert(c.internal_object()).second) continue;
    RingZ r;
    r.polygon = polygonOf(c);
    r.interior = isInterior(c);
    for (pugi::xml_node k = c.first_child(); k; k = k.next_sibling()) {
      const std::string_view name = localName(k);
      if (name == "posList") {
        appendTriples(readNumbers(k.child_value()), r);
      } else if (withPos && name == "pos") {
        const auto v = readNumbers(k.child_value());
        if (v.size() >= 3) appendTriples({v[0], v[1], v[2]}, r);
      }
    }
    if (r.xy.size() >= 3) out.push_back(std::move(r));
  }
}

double ringArea(const std::vector<Point2>& r) {
  double s = 0;
  for (std::size_t i = 0; i < r.size(); ++i) {
    const Point2& a = r[i];
    const Point2& b = r[(i + 1) % r.size()];
    s += a.x * b.y - b.x * a.y;
  }
  return std::fabs(s) / 2;
}

bool meetsFrame(const std::vector<Point2>& pts, const Bbox& f) {
  if (pts.empty()) return false;
  double x0 = pts[0].x, x1 = x0, y0 = pts[0].y, y1 = y0;
  for (const Point2& p : pts) {
    x0 = std::min(x0, p.x), x1 = std::max(x1, p.x);
    y0 = std::min(y0, p.y), y1 = std::max(y1, p.y);
  }
  return f.maxX >= x0 && x1 >= f.minX && f.maxY >= y0 && y1 >= f.minY;
}

std::string idOf(const pugi::xml_node& n) { return n.attribute("gml:id").value(); }

// gml:id -> element, built once per document for the references of LOD2 solids.
using IdIndex = std::unordered_map<std::string_view, pugi::xml_node>;

IdIndex indexIds(const pugi::xml_document& doc) {
  IdIndex ids;
  for (const pugi::xpath_node& x : doc.select_nodes("//*[@gml:id]")) ids.emplace(x.node().attribute("gml:id").value(), x.node());
  return ids;
}

bool isInside(pugi::xml_node n, const pugi::xml_node& ancestor) {
  for (; n; n = n.parent())
    if (n == ancestor) return true;
  return false;
}

// Surfaces a building's solid only points at ("xlink:href") and that do not
// sit inside the building itself; those inside are walked already.
// False when a reference names no element of the document.
bool collectReferencedRings(const pugi::xml_node& building, const IdIndex& ids, std::vector<RingZ>& out,
                            std::unordered_set<const void*>& seen) {
  bool found = true;
  for (const pugi::xpath_node& x : building.select_nodes(".//*[@xlink:href]")) {
    std::string_view href = x.node().attribute("xlink:href").value();
    if (href.empty() || href[0] != '#') continue;
    const auto it = ids.find(href.substr(1));
    if (it == ids.end()) {
      found = false;
      continue;
    }
    if (isInside(it->second, building)) continue;
    const pugi::xml_node target = it->second;
    if (localName(target) == "LinearRing") continue;   // a bare ring has no polygon to belong to
    collectRings(target, true, out, &seen);
  }
  return found;
}

bool isNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.' || static_cast<unsigned char>(c) >= 0x80;
}

bool declaresOtherEncoding(std::string_view t) {
  if (t.substr(0, 5) != "<?xml") return false;
  const std::string_view decl = t.substr(0, t.find("?>"));
  const std::size_t e = decl.find("encoding");
  if (e == std::string_view::npos) return false;
  const std::size_t q = decl.find_first_of("\"'", e);
  if (q == std::string_view::npos) return true;
  std::string value(decl.substr(q + 1, 5));
  for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return value != "utf-8";
}

// A sheet's tree costs several times its text; read one city object member
// at a time instead, when the text is plain enough for that to give the same
// buildings: UTF-8, no comments, CDATA or DOCTYPE, members not nested, and no
// building outside them. Nothing when the whole document has to be read.
std::optional<std::vector<std::string_view>> memberTexts(std::string_view t) {
  constexpr std::string_view kName = "cityObjectMember";
  if (t.find("<!") != std::string_view::npos || declaresOtherEncoding(t)) return std::nullopt;
  std::vector<std::string_view> out;
  std::size_t pos = 0, outside = 0;
  const auto buildingIn = [&t](std::size_t from, std::size_t to) {
    return t.substr(from, to - from).find("Building") != std::string_view::npos;
  };
  for (std::size_t hit; (hit = t.find(kName, pos)) != std::string_view::npos;) {
    const std::size_t lt = t.rfind('<', hit);
    if (lt == std::string_view::npos) return std::nullopt;
    std::string_view prefix = t.substr(lt + 1, hit - lt - 1);
    if (!prefix.empty() && prefix.front() == '/') return std::nullopt;   // an end tag without its start
    if (!prefix.empty() && (prefix.back() != ':' || !std::all_of(prefix.begin(), prefix.end() - 1, isNameChar)))
      return std::nullopt;   // the word in text or an attribute
    const std::size_t after = hit + kName.size();
    if (after >= t.size() || !(isSpace(t[after]) || t[after] == '>' || t[after] == '/')) return std::nullopt;
    const std::size_t gt = t.find('>', after);
    if (gt == std::string_view::npos) return std::nullopt;
    if (buildingIn(outside, lt)) return std::nullopt;
    if (t[gt - 1] == '/') {   // an empty member
      pos = outside = gt + 1;
      continue;
    }
    const std::string endTag = "</" + std::string(t.substr(lt + 1, after - lt - 1));
    const std::size_t end = t.find(endTag, gt);
    if (end == std::string_view::npos || t.substr(gt, end - gt).find(kName) != std::string_view::npos)
      return std::nullopt;
    const std::size_t endGt = t.find('>', end);
    if (endGt == std::string_view::npos) return std::nullopt;
    out.push_back(t.substr(lt, endGt + 1 - lt));
    pos = outside = endGt + 1;
  }
  if (out.empty() || buildingIn(outside, t.size())) return std::nullopt;
  return out;
}

// Hands `visit` each member's tree, or the whole document's when the text
// cannot be read member by member or a member's tree is not enough (visit
// answers false: a reference points outside it); `reset` drops what the
// members gave before the whole document is read.
void readDocuments(std::string_view gml, const std::function<bool(const pugi::xml_document&)>& visit,
                   const std::function<void()>& reset) {
  if (const auto members = memberTexts(gml)) {
    bool whole = true;
    for (std::string_view m : *members) {
      pugi::xml_document doc;
      // The member sits one level below the root.
      if (!doc.load_buffer(m.data(), m.size()) || xmlMaxDepth(doc) + 1 > CityGmlLimits::kMaxDepth || !visit(doc)) {
        whole = false;
        break;
      }
    }
    if (whole) return;
    reset();
  }
  pugi::xml_document doc;
  if (load(doc, gml)) visit(doc);
}

}  // namespace

namespace {

bool readLod1(const pugi::xml_document& doc, const Bbox& frame, std::vector<Building3D>& out) {
  forEachBuilding(doc, [&](const pugi::xml_node& b) {
    std::vector<RingZ> rings;
    collectRings(b, false, rings, nullptr);
    if (rings.empty()) return;
    double minZ = std::numeric_limits<double>::infinity(), maxZ = -minZ;
    for (const auto& r : rings)
      for (double z : r.z) minZ = std::min(minZ, z), maxZ = std::max(maxZ, z);
    // Inner rings are holes, never the footprint itself.
    const RingZ* flat = nullptr;
    double flatArea = -1;
    const RingZ* lowest = nullptr;
    double lowestMean = std::numeric_limits<double>::infinity();
    for (const auto& r : rings) {
      if (r.interior) continue;
      const bool atMin = std::all_of(r.z.begin(), r.z.end(), [&](double z) { return std::fabs(z - minZ) <= 0.01; });
      if (atMin) {
        const double a = ringArea(r.xy);
        if (a > flatArea) flat = &r, flatArea = a;
      }
      double mean = 0;
      for (double z : r.z) mean += z;
      mean /= static_cast<double>(r.z.size());
      if (mean < lowestMean) lowest = &r, lowestMean = mean;
    }
    const RingZ* chosen = flat ? flat : lowest;
    if (!chosen || chosen->xy.size() < 3) return;
    Building3D out1;
    out1.id = idOf(b);
    out1.baseZ = minZ;
    if (pugi::xml_node mh = firstChildNamed(b, "measuredHeight")) {
      const double h = std::strtod(mh.child_value(), nullptr);
      if (h > 0 && std::isfinite(h)) out1.height = h;
    }
    if (!(out1.height > 0)) {
      out1.height = maxZ - minZ;
      if (!(out1.height > 0)) return;
    }
    out1.footprint = chosen->xy;
    for (const auto& r : rings)
      if (r.interior && r.polygon == chosen->polygon) out1.holes.push_back(r.xy);
    if (meetsFrame(out1.footprint, frame)) out.push_back(std::move(out1));
  });
  return true;
}

// False when a solid refers to a surface the document does not hold.
bool readLod2(const pugi::xml_document& doc, const Bbox& frame, std::vector<BuildingLod2>& out) {
  IdIndex ids;
  bool indexed = false, complete = true;
  forEachBuilding(doc, [&](const pugi::xml_node& b) {
    BuildingLod2 bl;
    bl.id = idOf(b);
    if (pugi::xml_node rt = firstChildNamed(b, "roofType")) {
      const long v = std::strtol(rt.child_value(), nullptr, 10);
      bl.roofType = static_cast<int>(std::clamp<long>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
    }
    std::vector<RingZ> rings;
    std::unordered_set<const void*> seen;
    collectRings(b, true, rings, &seen);
    if (b.select_node(".//*[@xlink:href]")) {
      if (!indexed) ids = indexIds(doc), indexed = true;
      if (!collectReferencedRings(b, ids, rings, seen)) complete = false;
    }
    // Outer rings become surfaces; an inner ring joins the surface of its polygon.
    std::unordered_map<const void*, std::size_t> surfaceOfPolygon;
    std::vector<Point2> all;
    for (auto& r : rings) {
      Lod2Ring ring{std::move(r.xy), std::move(r.z), {}};
      if (r.interior) {
        const auto it = surfaceOfPolygon.find(r.polygon.internal_object());
        if (it != surfaceOfPolygon.end()) {
          bl.surfaces[it->second].holes.push_back(std::move(ring));
          continue;
        }
      } else if (r.polygon) {
        surfaceOfPolygon[r.polygon.internal_object()] = bl.surfaces.size();
      }
      all.insert(all.end(), ring.points.begin(), ring.points.end());
      bl.surfaces.push_back(std::move(ring));
    }
    if (bl.surfaces.empty() || !meetsFrame(all, frame)) return;
    out.push_back(std::move(bl));
  });
  return complete;
}

}  // namespace

std::vector<Building3D> parseLod1Buildings(std::string_view gml, const Bbox& frame) {
  std::vector<Building3D> out;
  readDocuments(gml, [&](const pugi::xml_document& doc) { return readLod1(doc, frame, out); }, [&] { out.clear(); });
  return out;
}

std::vector<BuildingLod2> parseLod2Buildings(std::string_view gml, const Bbox& frame) {
  std::vector<BuildingLod2> out;
  readDocuments(gml, [&](const pugi::xml_document& doc) { return readLod2(doc, frame, out); }, [&] { out.clear(); });
  return out;
}

bool readEnvelope(std::string_view gml, Bbox& out) {
  pugi::xml_document doc;
  if (!load(doc, gml)) return false;
  pugi::xml_node env;
  for (const pugi::xpath_node& x : doc.select_nodes("//*")) {
    if (localName(x.node()) == "Envelope") {
      env = x.node();
      break;
    }
  }
  if (!env) return false;
  std::vector<double> lo, hi;
  for (const pugi::xpath_node& x : env.select_nodes(".//*")) {
    const std::string_view n = localName(x.node());
    if (n == "lowerCorner" && lo.empty()) lo = readNumbers(x.node().child_value());
    if (n == "upperCorner" && hi.empty()) hi = readNumbers(x.node().child_value());
  }
  if (lo.size() < 3 || hi.size() < 3) return false;
  out = Bbox{lo[0], lo[1], hi[0], hi[1]};
  return true;
}

namespace {

// Numbers of the first element whose local name is `tag`, from a text scan.
std::vector<double> scanCorner(std::string_view text, std::string_view tag) {
  std::size_t from = 0;
  while (true) {
    const std::size_t at = text.find(tag, from);
    if (at == std::string_view::npos || at == 0) return {};
    from = at + tag.size();
    const char before = text[at - 1];
    if (before != '<' && before != ':') continue;
    const std::size_t open = text.find('>', from);
    if (open == std::string_view::npos) return {};
    if (text[open - 1] == '/') continue;   // empty element
    const std::size_t close = text.find('<', open + 1);
    if (close == std::string_view::npos) return {};
    return readNumbers(text.substr(open + 1, close - open - 1));
  }
}

}  // namespace

bool scanEnvelope(std::string_view text, Bbox& out) {
  const std::size_t env = text.find("Envelope");
  if (env == std::string_view::npos) return false;
  const std::string_view rest = text.substr(env);
  const auto lo = scanCorner(rest, "lowerCorner");
  const auto hi = scanCorner(rest, "upperCorner");
  if (lo.size() < 2 || hi.size() < 2) return false;
  out = Bbox{lo[0], lo[1], hi[0], hi[1]};
  return true;
}

}  // namespace veldra
