#include "formats/GmlParser.h"

#include <charconv>
#include <cmath>
#include <cstring>

#include "geo/Projections.h"

namespace veldra {
namespace {

thread_local std::uint32_t tDefaultEpsg = 0;

// Text values are stored in their element (fewer nodes); reading through child_value() is unchanged.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_embed_pcdata;

std::string_view localName(const char* qname) {
  std::string_view n(qname);
  const auto colon = n.find(':');
  return colon == std::string_view::npos ? n : n.substr(colon + 1);
}

std::string_view localName(const pugi::xml_node& node) { return localName(node.name()); }

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

int maxDepth(const pugi::xml_document& doc) {
  int depth = 0, worst = 0;
  pugi::xml_node n = doc.first_child();
  while (n) {
    if (n.type() == pugi::node_element) worst = std::max(worst, depth + 1);
    if (n.first_child()) {
      n = n.first_child();
      ++depth;
      continue;
    }
    while (n && !n.next_sibling()) {
      n = n.parent();
      --depth;
      if (n == doc) return worst;
    }
    if (n) n = n.next_sibling();
  }
  return worst;
}

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

// Doubles separated by white space, up to the first token that is not a finite number.
void readNumbers(const char* s, std::vector<double>& out) {
  out.clear();
  const char* end = s + std::strlen(s);
  const char* p = s;
  while (true) {
    while (p < end && isSpace(*p)) ++p;
    if (p == end) return;
    if (*p == '+') ++p;
    double v = 0;
    const auto [q, ec] = std::from_chars(p, end, v);
    if (ec != std::errc() || !std::isfinite(v)) return;
    out.push_back(v);
    p = q;
    if (p < end && !isSpace(*p)) {
      // "1,2" or "1abc": the number ends here and the rest is not a number.
      return;
    }
  }
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

  std::vector<Point2> readCoordinates(const pugi::xml_node& element, const SrsInfo& srs) {
    std::vector<Point2> pts;
    if (pugi::xml_node posList = firstDescendant(element, "posList")) {
      readNumbers(posList.child_value(), numbers);
      const std::size_t step = static_cast<std::size_t>(ordinatesPerPosition(posList, feature));
      pts.reserve(numbers.size() / step);
      for (std::size_t i = 0; i + 1 < numbers.size(); i += step)
        pts.push_back(GmlParser::readCoordinatePair(numbers[i], numbers[i + 1], srs));
      return pts;
    }
    forEachDescendant(element, [&](const pugi::xml_node& n) {
      if (localName(n) == "pos") {
        readNumbers(n.child_value(), numbers);
        if (numbers.size() >= 2) pts.push_back(GmlParser::readCoordinatePair(numbers[0], numbers[1], srs));
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
        f.point = GmlParser::readCoordinatePair(numbers[0], numbers[1], srs);
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
      if (GmlParser::isGeometryName(name) || hasGeometryBelowOrSelf(c) || hasChildElement(c)) continue;
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

SrsInfo GmlParser::srsOf(const pugi::xml_node& element) {
  for (pugi::xml_node n = element; n && n.type() == pugi::node_element; n = n.parent()) {
    if (pugi::xml_attribute a = n.attribute("srsName")) {
      const std::uint32_t epsg = parseSrsEpsg(a.value());
      return {epsg, epsg == 2180 || isPl2000(epsg)};
    }
  }
  return {tDefaultEpsg, isPl2000(tDefaultEpsg)};
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

std::vector<GisFeature> GmlParser::parseFeatureCollection(std::string_view text, DataType dataType) {
  std::vector<GisFeature> out;
  try {
    pugi::xml_document doc;
    pugi::xml_parse_result result;
    tDefaultEpsg = 0;
    if (!loadDocument(doc, text, result)) return out;
    if (maxDepth(doc) > kMaxDepth) return out;
    tDefaultEpsg = documentDefaultEpsg(doc);

    std::vector<double> numbers;
    forEachDescendant(doc, [&](const pugi::xml_node& member) {
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
      if (!f.polygons.empty() || !f.lines.empty() || f.hasPoint) out.push_back(std::move(f));
      return true;
    });
  } catch (const std::exception&) {
    // Out of memory on a huge document: nothing usable.
    out.clear();
  }
  return out;
}

GmlDiagnosis GmlParser::diagnose(std::string_view text) {
  GmlDiagnosis d;
  pugi::xml_document doc;
  pugi::xml_parse_result result;
  if (!loadDocument(doc, text, result)) {
    d.kind = GmlDiagnosis::Kind::XmlError;
    d.message = std::string(result.description()) + " (bajt " + std::to_string(result.offset) + ")";
    return d;
  }
  if (maxDepth(doc) > kMaxDepth) {
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
