#include "formats/GmlParser.h"

#include "formats/XmlDepth.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

#include "geo/Projections.h"

namespace veldra {
namespace {

thread_local std::uint32_t tDefaultEpsg = 0;

// When a member is parsed on its own, the srsName of its nearest ancestor outside the member.
struct OuterSrs {
  bool set = false;
  SrsInfo srs;
};
thread_local OuterSrs tOuterSrs;

// Systems met that are read as written (neither PL-1992 nor PL-2000), while a reading collects them.
thread_local std::vector<std::uint32_t>* tUnknownEpsg = nullptr;

// Text values are stored in their element (fewer nodes); reading through child_value() is unchanged.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_embed_pcdata;

std::string_view localName(std::string_view n) {
  const auto colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

std::string_view localName(const pugi::xml_node& node) { return localName(std::string_view(node.name())); }

// Next element after `node` in document order, not leaving the subtree of `root`.
pugi::xml_node nextElement(pugi::xml_node node, const pugi::xml_node& root) {
  for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
    if (c.type() == pugi::node_element) return c;
  while (node && node != root) {
    for (pugi::xml_node s = node.next_sibling(); s; s = s.next_sibling())
      if (s.type() == pugi::node_element) return s;
    node = node.parent();
  }
  return {};
}

// Calls fn(element) for every element below root in document order (root excluded); stops when fn
// returns false.
template <class Fn>
void forEachDescendant(const pugi::xml_node& root, Fn&& fn) {
  for (pugi::xml_node n = nextElement(root, root); n; n = nextElement(n, root))
    if (!fn(n)) return;
}

pugi::xml_node firstDescendant(const pugi::xml_node& root, std::string_view name) {
  pugi::xml_node found;
  forEachDescendant(root, [&](const pugi::xml_node& n) {
    if (localName(n) != name) return true;
    found = n;
    return false;
  });
  return found;
}


bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Doubles separated by white space, up to the first token that is not a finite number.
template <class Fn>
void forEachNumber(const char* s, Fn&& fn) {
  const char* end = s + std::strlen(s);
  const char* p = s;
  while (true) {
    while (p < end && isSpace(*p)) ++p;
    if (p == end) return;
    if (*p == '+') ++p;
    double v = 0;
    const auto [q, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || !std::isfinite(v)) return;
    fn(v);
    p = q;
    if (p < end && !isSpace(*p)) {
      // "1,2" or "1abc": the number ends here and the rest is not a number.
      return;
    }
  }
}

void readNumbers(const char* s, std::vector<double>& out) {
  out.clear();
  forEachNumber(s, [&](double v) { out.push_back(v); });
}

// ---- Memory bound -------------------------------------------------------------------------------
// A tree node costs pugixml far more than the text of a short element (`<a>` is 3 bytes, its node
// 64), so a crafted document could take twenty times its size. Every tree is priced from the text
// before it is built, every feature as it is kept, against one allowance per parse.
constexpr std::uint64_t kBytesPerInputByte = 6;
constexpr std::uint64_t kBaseAllowance = 32u << 20;
constexpr std::uint64_t kNodeBytes = 64, kAttributeBytes = 40;

struct TooLarge {};

class MemoryAllowance {
 public:
  explicit MemoryAllowance(std::size_t inputBytes) : left_(kBaseAllowance + kBytesPerInputByte * inputBytes) {}
  void take(std::uint64_t bytes) {
    if (bytes > left_) throw TooLarge{};
    left_ -= bytes;
  }
  void giveBack(std::uint64_t bytes) { left_ += bytes; }

 private:
  std::uint64_t left_;
};

// Upper bound of what pugixml takes for this text: a copy of it, a node per start tag and per
// other markup, a record per attribute.
std::uint64_t treeBytes(std::string_view text) {
  std::uint64_t nodes = 1, attributes = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '<' && (i + 1 >= text.size() || text[i + 1] != '/')) ++nodes;
    else if (c == '=') ++attributes;
  }
  return text.size() + nodes * kNodeBytes + attributes * kAttributeBytes;
}

std::uint64_t textBytes(const std::string& s) { return sizeof(std::string) + (s.size() > 15 ? s.capacity() + 1 : 0); }

std::uint64_t featureBytes(const GisFeature& f) {
  std::uint64_t n = sizeof(GisFeature);
  for (const Polygon2& p : f.polygons) {
    n += sizeof(Polygon2) + p.outer.capacity() * sizeof(Point2);
    for (const auto& h : p.holes) n += sizeof(h) + h.capacity() * sizeof(Point2);
  }
  for (const auto& l : f.lines) n += sizeof(l) + l.capacity() * sizeof(Point2);
  for (const auto& [k, v] : f.attributes) n += 32 + textBytes(k) + textBytes(v);
  return n;
}

// Ordinates per position: srsDimension of the coordinate element or of its nearest ancestor within
// the feature; 2 when none or when the value is not 2, 3 or 4.
int ordinatesPerPosition(pugi::xml_node node, const pugi::xml_node& feature) {
  for (; node; node = node.parent()) {
    if (pugi::xml_attribute a = node.attribute("srsDimension")) {
      const int d = a.as_int(2);
      return (d >= 2 && d <= 4) ? d : 2;
    }
    if (node == feature) break;
  }
  return 2;
}

struct FeatureReader {
  const pugi::xml_node& feature;
  std::vector<double>& numbers;

  // Positions far outside a PL-2000 zone project to inf or NaN: left out like unreadable ones.
  static bool convertible(const Point2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

  static void addPoint(std::vector<Point2>& pts, double a, double b, const SrsInfo& srs) {
    const Point2 p = GmlParser::readCoordinatePair(a, b, srs);
    if (convertible(p)) pts.push_back(p);
  }

  std::vector<Point2> readCoordinates(const pugi::xml_node& element, const SrsInfo& srs) {
    std::vector<Point2> pts;
    if (pugi::xml_node posList = firstDescendant(element, "posList")) {
      // Position by position: a list of short numbers would otherwise take four times its text.
      const std::size_t step = static_cast<std::size_t>(ordinatesPerPosition(posList, feature));
      // Reserved to the count of tokens: growing by doubling would take up to three times the room.
      const char* text = posList.child_value();
      std::size_t tokens = 0;
      for (const char* c = text; *c; ++c)
        if (!isSpace(*c) && (c == text || isSpace(c[-1]))) ++tokens;
      pts.reserve(tokens / step + 1);
      double position[4];
      std::size_t filled = 0;
      forEachNumber(text, [&](double v) {
        position[filled++] = v;
        if (filled == step) {
          addPoint(pts, position[0], position[1], srs);
          filled = 0;
        }
      });
      if (filled >= 2) addPoint(pts, position[0], position[1], srs);
      return pts;
    }
    forEachDescendant(element, [&](const pugi::xml_node& n) {
      if (localName(n) == "pos") {
        readNumbers(n.child_value(), numbers);
        if (numbers.size() >= 2) addPoint(pts, numbers[0], numbers[1], srs);
      }
      return true;
    });
    return pts;
  }

  void readPolygon(const pugi::xml_node& polygon, GisFeature& f) {
    const SrsInfo srs = GmlParser::srsOf(polygon);
    Polygon2 poly;
    bool haveOuter = false;
    std::vector<pugi::xml_node> rings;
    forEachDescendant(polygon, [&](const pugi::xml_node& n) {
      if (localName(n) == "LinearRing") rings.push_back(n);
      return true;
    });
    for (const pugi::xml_node& ring : rings) {
      const std::string_view parent = localName(ring.parent());
      const bool exterior = parent == "exterior" || parent == "outerBoundaryIs";
      if (exterior && !haveOuter) {
        poly.outer = readCoordinates(ring, srs);
        haveOuter = true;
      } else {
        poly.holes.push_back(readCoordinates(ring, srs));
      }
    }
    if (!poly.outer.empty()) f.polygons.push_back(std::move(poly));
  }

  void readGeometry(GisFeature& f) {
    pugi::xml_node firstPoint;
    forEachDescendant(feature, [&](const pugi::xml_node& n) {
      const std::string_view name = localName(n);
      if (name == "Polygon") {
        readPolygon(n, f);
      } else if (name == "LineString") {
        auto pts = readCoordinates(n, GmlParser::srsOf(n));
        if (pts.size() >= 2) f.lines.push_back(std::move(pts));
      } else if (name == "Point" && !firstPoint) {
        firstPoint = n;
      }
      return true;
    });
    if (firstPoint) {
      const SrsInfo srs = GmlParser::srsOf(firstPoint);
      forEachDescendant(firstPoint, [&](const pugi::xml_node& n) {
        if (localName(n) != "pos") return true;
        readNumbers(n.child_value(), numbers);
        if (numbers.size() < 2) return true;
        const Point2 p = GmlParser::readCoordinatePair(numbers[0], numbers[1], srs);
        if (!convertible(p)) return true;
        f.point = p;
        f.hasPoint = true;
        return false;
      });
    }
    if (f.hasPoint) return;
    if (!f.polygons.empty()) {
      const auto& ring = f.polygons.front().outer;
      double sx = 0, sy = 0;
      for (const Point2& p : ring) {
        sx += p.x;
        sy += p.y;
      }
      f.point = {sx / static_cast<double>(ring.size()), sy / static_cast<double>(ring.size())};
      f.hasPoint = true;
    } else if (!f.lines.empty()) {
      const auto& line = f.lines.front();
      f.point = line[line.size() / 2];
      f.hasPoint = true;
    }
  }

  static bool hasGeometryBelowOrSelf(const pugi::xml_node& n) {
    if (GmlParser::isGeometryName(localName(n))) return true;
    bool found = false;
    forEachDescendant(n, [&](const pugi::xml_node& d) {
      found = GmlParser::isGeometryName(localName(d));
      return !found;
    });
    return found;
  }

  static bool hasChildElement(const pugi::xml_node& n) {
    for (pugi::xml_node c = n.first_child(); c; c = c.next_sibling())
      if (c.type() == pugi::node_element) return true;
    return false;
  }

  void readAttributes(GisFeature& f) {
    if (pugi::xml_attribute id = feature.attribute("id")) f.attributes["gml_id"] = id.value();
    if (pugi::xml_attribute fid = feature.attribute("fid")) f.attributes["gml_id"] = fid.value();
    for (pugi::xml_node c = feature.first_child(); c; c = c.next_sibling()) {
      if (c.type() != pugi::node_element) continue;
      const std::string_view name = localName(c);
      // Cheapest test first: a child element alone already makes the property complex.
      if (hasChildElement(c) || GmlParser::isGeometryName(name) || hasGeometryBelowOrSelf(c)) continue;
      const char* text = c.child_value();
      if (*text) f.attributes[std::string(name)] = text;
    }
  }
};

bool loadDocument(pugi::xml_document& doc, std::string_view text, pugi::xml_parse_result& result) {
  result = doc.load_buffer(text.data(), text.size(), kParseOptions);
  return static_cast<bool>(result);
}

std::uint32_t documentDefaultEpsg(const pugi::xml_document& doc) {
  const pugi::xml_node root = doc.document_element();
  if (pugi::xml_attribute a = root.attribute("srsName")) return GmlParser::parseSrsEpsg(a.value());
  std::uint32_t epsg = 0;
  forEachDescendant(root, [&](const pugi::xml_node& n) {
    pugi::xml_attribute a = n.attribute("srsName");
    if (!a) return true;
    epsg = GmlParser::parseSrsEpsg(a.value());
    return false;
  });
  return epsg;
}

bool isPl2000(std::uint32_t epsg) { return epsg >= 2176 && epsg <= 2179; }

}  // namespace

std::uint32_t GmlParser::threadDefaultEpsg() { return tDefaultEpsg; }
void GmlParser::setThreadDefaultEpsg(std::uint32_t epsg) { tDefaultEpsg = epsg; }

bool GmlParser::isGeometryName(std::string_view n) {
  return n == "Polygon" || n == "MultiSurface" || n == "LineString" || n == "MultiLineString" || n == "Point" ||
         n == "MultiPoint" || n == "Curve" || n == "MultiCurve" || n == "Surface" || n == "MultiGeometry";
}

std::uint32_t GmlParser::parseSrsEpsg(std::string_view s) {
  const auto at = s.find("EPSG");
  if (at == std::string_view::npos) return 0;
  std::uint32_t result = 0;
  std::size_t i = at + 4;
  while (i < s.size()) {
    if (s[i] < '0' || s[i] > '9') {
      ++i;
      continue;
    }
    std::uint64_t v = 0;
    bool overflow = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) {
      v = v * 10 + static_cast<std::uint64_t>(s[i] - '0');
      if (v > 0xFFFFFFFFull) overflow = true, v = 0xFFFFFFFFull + 1;
    }
    // A run too long for 32 bits is no EPSG code.
    if (v > 0 && !overflow) result = static_cast<std::uint32_t>(v);
  }
  return result;
}

namespace {

SrsInfo noteUnknown(const SrsInfo& srs) {
  if (tUnknownEpsg && srs.epsg != 0 && srs.epsg != 2180 && !isPl2000(srs.epsg) &&
      std::find(tUnknownEpsg->begin(), tUnknownEpsg->end(), srs.epsg) == tUnknownEpsg->end())
    tUnknownEpsg->push_back(srs.epsg);
  return srs;
}

}  // namespace

SrsInfo GmlParser::srsOf(const pugi::xml_node& element) {
  for (pugi::xml_node n = element; n && n.type() == pugi::node_element; n = n.parent()) {
    if (pugi::xml_attribute a = n.attribute("srsName")) {
      const std::uint32_t epsg = parseSrsEpsg(a.value());
      return noteUnknown({epsg, epsg == 2180 || isPl2000(epsg)});
    }
  }
  if (tOuterSrs.set) return noteUnknown(tOuterSrs.srs);
  return noteUnknown({tDefaultEpsg, isPl2000(tDefaultEpsg)});
}

Point2 GmlParser::readCoordinatePair(double a, double b, const SrsInfo& srs) {
  if (isPl2000(srs.epsg)) {
    const double zone = static_cast<double>(srs.epsg - 2171);
    const bool aZone = std::floor(a / 1000000.0) == zone;
    const bool bZone = std::floor(b / 1000000.0) == zone;
    double easting, northing;
    if (bZone && !aZone) {
      easting = b, northing = a;
    } else if (aZone && !bZone) {
      easting = a, northing = b;
    } else if (srs.northingFirst) {
      easting = b, northing = a;
    } else {
      easting = a, northing = b;
    }
    const auto [e, n] = pl2000ToPl1992(easting, northing, static_cast<int>(srs.epsg));
    return {e, n};
  }
  return srs.northingFirst ? Point2{b, a} : Point2{a, b};
}

namespace {

// Reads every member at or below root (document order, nested members too).
void readMembers(const pugi::xml_node& root, DataType dataType, std::vector<double>& numbers,
                 std::vector<GisFeature>& out, MemoryAllowance& allowance) {
  auto visit = [&](const pugi::xml_node& member) {
    const std::string_view name = localName(member);
    if (name != "member" && name != "featureMember") return true;
    pugi::xml_node feature = member.first_child();
    while (feature && feature.type() != pugi::node_element) feature = feature.next_sibling();
    if (!feature) return true;
    GisFeature f;
    f.type = dataType;
    FeatureReader reader{feature, numbers};
    reader.readGeometry(f);
    reader.readAttributes(f);
    f.attributes["_typ"] = std::string(localName(feature));
    if (!f.polygons.empty() || !f.lines.empty() || f.hasPoint) {
      allowance.take(featureBytes(f));
      out.push_back(std::move(f));
    }
    return true;
  };
  forEachDescendant(root, visit);
}

// ---- Member-by-member reading -------------------------------------------------------------------
// A whole-document tree costs several times the text; reading one member at a time keeps the peak
// near the size of the result. A strict scan of the text finds the members, the srsName in force
// around each one and the document default. Whatever the scan does not fully understand (other
// encodings, DOCTYPE, processing instructions, unusual syntax, any doubt about well-formedness)
// sends the text to the whole-document path, which stays the reference.

struct MemberSpan {
  std::size_t begin = 0, end = 0;
  int outerSrs = -1;   // index into ScanPlan::srsNames, -1 when no ancestor has one
};

struct ScanPlan {
  std::vector<MemberSpan> members;
  std::vector<std::string_view> srsNames;
  std::uint32_t defaultEpsg = 0;
  bool tooDeep = false;
};

// White space as XML (and pugixml) knows it; \v and \f are not.
bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

bool isNameStart(unsigned char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == ':' || c >= 0x80;
}
bool isNameChar(unsigned char c) { return isNameStart(c) || (c >= '0' && c <= '9') || c == '-' || c == '.'; }

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

class MemberScanner {
 public:
  explicit MemberScanner(std::string_view t) : t_(t) {}

  // False: use the whole-document path.
  bool run(ScanPlan& plan) {
    if (t_.find('\0') != std::string_view::npos) return false;
    if (t_.size() >= 3 && static_cast<unsigned char>(t_[0]) == 0xEF && static_cast<unsigned char>(t_[1]) == 0xBB &&
        static_cast<unsigned char>(t_[2]) == 0xBF)
      p_ = 3;
    if (t_.compare(p_, 5, "<?xml") == 0 && !declaration()) return false;
    bool rootSeen = false, defaultFound = false;
    std::size_t memberStart = 0, memberDepth = 0;
    bool inMember = false;
    while (true) {
      const std::size_t lt = t_.find('<', p_);
      if (stack_.empty()) {
        // Outside the root only white space and comments.
        for (std::size_t i = p_; i < (lt == std::string_view::npos ? t_.size() : lt); ++i)
          if (!isXmlSpace(t_[i])) return false;
      }
      if (lt == std::string_view::npos) break;
      p_ = lt;
      if (t_.compare(p_, 4, "<!--") == 0) {
        const std::size_t e = t_.find("-->", p_ + 4);
        if (e == std::string_view::npos) return false;
        p_ = e + 3;
        continue;
      }
      if (t_.compare(p_, 9, "<![CDATA[") == 0) {
        if (stack_.empty()) return false;
        const std::size_t e = t_.find("]]>", p_ + 9);
        if (e == std::string_view::npos) return false;
        p_ = e + 3;
        continue;
      }
      if (p_ + 1 >= t_.size()) return false;
      const unsigned char c = static_cast<unsigned char>(t_[p_ + 1]);
      if (c == '/') {
        std::string_view name;
        if (!endTag(name)) return false;
        if (stack_.empty() || stack_.back().name != name) return false;
        stack_.pop_back();
        if (inMember && stack_.size() == memberDepth) {
          plan.members.push_back({memberStart, p_, memberOuterSrs_});
          inMember = false;
        }
        if (stack_.empty()) rootClosed_ = true;
        continue;
      }
      if (!isNameStart(c)) return false;   // <? <! and anything odd
      if (rootClosed_) return false;       // a second root element
      const std::size_t tagStart = p_;
      std::string_view name, srsName;
      bool selfClosing = false, hasSrs = false;
      if (!startTag(name, srsName, hasSrs, selfClosing)) return false;
      if (hasSrs && srsName.find('&') != std::string_view::npos) return false;  // would need entity decoding
      const bool isRoot = !rootSeen;
      rootSeen = true;
      if (isRoot) {
        if (hasSrs) {
          plan.defaultEpsg = GmlParser::parseSrsEpsg(srsName);
          defaultFound = true;
        }
      } else if (!defaultFound && hasSrs) {
        plan.defaultEpsg = GmlParser::parseSrsEpsg(srsName);
        defaultFound = true;
      }
      const int parentSrs = stack_.empty() ? -1 : stack_.back().srs;
      int srs = parentSrs;
      if (hasSrs) {
        plan.srsNames.push_back(srsName);
        srs = static_cast<int>(plan.srsNames.size()) - 1;
      }
      const std::string_view local = localName(name);
      const bool member = local == "member" || local == "featureMember";
      if (member && !inMember) {
        inMember = true;
        memberStart = tagStart;
        memberDepth = stack_.size();
        memberOuterSrs_ = parentSrs;
      }
      if (selfClosing) {
        if (stack_.size() + 1 > static_cast<std::size_t>(GmlParser::kMaxDepth)) plan.tooDeep = true;
        if (inMember && stack_.size() == memberDepth) {
          plan.members.push_back({memberStart, p_, memberOuterSrs_});
          inMember = false;
        }
        if (stack_.empty()) rootClosed_ = true;
        continue;
      }
      stack_.push_back({name, srs});
      if (stack_.size() > static_cast<std::size_t>(GmlParser::kMaxDepth)) {
        // Nothing is read from such a document: no need to scan (and stack) the rest.
        plan.tooDeep = true;
        return true;
      }
    }
    return rootSeen && stack_.empty() && rootClosed_;
  }

 private:
  struct Open {
    std::string_view name;
    int srs;
  };

  void skipSpace() {
    while (p_ < t_.size() && isXmlSpace(t_[p_])) ++p_;
  }

  bool name(std::string_view& out) {
    const std::size_t b = p_;
    if (p_ >= t_.size() || !isNameStart(static_cast<unsigned char>(t_[p_]))) return false;
    while (p_ < t_.size() && isNameChar(static_cast<unsigned char>(t_[p_]))) ++p_;
    out = t_.substr(b, p_ - b);
    return true;
  }

  // <?xml ... ?> at the very start; only UTF-8 (or no encoding) is read here.
  bool declaration() {
    const std::size_t e = t_.find("?>", p_);
    if (e == std::string_view::npos) return false;
    const std::string_view decl = t_.substr(p_, e + 2 - p_);
    if (decl.find('<', 1) != std::string_view::npos) return false;
    const std::size_t enc = decl.find("encoding");
    if (enc != std::string_view::npos) {
      std::size_t q = decl.find_first_of("'\"", enc);
      if (q == std::string_view::npos) return false;
      const std::size_t q2 = decl.find(decl[q], q + 1);
      if (q2 == std::string_view::npos) return false;
      const std::string_view value = decl.substr(q + 1, q2 - q - 1);
      if (!equalsNoCase(value, "utf-8") && !equalsNoCase(value, "utf8")) return false;
    }
    p_ = e + 2;
    return true;
  }

  bool startTag(std::string_view& tagName, std::string_view& srsName, bool& hasSrs, bool& selfClosing) {
    ++p_;
    if (!name(tagName)) return false;
    while (true) {
      const std::size_t before = p_;
      skipSpace();
      if (p_ >= t_.size()) return false;
      if (t_[p_] == '>') {
        ++p_;
        return true;
      }
      if (t_[p_] == '/') {
        if (p_ + 1 >= t_.size() || t_[p_ + 1] != '>') return false;
        p_ += 2;
        selfClosing = true;
        return true;
      }
      if (p_ == before) return false;   // attributes must be separated by white space
      std::string_view attr;
      if (!name(attr)) return false;
      skipSpace();
      if (p_ >= t_.size() || t_[p_] != '=') return false;
      ++p_;
      skipSpace();
      if (p_ >= t_.size() || (t_[p_] != '"' && t_[p_] != '\'')) return false;
      const char quote = t_[p_++];
      const std::size_t e = t_.find(quote, p_);
      if (e == std::string_view::npos) return false;
      const std::string_view value = t_.substr(p_, e - p_);
      if (value.find('<') != std::string_view::npos) return false;
      if (attr == "srsName" && !hasSrs) {
        srsName = value;
        hasSrs = true;
      }
      p_ = e + 1;
    }
  }

  bool endTag(std::string_view& tagName) {
    p_ += 2;
    if (!name(tagName)) return false;
    skipSpace();
    if (p_ >= t_.size() || t_[p_] != '>') return false;
    ++p_;
    return true;
  }

  std::string_view t_;
  std::size_t p_ = 0;
  std::vector<Open> stack_;
  bool rootClosed_ = false;
  int memberOuterSrs_ = -1;
};

struct OuterSrsScope {
  explicit OuterSrsScope(const SrsInfo& srs) { tOuterSrs = {true, srs}; }
  ~OuterSrsScope() { tOuterSrs = {}; }
};

}  // namespace

namespace {

std::vector<GisFeature> wholeDocument(std::string_view text, DataType dataType, MemoryAllowance& allowance) {
  std::vector<GisFeature> out;
  try {
    pugi::xml_document doc;
    pugi::xml_parse_result result;
    tDefaultEpsg = 0;
    tOuterSrs = {};
    allowance.take(treeBytes(text));
    if (!loadDocument(doc, text, result)) return out;
    if (xmlMaxDepth(doc) > GmlParser::kMaxDepth) return out;
    tDefaultEpsg = documentDefaultEpsg(doc);
    std::vector<double> numbers;
    readMembers(doc, dataType, numbers, out, allowance);
  } catch (const std::exception&) {
    // Out of memory on a huge document: nothing usable.
    out.clear();
  }
  return out;
}

GmlReading memberByMember(std::string_view text, DataType dataType, MemoryAllowance& allowance) {
  ScanPlan plan;
  auto whole = [&] { return GmlReading{wholeDocument(text, dataType, allowance), false, {}}; };
  try {
    if (!MemberScanner(text).run(plan)) return whole();
  } catch (const std::exception&) {
    return whole();
  }
  GmlReading reading;
  std::vector<GisFeature>& out = reading.features;
  tDefaultEpsg = 0;
  tOuterSrs = {};
  if (plan.tooDeep) return reading;
  tDefaultEpsg = plan.defaultEpsg;
  try {
    std::vector<double> numbers;
    pugi::xml_document doc;
    // Sibling members separated only by white space are parsed together (fewer, larger parses).
    constexpr std::size_t kGroupBytes = 4u << 20;
    for (std::size_t i = 0; i < plan.members.size();) {
      const MemberSpan& m = plan.members[i];
      std::size_t end = m.end;
      std::size_t j = i + 1;
      for (; j < plan.members.size(); ++j) {
        const MemberSpan& n = plan.members[j];
        if (n.outerSrs != m.outerSrs || n.end - m.begin > kGroupBytes) break;
        bool gapIsSpace = true;
        for (std::size_t k = end; k < n.begin && gapIsSpace; ++k) gapIsSpace = isXmlSpace(text[k]);
        if (!gapIsSpace) break;
        end = n.end;
      }
      i = j;
      const std::string_view group = text.substr(m.begin, end - m.begin);
      const std::uint64_t tree = treeBytes(group);
      allowance.take(tree);
      pugi::xml_parse_result result = doc.load_buffer(group.data(), group.size(), kParseOptions);
      // The scan and pugixml disagree: let the whole-document path decide.
      if (!result) {
        doc.reset();
        out.clear();
        allowance = MemoryAllowance(text.size());
        return whole();
      }
      if (m.outerSrs >= 0) {
        // Decoded as pugixml would: the scan refused values with entity references.
        std::string value(plan.srsNames[static_cast<std::size_t>(m.outerSrs)]);
        for (char& ch : value)
          if (ch == '\t' || ch == '\n' || ch == '\r') ch = ' ';
        const std::uint32_t epsg = GmlParser::parseSrsEpsg(value);
        OuterSrsScope scope(SrsInfo{epsg, epsg == 2180 || isPl2000(epsg)});
        readMembers(doc, dataType, numbers, out, allowance);
      } else {
        readMembers(doc, dataType, numbers, out, allowance);
      }
      doc.reset();
      allowance.giveBack(tree);
    }
  } catch (const std::exception&) {
    out.clear();
  }
  return reading;
}

}  // namespace

std::vector<GisFeature> GmlParser::parseFeatureCollectionWholeDocument(std::string_view text, DataType dataType) {
  MemoryAllowance allowance(text.size());
  try {
    return wholeDocument(text, dataType, allowance);
  } catch (const TooLarge&) {
    return {};
  }
}

GmlReading GmlParser::readFeatureCollection(std::string_view text, DataType dataType) {
  MemoryAllowance allowance(text.size());
  std::vector<std::uint32_t> unknown;
  struct Collect {
    explicit Collect(std::vector<std::uint32_t>* to) { tUnknownEpsg = to; }
    ~Collect() { tUnknownEpsg = nullptr; }
  } collect(&unknown);
  GmlReading reading;
  try {
    reading = memberByMember(text, dataType, allowance);
  } catch (const TooLarge&) {
    tDefaultEpsg = 0;
    reading = GmlReading{{}, true, {}};
  }
  if (!reading.features.empty()) reading.unknownEpsg = std::move(unknown);
  return reading;
}

std::vector<GisFeature> GmlParser::parseFeatureCollection(std::string_view text, DataType dataType) {
  return readFeatureCollection(text, dataType).features;
}

GmlDiagnosis GmlParser::diagnose(std::string_view text) {
  GmlDiagnosis d;
  if (treeBytes(text) > kBaseAllowance + kBytesPerInputByte * text.size()) {
    d.kind = GmlDiagnosis::Kind::TooLarge;
    d.message = kTooLargeMessage;
    return d;
  }
  pugi::xml_document doc;
  pugi::xml_parse_result result;
  if (!loadDocument(doc, text, result)) {
    d.kind = GmlDiagnosis::Kind::XmlError;
    d.message = std::string(result.description()) + " (bajt " + std::to_string(result.offset) + ")";
    return d;
  }
  if (xmlMaxDepth(doc) > kMaxDepth) {
    d.kind = GmlDiagnosis::Kind::TooDeep;
    d.message = "zagniezdzenie elementow glebsze niz " + std::to_string(kMaxDepth);
    return d;
  }
  const pugi::xml_node root = doc.document_element();
  const std::string_view rootName = localName(root);
  if (rootName == "ExceptionReport" || rootName == "ServiceExceptionReport") {
    d.kind = GmlDiagnosis::Kind::ExceptionReport;
    forEachDescendant(root, [&](const pugi::xml_node& n) {
      const std::string_view name = localName(n);
      if (name != "Exception" && name != "ServiceException") return true;
      std::string part;
      const char* code = n.attribute("exceptionCode").value();
      if (!*code) code = n.attribute("code").value();
      if (*code) part = code;
      auto addText = [&](const char* t) {
        std::string_view s(t);
        while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
        while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
        if (s.empty()) return;
        if (!part.empty()) part += ": ";
        part += s;
      };
      if (name == "ServiceException") addText(n.child_value());
      for (pugi::xml_node t = n.first_child(); t; t = t.next_sibling())
        if (t.type() == pugi::node_element && localName(t) == "ExceptionText") addText(t.child_value());
      if (!part.empty()) {
        if (!d.message.empty()) d.message += "; ";
        d.message += part;
      }
      return true;
    });
    return d;
  }
  if (rootName != "FeatureCollection") {
    d.kind = GmlDiagnosis::Kind::NotFeatureCollection;
    d.message = std::string(root.name());
  }
  return d;
}

}  // namespace veldra
