#include "place/Placement.h"

#include "place/DataKinds.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <utility>

#include "platform/Paths.h"
#include "platform/TextCodec.h"

namespace veldra {

namespace {

constexpr double kPi = 3.14159265358979323846;



std::string lower(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

bool has(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

std::string attr(const GisFeature& f, const char* name) {
  auto it = f.attributes.find(name);
  return it == f.attributes.end() ? std::string() : it->second;
}

std::string f3(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.3f", v);
  return buf;
}

// Ring closed: first point appended when the last differs.
std::vector<Point2> closedRing(std::vector<Point2> pts) {
  if (!pts.empty() && (pts.front().x != pts.back().x || pts.front().y != pts.back().y)) pts.push_back(pts.front());
  return pts;
}

// Distinct corners of a ring given open or closed.
std::size_t ringCorners(const std::vector<Point2>& pts) {
  if (pts.size() >= 2 && pts.front().x == pts.back().x && pts.front().y == pts.back().y) return pts.size() - 1;
  return pts.size();
}


struct Range {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
  void add(double v) {
    lo = std::min(lo, v);
    hi = std::max(hi, v);
  }
  std::string text() const { return lo <= hi ? f3(lo) + ".." + f3(hi) : std::string("-"); }
};

HostErr notCounted() { return 1; }   // internal marker: feature of a type that places nothing

}  // namespace

// ---- small pure helpers -----------------------------------------------------

// Angle brought into (-pi/2, pi/2].
double halfTurn(double a) {
  if (!std::isfinite(a)) return 0.0;
  a = std::remainder(a, 2 * kPi);
  while (a > kPi / 2) a -= kPi;
  while (a <= -kPi / 2) a += kPi;
  return a;
}

std::optional<Rgb> zoneColour(const std::string& designation) {
  struct Row {
    const char* code;
    Rgb rgb;
  };
  static const Row rows[] = {{"SW", {140, 123, 107}}, {"SJ", {201, 162, 75}},  {"SZ", {228, 206, 140}},
                             {"SU", {232, 138, 125}}, {"SH", {231, 158, 196}}, {"SP", {180, 157, 212}},
                             {"SR", {242, 232, 76}},  {"SI", {204, 204, 204}}, {"SN", {183, 217, 143}},
                             {"SC", {169, 198, 174}}, {"SG", {232, 196, 220}}, {"SO", {220, 233, 192}},
                             {"SK", {244, 244, 244}}};
  std::string up = designation;
  for (char& c : up)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  const auto isUpper = [](char c) { return c >= 'A' && c <= 'Z'; };
  for (const auto& row : rows) {
    const std::size_t pos = up.find(row.code);
    if (pos == std::string::npos) continue;
    const bool beforeOk = pos == 0 || !isUpper(up[pos - 1]);
    const bool afterOk = pos + 2 >= up.size() || !isUpper(up[pos + 2]);
    if (beforeOk && afterOk) return row.rgb;
  }
  return std::nullopt;
}

std::string parcelLabel(const std::map<std::string, std::string>& attributes) {
  const auto pass1 = [](const std::string& n) { return has(n, "dzial") && (has(n, "numer") || has(n, "nr")); };
  const auto pass2 = [](const std::string& n) { return has(n, "ident") || (has(n, "id") && has(n, "dzial")); };
  const auto pass3 = [](const std::string& n) {
    return has(n, "numer") && !has(n, "arkusz") && !has(n, "obreb") && !has(n, "jednost") && !has(n, "rejestr");
  };
  std::string value;
  for (const auto& pass : {std::function<bool(const std::string&)>(pass1), std::function<bool(const std::string&)>(pass2),
                           std::function<bool(const std::string&)>(pass3)}) {
    for (const auto& [name, v] : attributes) {
      if (!v.empty() && pass(lower(name))) {
        value = v;
        break;
      }
    }
    if (!value.empty()) break;
  }
  const std::size_t dot = value.rfind('.');
  if (dot != std::string::npos && dot + 1 < value.size()) return value.substr(dot + 1);
  return value;
}

std::vector<Point2> smoothContourLine(const std::vector<Point2>& in) {
  if (in.size() < 3) return in;
  const Point2& a0 = in.front();
  const Point2& b0 = in.back();
  const bool closed = std::fabs(a0.x - b0.x) <= 1e-6 && std::fabs(a0.y - b0.y) <= 1e-6;
  std::vector<Point2> pts = in;
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<Point2> out;
    out.reserve(pts.size() * 2 + 2);
    if (!closed) out.push_back(pts.front());
    for (std::size_t i = 0; i + 1 < pts.size(); ++i) {
      const Point2& p = pts[i];
      const Point2& q = pts[i + 1];
      out.push_back({0.75 * p.x + 0.25 * q.x, 0.75 * p.y + 0.25 * q.y});
      out.push_back({0.25 * p.x + 0.75 * q.x, 0.25 * p.y + 0.75 * q.y});
    }
    if (closed)
      out.push_back(out.front());
    else
      out.push_back(pts.back());
    pts = std::move(out);
  }
  if (pts.size() < 4) return pts;
  // Drop vertices that lie within 0.05 m of the chord from the last kept one to the next.
  std::vector<Point2> kept;
  kept.reserve(pts.size());
  kept.push_back(pts.front());
  for (std::size_t i = 1; i + 1 < pts.size(); ++i) {
    const Point2& a = kept.back();
    const Point2& p = pts[i];
    const Point2& b = pts[i + 1];
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double len = std::hypot(dx, dy);
    const double dist = len > 0 ? std::fabs((p.x - a.x) * dy - (p.y - a.y) * dx) / len : std::hypot(p.x - a.x, p.y - a.y);
    if (dist >= 0.05) kept.push_back(p);
  }
  kept.push_back(pts.back());
  return kept;
}

// ---- Placer -----------------------------------------------------------------

Placer::Placer(Host& host, const ProjectGeoref& georef, int zone, std::function<std::string(DataType)> layerName)
    : host_(host), georef_(georef), zone_(zone), layerName_(std::move(layerName)) {}

int Placer::layerFor(DataType type) {
  const int key = static_cast<int>(type);
  if (auto it = layerCache_.find(key); it != layerCache_.end()) return it->second;
  std::string name = layerName_ ? layerName_(type) : std::string();
  if (name.empty()) name = defaultLayerName(type);
  if (name.empty()) name = "GIS_INNE";
  const int index = layerNamed(name);
  if (index > 0) layerCache_[key] = index;
  return index;
}

int Placer::layerNamed(const std::string& name) {
  if (auto it = namedLayers_.find(name); it != namedLayers_.end()) return it->second;
  std::vector<Attribute> layers;
  int index = 0;
  if (host_.listAttributes(AttributeKind::Layer, layers) == kHostOk)
    for (const auto& l : layers)
      if (l.name == name) {
        index = l.index;
        break;
      }
  if (index == 0) {
    int created = 0;
    if (host_.createAttribute(AttributeKind::Layer, name, 0, 0, 0, created) == kHostOk) index = created;
  }
  if (index > 0) namedLayers_[name] = index;
  return index;
}

int Placer::solidFillType() {
  if (solidFill_) return *solidFill_;
  std::vector<Attribute> fills;
  if (host_.listAttributes(AttributeKind::FillType, fills) != kHostOk) return 0;
  for (const auto& f : fills)
    if (f.solid && f.usableForFills) {
      solidFill_ = f.index;
      return f.index;
    }
  return 0;
}

int Placer::hatchFillType(const std::string& hint) {
  if (auto it = hatchCache_.find(hint); it != hatchCache_.end()) return it->second;
  std::vector<Attribute> fills;
  if (host_.listAttributes(AttributeKind::FillType, fills) != kHostOk) return 0;
  int first = 0, found = 0;
  for (const auto& f : fills) {
    if (!f.usableForFills) continue;
    if (first == 0) first = f.index;
    if (has(lower(f.name), hint.c_str())) {
      found = f.index;
      break;
    }
  }
  const int idx = found ? found : first;
  if (idx) hatchCache_[hint] = idx;
  return idx;
}

HostErr Placer::polyline(int layer, int pen, const std::vector<Point2>& localPts, bool closed) {
  std::vector<Point2> pts = closed ? closedRing(localPts) : localPts;
  if (closed ? ringCorners(pts) < 3 : pts.size() < 2) return kHostOk;
  Element e;
  if (HostErr rc = startElement(ElementType::Polyline, layer, e); rc != kHostOk) return rc;
  e.contourPen = pen;
  e.closed = closed;
  Memo m;
  m.coords.reserve(pts.size() + 1);
  m.coords.push_back({});
  m.coords.insert(m.coords.end(), pts.begin(), pts.end());
  m.ringEnds = {0, static_cast<int>(pts.size())};
  const HostErr rc = host_.createElement(e, m);
  host_.disposeMemo(m);
  return rc;
}

HostErr Placer::fill(int layer, int pen, const std::vector<std::vector<Point2>>& localRings,
                     const std::optional<Rgb>& colour, int fillType) {
  if (localRings.empty() || ringCorners(localRings.front()) < 3) return kHostOk;
  Element e;
  if (HostErr rc = startElement(ElementType::Fill, layer, e); rc != kHostOk) return rc;
  e.contourPen = pen;
  e.fillPen = pen;
  if (fillType > 0) e.fillType = fillType;
  if (colour) {
    if (fillType <= 0) {
      if (const int solid = solidFillType(); solid > 0) e.fillType = solid;
    }
    e.useRgbColor = true;
    e.r = std::clamp(colour->r, 0, 255) / 255.0;
    e.g = std::clamp(colour->g, 0, 255) / 255.0;
    e.b = std::clamp(colour->b, 0, 255) / 255.0;
  }
  Memo m;
  m.coords.push_back({});
  m.ringEnds.push_back(0);
  for (std::size_t r = 0; r < localRings.size(); ++r) {
    if (ringCorners(localRings[r]) < 3) continue;   // holes too small to matter
    const std::vector<Point2> ring = closedRing(localRings[r]);
    m.coords.insert(m.coords.end(), ring.begin(), ring.end());
    m.ringEnds.push_back(static_cast<int>(m.coords.size()) - 1);
  }
  const HostErr rc = host_.createElement(e, m);
  host_.disposeMemo(m);
  return rc;
}

HostErr Placer::text(int layer, int pen, const std::string& utf8, Point2 local, double size, double angle) {
  if (utf8.empty()) return kHostOk;
  Element e;
  if (HostErr rc = startElement(ElementType::Text, layer, e); rc != kHostOk) return rc;
  e.contourPen = pen;
  e.textSize = size;
  e.location = local;
  if (std::isfinite(angle)) e.angle = angle;
  Memo m;
  m.text = utf8ToUtf16Lossy(utf8);
  const HostErr rc = host_.createElement(e, m);
  host_.disposeMemo(m);
  return rc;
}

HostErr Placer::createPicture(const RasterTile& raster, int layer) {
  Element e;
  if (HostErr rc = startElement(ElementType::Picture, layer, e); rc != kHostOk) return rc;
  const auto toZone = [&](double x, double y) {
    if (raster.epsg == zone_) return Point2{x, y};
    if (raster.epsg >= kEpsgPl2000First && raster.epsg <= kEpsgPl2000Last) {
      // Another PL-2000 zone: through PL-1992, not as if it were PL-1992.
      auto [e92, n92] = pl2000ToPl1992(x, y, raster.epsg);
      auto [ez, nz] = pl1992ToPl2000(e92, n92, zone_);
      return Point2{ez, nz};
    }
    auto [ez, nz] = pl1992ToPl2000(x, y, zone_);
    return Point2{ez, nz};
  };
  const Point2 c1 = local(toZone(raster.minX, raster.minY));
  const Point2 c2 = local(toZone(raster.maxX, raster.minY));
  const Point2 c3 = local(toZone(raster.minX, raster.maxY));
  e.location = c1;
  e.width = std::hypot(c2.x - c1.x, c2.y - c1.y);
  e.height = std::hypot(c3.x - c1.x, c3.y - c1.y);
  e.angle = std::atan2(c2.y - c1.y, c2.x - c1.x);
  e.pictureFormat = "image/png";
  std::int64_t handle = 0;
  if (HostErr rc = host_.allocateHandle(raster.bytes.size(), handle); rc != kHostOk) return rc;
  Memo m;
  m.pixels = raster.bytes;
  const HostErr rc = host_.createElement(e, m);
  host_.disposeMemo(m);
  host_.releaseHandle(handle);
  return rc;
}

namespace {

// Lattice rows as level lines: a new row starts where x steps back west. A
// single node is sent as a line of two equal points (the host takes no
// one-point lines).
std::vector<MeshLevelLine> latticeLines(const std::vector<Point3>& zonePts, const std::vector<Point3>& localPts) {
  std::vector<MeshLevelLine> lines;
  MeshLevelLine cur;
  for (std::size_t i = 0; i < zonePts.size(); ++i) {
    if (!cur.points.empty() && zonePts[i].x < zonePts[i - 1].x) {
      if (cur.points.size() == 1) cur.points.push_back(cur.points.front());
      lines.push_back(std::move(cur));
      cur = MeshLevelLine{};
    }
    cur.points.push_back(localPts[i]);
  }
  if (!cur.points.empty()) {
    if (cur.points.size() == 1) cur.points.push_back(cur.points.front());
    lines.push_back(std::move(cur));
  }
  return lines;
}

}  // namespace

HostErr Placer::startElement(ElementType type, int layer, Element& e) {
  e.typeCode = static_cast<int>(type);
  if (HostErr rc = host_.getElementDefaults(e); rc != kHostOk) return rc;
  e.layer = layer;
  return kHostOk;
}

// A mesh at level 0 whose memo starts with the unused slot 0 of both lists.
HostErr Placer::startMesh(int layer, Element& e, Memo& m) {
  if (HostErr rc = startElement(ElementType::Mesh, layer, e); rc != kHostOk) return rc;
  e.level = 0.0;
  m.coords.push_back({});
  m.z.push_back(0.0);
  return kHostOk;
}

HostErr Placer::createMesh(const PlacementData::Patch& patch, double zOffset, int layer) {
  lastMeshCreated_ = false;
  if (patch.points.empty()) return kHostOk;
  Element e;
  Memo m;
  if (HostErr rc = startMesh(layer, e, m); rc != kHostOk) return rc;
  double ringZ[4];
  Range rx, ry, px, py, pz;
  for (int c = 0; c < 4; ++c) {
    const Point2& corner = patch.corners[static_cast<std::size_t>(c)];
    double best = std::numeric_limits<double>::infinity();
    double z = 0.0;
    for (const auto& p : patch.points) {
      const double d = (p.x - corner.x) * (p.x - corner.x) + (p.y - corner.y) * (p.y - corner.y);
      if (d < best) {
        best = d;
        z = p.z;
      }
    }
    ringZ[c] = z - zOffset;
    const Point2 l = local(corner);
    rx.add(l.x);
    ry.add(l.y);
    m.coords.push_back(l);
    m.z.push_back(ringZ[c]);
  }
  m.coords.push_back(m.coords[1]);
  m.z.push_back(ringZ[0]);
  m.ringEnds = {0, 5};
  std::vector<Point3> localPts;
  localPts.reserve(patch.points.size());
  for (const auto& p : patch.points) {
    const Point2 l = local({p.x, p.y});
    localPts.push_back({l.x, l.y, p.z - zOffset});
    px.add(l.x);
    py.add(l.y);
    pz.add(p.z - zOffset);
  }
  m.levelLines = latticeLines(patch.points, localPts);
  const HostErr rc = host_.createElement(e, m);
  lastMeshCreated_ = rc == kHostOk;
  host_.disposeMemo(m);
  platform::appendDiagLine("orvane_teren_diag.txt",
                           "createMesh nPts=" + std::to_string(patch.points.size()) + " err=" + std::to_string(rc) +
                               " ptXY=[" + px.text() + "," + py.text() + "]" + " ringXY=[" + rx.text() + "," +
                               ry.text() + "]" + " ptZ=[" + pz.text() + "] ringZ=[" + f3(ringZ[0]) + "," +
                               f3(ringZ[1]) + "," + f3(ringZ[2]) + "," + f3(ringZ[3]) + "]");
  return rc;
}

HostErr Placer::createMeshFromContours(const std::vector<Contour>& contours, double zOffset, int layer,
                                       const std::array<Point2, 4>& corners) {
  lastMeshCreated_ = false;
  struct Kept {
    const Contour* c;
    std::vector<Point2> local;
    double len;
  };
  std::vector<Kept> kept;
  int stubs = 0, closedN = 0, openN = 0;
  std::size_t total = 0;
  double lenMin = std::numeric_limits<double>::infinity(), lenMax = 0.0;
  Range cz, px, py;
  for (const auto& c : contours) {
    if (c.points.size() < 2) continue;
    double len = 0.0;
    for (std::size_t i = 1; i < c.points.size(); ++i)
      len += std::hypot(c.points[i].x - c.points[i - 1].x, c.points[i].y - c.points[i - 1].y);
    if (len < 1.0) {
      ++stubs;
      continue;
    }
    Kept k{&c, {}, len};
    k.local.reserve(c.points.size());
    for (const auto& p : c.points) {
      k.local.push_back(local(p));
      px.add(k.local.back().x);
      py.add(k.local.back().y);
    }
    const bool closed = c.points.front().x == c.points.back().x && c.points.front().y == c.points.back().y;
    (closed ? closedN : openN)++;
    total += c.points.size();
    lenMin = std::min(lenMin, len);
    lenMax = std::max(lenMax, len);
    cz.add(c.level);
    kept.push_back(std::move(k));
  }
  if (total < 3) return kHostOk;
  std::array<Point2, 4> lc;
  for (int i = 0; i < 4; ++i) lc[static_cast<std::size_t>(i)] = local(corners[static_cast<std::size_t>(i)]);
  const double side1 = std::hypot(lc[1].x - lc[0].x, lc[1].y - lc[0].y);
  const double side2 = std::hypot(lc[2].x - lc[1].x, lc[2].y - lc[1].y);
  if (!(side1 > 1e-6) || !(side2 > 1e-6)) return kHostOk;

  Element e;
  Memo m;
  if (HostErr rc = startMesh(layer, e, m); rc != kHostOk) return rc;
  double fk[4];
  for (int i = 0; i < 4; ++i) {
    const Point2& corner = lc[static_cast<std::size_t>(i)];
    double best = std::numeric_limits<double>::infinity();
    double z = 0.0;
    for (const auto& k : kept)
      for (const auto& p : k.local) {
        const double d = (p.x - corner.x) * (p.x - corner.x) + (p.y - corner.y) * (p.y - corner.y);
        if (d < best) {
          best = d;
          z = k.c->level - zOffset;
        }
      }
    fk[i] = z;
    m.coords.push_back(corner);
    m.z.push_back(z);
  }
  m.coords.push_back(lc[0]);
  m.z.push_back(fk[0]);
  m.ringEnds = {0, 5};
  for (const auto& k : kept) {
    MeshLevelLine line;
    line.points.reserve(k.local.size());
    for (const auto& p : k.local) line.points.push_back({p.x, p.y, k.c->level - zOffset});
    m.levelLines.push_back(std::move(line));
  }
  const HostErr rc = host_.createElement(e, m);
  lastMeshCreated_ = rc == kHostOk;
  host_.disposeMemo(m);
  platform::appendDiagLine(
      "orvane_teren_diag.txt",
      "createMeshFromContours nPts=" + std::to_string(total) + " nSub=" + std::to_string(kept.size()) +
          " (zamk=" + std::to_string(closedN) + " otw=" + std::to_string(openN) + " stubOdrzuc=" +
          std::to_string(stubs) + " lenMin=" + f3(lenMin) + " lenMax=" + f3(lenMax) + ") err=" + std::to_string(rc) +
          " ptXY=[" + px.text() + "," + py.text() + "]" + " ramka=" + f3(side1) + "x" + f3(side2) + " fkZ=[" +
          f3(fk[0]) + "," + f3(fk[1]) + "," + f3(fk[2]) + "," + f3(fk[3]) + "]" + " cZ=[" + cz.text() + "]");
  return rc;
}

std::vector<Point2> Placer::vectorRing(const std::vector<Point2>& pts, PlacementResult& out) {
  std::vector<Point2> l;
  l.reserve(pts.size());
  for (const auto& p : pts) {
    const Point2 q = local(p);
    l.push_back(q);
    if (!out.hasBox) {
      out.minX = out.maxX = q.x;
      out.minY = out.maxY = q.y;
      out.hasBox = true;
    } else {
      out.minX = std::min(out.minX, q.x);
      out.maxX = std::max(out.maxX, q.x);
      out.minY = std::min(out.minY, q.y);
      out.maxY = std::max(out.maxY, q.y);
    }
  }
  return l;
}

HostErr Placer::placeZone(const GisFeature& f, int layer, PlacementResult& out) {
  const std::string S = attr(f, "symbol");
  const std::string O = attr(f, "oznaczenie");
  const std::string T = attr(f, "_typ");
  const std::string colourKey = S.empty() ? O : S;
  const std::string label = f.attributes.count("oznaczenie") ? O : S;
  const bool general = f.type == DataType::Pog;
  const int pen = general ? 32 : 30;
  std::optional<Rgb> colour;
  const auto rings = [&](const Polygon2& p) {
    std::vector<std::vector<Point2>> r{vectorRing(p.outer, out)};
    for (const auto& h : p.holes) r.push_back(vectorRing(h, out));
    return r;
  };
  bool done = false;
  if (general) {
    const char* hint = T == "ObszarUzupelnieniaZabudowy"                                   ? "pion"
                       : T == "ObszarStandardowDostepnosciInfrastrukturySpolecznej" ? "ukos"
                                                                                          : nullptr;
    if (hint) {
      const int ft = hatchFillType(hint);
      for (const auto& p : f.polygons)
        if (HostErr rc = fill(layer, 8, rings(p), Rgb{90, 90, 90}, ft); rc != kHostOk) return rc;
      done = true;
    } else if (T == "ObszarZabudowySrodmiejskiej") {
      for (const auto& p : f.polygons)
        if (HostErr rc = polyline(layer, 8, vectorRing(p.outer, out), true); rc != kHostOk) return rc;
      done = true;
    } else if (!colourKey.empty()) {
      colour = zoneColour(colourKey);
    }
  }
  if (!done)
    for (const auto& p : f.polygons)
      if (HostErr rc = fill(layer, pen, rings(p), colour); rc != kHostOk) return rc;
  if (f.hasPoint && !label.empty()) {
    const Point2 at = vectorRing({f.point}, out).front();
    if (HostErr rc = text(layer, pen, label, at, 2.5, std::numeric_limits<double>::quiet_NaN()); rc != kHostOk)
      return rc;
  }
  return kHostOk;
}

HostErr Placer::placeFeature(const GisFeature& f, int layer, PlacementResult& out) {
  switch (f.type) {
    case DataType::Dzialki: {
      for (const auto& p : f.polygons) {
        if (HostErr rc = polyline(layer, 10, vectorRing(p.outer, out), true); rc != kHostOk) return rc;
        for (const auto& h : p.holes)
          if (HostErr rc = polyline(layer, 10, vectorRing(h, out), true); rc != kHostOk) return rc;
      }
      for (const auto& l : f.lines)
        if (HostErr rc = polyline(layer, 10, vectorRing(l, out), false); rc != kHostOk) return rc;
      if (f.hasPoint) {
        const std::string label = parcelLabel(f.attributes);
        if (!label.empty()) {
          const Point2 at = vectorRing({f.point}, out).front();
          if (HostErr rc = text(layer, 10, label, at, 1.5, std::numeric_limits<double>::quiet_NaN()); rc != kHostOk)
            return rc;
        }
      }
      return kHostOk;
    }
    case DataType::Budynki:
      for (const auto& p : f.polygons) {
        std::vector<std::vector<Point2>> rings{vectorRing(p.outer, out)};
        for (const auto& h : p.holes) rings.push_back(vectorRing(h, out));
        if (HostErr rc = fill(layer, 6, rings, std::nullopt); rc != kHostOk) return rc;
      }
      return kHostOk;
    case DataType::Mpzp:
    case DataType::Pog:
      return placeZone(f, layer, out);
    case DataType::Gesut:
      for (const auto& l : f.lines)
        if (HostErr rc = polyline(layer, 5, vectorRing(l, out), false); rc != kHostOk) return rc;
      return kHostOk;
    default:
      return notCounted();
  }
}

void Placer::placeFeatures(const std::vector<GisFeature>& features, PlacementResult& out) {
  for (const auto& f : features) {
    const int layer = layerFor(f.type);
    if (layer == 0) {
      out.error = "Nie mozna utworzyc/odnalezc warstwy dla typu: " + typeKey(f.type);
      return;
    }
    const bool placesSomething = f.type == DataType::Dzialki || f.type == DataType::Budynki ||
                                 f.type == DataType::Mpzp || f.type == DataType::Pog || f.type == DataType::Gesut;
    const HostErr rc = placeFeature(f, layer, out);
    if (!placesSomething) continue;
    if (rc != kHostOk)
      ++out.failures;
    else
      ++out.counts[typeKey(f.type)];
  }
}

// ---- the command ------------------------------------------------------------

ImportOutcome runImport(Host& host, const ProjectGeoref& georef, int zone, const PlacementData& data,
                        const ImportOptions& options, std::function<std::string(DataType)> layerName) {
  ImportOutcome outcome;
  PlacementResult& res = outcome.result;
  const auto body = [&]() -> HostErr {
    res = PlacementResult{};
    res.failures = data.droppedGeometries;
    Placer p(host, georef, zone, layerName);
    for (const auto& kind : dataKinds())
      if (HostErr rc = kind.place(p, data, options, res); rc != kHostOk) return rc;
    return kHostOk;
  };
  outcome.code = host.runUndoableCommand(options.title, body);
  return outcome;
}

}  // namespace veldra
