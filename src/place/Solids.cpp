#include "place/Solids.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <tuple>

#include "geo/FaceTriangulation.h"
#include "platform/Paths.h"

namespace veldra {

namespace {

bool finite3(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

bool near3(const Point3& a, const Point3& b) {
  return std::fabs(a.x - b.x) < 1e-6 && std::fabs(a.y - b.y) < 1e-6 && std::fabs(a.z - b.z) < 1e-6;
}

// Non-finite points, repeats of the previous point and the closing point go.
std::vector<Point3> cleanRing(const std::vector<Point3>& in) {
  std::vector<Point3> out;
  for (const Point3& p : in) {
    if (!finite3(p)) continue;
    if (!out.empty() && near3(out.back(), p)) continue;
    out.push_back(p);
  }
  while (out.size() > 1 && near3(out.front(), out.back())) out.pop_back();
  return out;
}

double length(const Point3& v) { return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z); }

std::string num(double v, const char* fmt = "%.3f") {
  char b[64];
  std::snprintf(b, sizeof b, fmt, v);
  return b;
}

// Builds the body: vertices (shared or per face point), edges once per
// vertex pair, polygons as signed edge lists.
class BodyBuilder {
 public:
  explicit BodyBuilder(bool share) : share_(share) {}
  int vertex(const Point3& p) {
    if (share_) {
      const auto key = std::make_tuple(p.x, p.y, p.z);
      if (auto it = shared_.find(key); it != shared_.end()) return it->second;
      shared_[key] = static_cast<int>(body.vertices.size());
    }
    body.vertices.push_back(p);
    return static_cast<int>(body.vertices.size()) - 1;
  }
  void polygon(const std::vector<int>& loop) {
    if (loop.size() < 3) return;
    std::vector<int> poly;
    for (std::size_t i = 0; i < loop.size(); ++i) {
      const int a = loop[i], b = loop[(i + 1) % loop.size()];
      if (a == b) return;   // degenerate
      if (auto it = edges_.find({a, b}); it != edges_.end()) {
        poly.push_back(it->second);
      } else if (auto r = edges_.find({b, a}); r != edges_.end()) {
        poly.push_back(-r->second);
      } else {
        body.edges.push_back({a, b});
        const int idx = static_cast<int>(body.edges.size());
        edges_[{a, b}] = idx;
        poly.push_back(idx);
      }
    }
    body.polygons.push_back(std::move(poly));
  }
  MorphBody body;

 private:
  bool share_;
  std::map<std::tuple<double, double, double>, int> shared_;
  std::map<std::pair<int, int>, int> edges_;
};

}  // namespace

HostErr createMorph(Host& host, const std::vector<SolidFace>& faces, int layer, const MorphOptions& options,
                    int material, MorphStats& stats, const std::string& id) {
  BodyBuilder b(options.shareVertices);
  for (const SolidFace& face : faces) {
    std::vector<Point3> pts = cleanRing(face.points);
    if (pts.size() < 3) continue;
    const Point3 normal = newellNormal(pts);
    if (length(normal) < 1e-9) continue;   // no area
    std::vector<int> holeStarts;
    for (const auto& h : face.holes) {
      auto hole = cleanRing(h);
      if (hole.size() < 3 || length(newellNormal(hole)) < 1e-9) continue;
      holeStarts.push_back(static_cast<int>(pts.size()));
      pts.insert(pts.end(), hole.begin(), hole.end());
    }
    const std::size_t outerCount = holeStarts.empty() ? pts.size() : static_cast<std::size_t>(holeStarts[0]);
    ++stats.faces;
    FaceShape shape = classifyFace(std::vector<Point3>(pts.begin(), pts.begin() + static_cast<std::ptrdiff_t>(outerCount)), normal);
    if (shape == FaceShape::PlanarConvex && !holeStarts.empty()) shape = FaceShape::PlanarConcave;
    if (shape == FaceShape::PlanarConvex) ++stats.planarConvex;
    else if (shape == FaceShape::PlanarConcave) ++stats.planarConcave;
    else ++stats.nonPlanar;

    std::vector<int> ids;
    ids.reserve(pts.size());
    for (const Point3& p : pts) ids.push_back(b.vertex(p));
    if (!options.triangulateAll && shape == FaceShape::PlanarConvex) {
      b.polygon(ids);
      continue;
    }
    const std::vector<Point2> plane = toPlane(pts, normal);
    std::vector<int> loop(outerCount);
    std::iota(loop.begin(), loop.end(), 0);
    if (!holeStarts.empty()) loop = bridgeHoles(plane, holeStarts);
    std::vector<Triangle> tris = earClip(plane, loop);
    if (tris.empty()) {
      ++stats.earClipEmpty;
      for (std::size_t i = 1; i + 1 < outerCount; ++i) tris.push_back({0, static_cast<int>(i), static_cast<int>(i + 1)});
    } else {
      ++stats.earClipOk;
    }
    const int n = static_cast<int>(pts.size());
    if (checkQuasiFan(tris).quasiFan) {
      ++stats.quasiFanBefore;
      stats.worstFanBefore = std::max(stats.worstFanBefore, n);
    }
    if (n >= 7) {
      flipEdges(plane, tris);
      if (checkQuasiFan(tris).quasiFan) {
        ++stats.quasiFanAfter;
        stats.worstFanAfter = std::max(stats.worstFanAfter, n);
      }
    }
    for (const Triangle& t : tris)
      b.polygon({ids[static_cast<std::size_t>(t[0])], ids[static_cast<std::size_t>(t[1])], ids[static_cast<std::size_t>(t[2])]});
  }
  if (b.body.polygons.empty()) return kHostErrBadParameters;
  Element e;
  e.typeCode = static_cast<int>(ElementType::Morph);
  if (HostErr rc = host.getElementDefaults(e); rc != kHostOk) return rc;
  e.layer = layer;
  if (material > 0) e.surfaceMaterial = material;
  Memo m;
  m.body = std::move(b.body);
  const HostErr rc = host.createElement(e, m);
  host.disposeMemo(m);
  if (rc == kHostOk && !id.empty()) host.setElementInfoString(e.guid, id);
  return rc;
}

MorphOutcome createMorphWithFallback(Host& host, const std::vector<SolidFace>& faces, int layer, int material,
                                     MorphStats& stats, const std::string& id) {
  const std::pair<MorphAttempt, MorphOptions> attempts[] = {
      {MorphAttempt::Clean, {false, true}},
      {MorphAttempt::Triangulated, {true, true}},
      {MorphAttempt::Soup, {true, false}},
  };
  MorphOutcome out;
  MorphStats last;
  for (const auto& [kind, options] : attempts) {
    last = MorphStats{};
    out.code = createMorph(host, faces, layer, options, material, last, id);
    if (out.code == kHostOk) {
      out.attempt = kind;
      break;
    }
  }
  // Statistics of the attempt that counts (the last one when none was accepted).
  stats.faces += last.faces, stats.planarConvex += last.planarConvex, stats.planarConcave += last.planarConcave;
  stats.nonPlanar += last.nonPlanar, stats.earClipOk += last.earClipOk, stats.earClipEmpty += last.earClipEmpty;
  stats.quasiFanBefore += last.quasiFanBefore, stats.quasiFanAfter += last.quasiFanAfter;
  stats.worstFanBefore = std::max(stats.worstFanBefore, last.worstFanBefore);
  stats.worstFanAfter = std::max(stats.worstFanAfter, last.worstFanAfter);
  return out;
}

HostErr createSlab(Host& host, const std::vector<Point2>& footprint, const std::vector<std::vector<Point2>>& holes,
                   double bottom, double thickness, int layer, const std::string& id) {
  const auto ring = [](const std::vector<Point2>& in) {
    std::vector<Point2> r;
    for (const Point2& p : in) {
      if (!std::isfinite(p.x) || !std::isfinite(p.y)) return std::vector<Point2>{};
      if (!r.empty() && r.back().x == p.x && r.back().y == p.y) continue;
      r.push_back(p);
    }
    while (r.size() > 1 && r.front().x == r.back().x && r.front().y == r.back().y) r.pop_back();
    return r;
  };
  const auto outer = ring(footprint);
  if (outer.size() < 3 || !(thickness > 0) || !std::isfinite(bottom) || !std::isfinite(thickness))
    return kHostErrBadParameters;
  Element e;
  e.typeCode = static_cast<int>(ElementType::Slab);
  if (HostErr rc = host.getElementDefaults(e); rc != kHostOk) return rc;
  e.layer = layer;
  // The host's slab level is its top.
  e.level = bottom + thickness;
  e.thickness = thickness;
  std::vector<Attribute> materials;
  if (host.listAttributes(AttributeKind::BuildingMaterial, materials) == kHostOk && !materials.empty())
    e.buildingMaterial = materials.front().index;
  Memo m;
  m.coords.push_back({});
  m.ringEnds.push_back(0);
  const auto add = [&](const std::vector<Point2>& r) {
    m.coords.insert(m.coords.end(), r.begin(), r.end());
    m.coords.push_back(r.front());
    m.ringEnds.push_back(static_cast<int>(m.coords.size()) - 1);
  };
  add(outer);
  for (const auto& h : holes)
    if (auto r = ring(h); r.size() >= 3) add(r);
  const HostErr rc = host.createElement(e, m);
  host.disposeMemo(m);
  if (rc == kHostOk && !id.empty()) host.setElementInfoString(e.guid, id);
  return rc;
}

double buildingZOffset(bool terrainFetched, double terrainZOffset, bool surveyHeightRead, double surveyHeight,
                       double zAnchor) {
  if (terrainFetched) return terrainZOffset;
  if (surveyHeightRead && std::isfinite(surveyHeight) && surveyHeight != 0.0) return surveyHeight;
  return std::isfinite(zAnchor) ? zAnchor : 0.0;
}

Lod1Placement placeLod1Buildings(Host& host, const std::vector<Building3D>& buildings,
                                 const std::set<std::string>& lod2Ids, int layer, double zOffset,
                                 const ToLocal& toLocal) {
  Lod1Placement out;
  for (const Building3D& b : buildings) {
    if (!b.id.empty() && lod2Ids.count(b.id)) {
      ++out.duplicates;
      continue;
    }
    std::vector<Point2> ring;
    for (const Point2& p : b.footprint) ring.push_back(toLocal(p));
    std::vector<std::vector<Point2>> holes;
    for (const auto& h : b.holes) {
      holes.emplace_back();
      for (const Point2& p : h) holes.back().push_back(toLocal(p));
    }
    if (ring.size() < 3 || !(b.height > 0) ||
        createSlab(host, ring, holes, b.baseZ - zOffset, b.height, layer, b.id) != kHostOk) {
      ++out.failures;
      continue;
    }
    ++out.placed;
  }
  if (out.duplicates > 0)
    host.writeReportLine("VELDRA LOD1: pominieto " + std::to_string(out.duplicates) +
                         " bryl dublujacych sie z dachami LOD2 (zostawiono LOD2); postawiono LOD1 tylko tam, gdzie brak "
                         "LOD2.");
  platform::appendDiagLine("orvane_z_diag.txt", "LOD1: zOff=" + num(zOffset) + " (buildingZOffset) budynkow=" +
                                                    std::to_string(buildings.size()));
  for (std::size_t i = 0; i < buildings.size() && i < 6; ++i)
    platform::appendDiagLine("orvane_z_diag.txt", "  LOD1 #" + std::to_string(i) + " groundZ_npm=" +
                                                      num(buildings[i].baseZ) + " height=" + num(buildings[i].height) +
                                                      " bazaLokalna=" + num(buildings[i].baseZ - zOffset));
  return out;
}

namespace {

void count(SolidsPlacement& out, const MorphOutcome& o) {
  switch (o.attempt) {
    case MorphAttempt::Clean: ++out.clean; break;
    case MorphAttempt::Triangulated: ++out.triangulated; break;
    case MorphAttempt::Soup: ++out.soup; break;
    case MorphAttempt::Failed:
      ++out.skipped;
      ++out.failingCodes[o.code];
      return;
  }
  ++out.created;
}

std::string statsText(const MorphStats& s) {
  return "-- TRIANGULACJA (screen 31 fan) --\nscian=" + std::to_string(s.faces) + " plaska-wypukla(polygon)=" +
         std::to_string(s.planarConvex) + " plaska-wklesla(earClip)=" + std::to_string(s.planarConcave) +
         " nieplaska(earClip)=" + std::to_string(s.nonPlanar) + "\nearClip OK=" + std::to_string(s.earClipOk) +
         " earClip PUSTO->FALLBACK-FAN=" + std::to_string(s.earClipEmpty) + "\nquasi-fan(earOk maxDeg>=60%)=" +
         std::to_string(s.quasiFanBefore) + " (worst n=" + std::to_string(s.worstFanBefore) + ")\n" +
         "quasi-fan PO flipie (n>=7)=" + std::to_string(s.quasiFanAfter) + " (worst n=" +
         std::to_string(s.worstFanAfter) + ") [cel: ~0]\n";
}

std::vector<Point3> localRing(const Lod2Ring& r, double zOffset, const ToLocal& toLocal) {
  std::vector<Point3> out;
  if (r.points.size() != r.z.size()) return out;
  for (std::size_t i = 0; i < r.points.size(); ++i) {
    const Point2 p = toLocal(r.points[i]);
    out.push_back({p.x, p.y, r.z[i] - zOffset});
  }
  return out;
}

}  // namespace

SolidsPlacement placeLod2Buildings(Host& host, const std::vector<BuildingLod2>& buildings, int layer, double zOffset,
                                   const ToLocal& toLocal) {
  SolidsPlacement out;
  for (const BuildingLod2& b : buildings) {
    std::vector<SolidFace> faces;
    for (const Lod2Ring& s : b.surfaces) {
      if (s.points.size() < 3) continue;
      SolidFace f{localRing(s, zOffset, toLocal), {}};
      for (const Lod2Ring& h : s.holes) f.holes.push_back(localRing(h, zOffset, toLocal));
      faces.push_back(std::move(f));
    }
    if (faces.empty()) {
      ++out.skipped;
      ++out.degenerate;
      continue;
    }
    count(out, createMorphWithFallback(host, faces, layer, 1, out.stats, b.id));
  }
  std::string line = "VELDRA LOD2: utworzono " + std::to_string(out.created) + " (czyste: " +
                     std::to_string(out.clean) + ", triangulacja: " + std::to_string(out.triangulated) +
                     ", zupa: " + std::to_string(out.soup) + ", pominieto " + std::to_string(out.skipped) +
                     " (zdegenerowane: " + std::to_string(out.degenerate) + ")";
  for (const auto& [code, n] : out.failingCodes)
    line += "; blad Morph kod " + std::to_string(code) + " x" + std::to_string(n);
  host.writeReportLine(line);
  platform::rewriteDiagFile("orvane_lod2_diag.txt",
                            "pobrano(fetch)=" + std::to_string(buildings.size()) + "\n" + statsText(out.stats));
  return out;
}

namespace {

struct KindInfo {
  const char* layer;        // fixed layer name, or empty
  const char* material;
  double r, g, b;
  const char* report;
  const char* flaggedText;
  const char* diagFile;
  const char* fetchLabel;
};

const KindInfo& info(SolidKind k) {
  static const KindInfo table[] = {
      {"GIS_BUDYNKI_LOD2_CHMURA", "GIS Dach z chmury", 0.6, 0.55, 0.5, "VELDRA dachy z chmury: utworzono ",
       " (oznaczono do korekty: ", "orvane_roofgen_diag.txt", "budynkow(fetch)="},
      {"", "GIS Budynek nMPT", 0.6, 0.55, 0.5, "VELDRA budynki nMPT: utworzono ", " (do korekty: ",
       "orvane_ndsm_diag.txt", "budynkow(fetch)="},
      {"", "GIS Budynek LOD2 rekon", 0.62, 0.6, 0.55, "VELDRA rekonstrukcja LOD2: utworzono ",
       " (oznaczono do korekty: ", "orvane_rekon_diag.txt", "budynkow(fetch)="},
      {"", "GIS Most nMPT", 0.55, 0.55, 0.58, "VELDRA mosty: utworzono ", " (do korekty: ", "orvane_ndsm_diag.txt",
       "mosty(fetch)="},
      {"", "GIS Droga", 0.3, 0.3, 0.32, "VELDRA drogi: utworzono ", " (do korekty: ", "orvane_ndsm_diag.txt",
       "drogi(fetch)="},
  };
  return table[static_cast<int>(k)];
}

}  // namespace

std::string solidLayerName(SolidKind kind) { return info(kind).layer; }

int surfaceMaterialFor(Host& host, const std::string& name, double r, double g, double b) {
  std::vector<Attribute> list;
  if (host.listAttributes(AttributeKind::SurfaceMaterial, list) == kHostOk)
    for (const auto& a : list)
      if (a.name == name) return a.index;
  int index = 0;
  if (host.createAttribute(AttributeKind::SurfaceMaterial, name, r, g, b, index) != kHostOk) return 0;
  return index;
}

SolidsPlacement placeSolids(Host& host, SolidKind kind, const std::vector<SolidInput>& solids, int layer,
                            int fetchedCount) {
  const KindInfo& k = info(kind);
  SolidsPlacement out;
  int normal = -1, correction = -1;   // created on first use
  for (const SolidInput& s : solids) {
    const bool any = std::any_of(s.faces.begin(), s.faces.end(), [](const SolidFace& f) { return f.points.size() >= 3; });
    if (!any) {
      ++out.skipped;
      ++out.degenerate;
      continue;
    }
    int& material = s.needsCorrection ? correction : normal;
    if (material < 0)
      material = s.needsCorrection ? surfaceMaterialFor(host, std::string(k.material) + " - POPRAW", 0.9, 0.1, 0.6)
                                   : surfaceMaterialFor(host, k.material, k.r, k.g, k.b);
    const MorphOutcome o = createMorphWithFallback(host, s.faces, layer, material, out.stats, s.id);
    count(out, o);
    if (o.attempt != MorphAttempt::Failed && s.needsCorrection) ++out.flagged;
  }
  std::string line = k.report + std::to_string(out.created) + k.flaggedText + std::to_string(out.flagged) +
                     "), pominieto " + std::to_string(out.skipped);
  for (const auto& [code, n] : out.failingCodes)
    line += "; blad Morph kod " + std::to_string(code) + " x" + std::to_string(n);
  host.writeReportLine(line);
  platform::appendDiagLine(k.diagFile, k.fetchLabel + std::to_string(fetchedCount));
  std::string stats = statsText(out.stats);
  std::size_t from = 0;
  while (from < stats.size()) {
    const std::size_t nl = stats.find('\n', from);
    platform::appendDiagLine(k.diagFile, stats.substr(from, nl - from));
    from = nl + 1;
  }
  return out;
}

}  // namespace veldra
