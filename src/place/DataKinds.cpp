#include "place/DataKinds.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <utility>

#include "place/Solids.h"

namespace veldra {

namespace {

bool finitePt(const Point2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }
bool finitePt(const Point3& p) { return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z); }

HostErr layerError(PlacementResult& out, DataType type) {
  out.error = "Nie mozna utworzyc/odnalezc warstwy dla typu: " + typeKey(type);
  return kHostErrRefused;
}

// ---- rasters: pictures, boxes stay in their own system ----------------------

namespace rasters {
void count(const FetchedData& d, std::map<std::string, int>& c) {
  for (const auto& r : d.rasters) ++c[typeKey(r.type) + " (rastr)"];
}
bool holds(const FetchedData& d) { return !d.rasters.empty(); }
void move(const FetchedData& d, const ZoneMove&, PlacementData& out) {
  for (const auto& r : d.rasters) {
    if (std::isfinite(r.minX) && std::isfinite(r.minY) && std::isfinite(r.maxX) && std::isfinite(r.maxY))
      out.rasters.push_back(r);
    else
      ++out.droppedGeometries;
  }
}
HostErr place(Placer& p, const PlacementData& d, const ImportOptions&, PlacementResult& res) {
  for (const auto& r : d.rasters) {
    const int layer = p.layerFor(r.type);
    if (layer == 0) return layerError(res, r.type);
    if (HostErr rc = p.createPicture(r, layer); rc != kHostOk) {
      res.error = "Blad wstawiania rastra (kod " + std::to_string(rc) + ") dla: " + typeKey(r.type);
      return rc;
    }
    ++res.counts[typeKey(r.type) + " (rastr)"];
  }
  return kHostOk;
}
}  // namespace rasters

// ---- 2D vector features -------------------------------------------------------

namespace features {
void count(const FetchedData& d, std::map<std::string, int>& c) {
  for (const auto& f : d.features) ++c[typeKey(f.type)];
}
bool holds(const FetchedData& d) { return !d.features.empty(); }
void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
  out.features.reserve(d.features.size());
  for (const auto& f : d.features) {
    GisFeature g;
    g.type = f.type;
    g.attributes = f.attributes;
    for (const auto& poly : f.polygons) {
      Polygon2 q;
      if (!mv.all(poly.outer, q.outer)) {
        ++out.droppedGeometries;
        continue;
      }
      for (const auto& h : poly.holes) {
        std::vector<Point2> mh;
        if (mv.all(h, mh))
          q.holes.push_back(std::move(mh));
        else
          ++out.droppedGeometries;
      }
      g.polygons.push_back(std::move(q));
    }
    for (const auto& l : f.lines) {
      std::vector<Point2> ml;
      if (mv.all(l, ml))
        g.lines.push_back(std::move(ml));
      else
        ++out.droppedGeometries;
    }
    if (f.hasPoint && finitePt(f.point)) {
      g.point = mv(f.point);
      g.hasPoint = finitePt(g.point);
    }
    out.features.push_back(std::move(g));
  }
}
HostErr place(Placer& p, const PlacementData& d, const ImportOptions&, PlacementResult& res) {
  p.placeFeatures(d.features, res);
  return res.error.empty() ? kHostOk : kHostErrRefused;
}
}  // namespace features

// Patches moved into the zone; a patch with a box that is not finite is left out, and points
// that are not finite are dropped from their patch (each counted).
void movePatches(const std::vector<TerrainPatchSet>& sets, const ZoneMove& mv, std::vector<PlacementData::Patch>& out,
                 int& dropped) {
  for (const auto& set : sets) {
    for (const auto& patch : set.patches) {
      if (!(std::isfinite(patch.minX) && std::isfinite(patch.minY) && std::isfinite(patch.maxX) &&
            std::isfinite(patch.maxY))) {
        ++dropped;
        continue;
      }
      PlacementData::Patch p;
      p.corners = mv.corners(patch.minX, patch.minY, patch.maxX, patch.maxY);
      p.points.reserve(patch.points.size());
      bool droppedPoint = false;
      for (const auto& q : patch.points) {
        if (!finitePt(q)) {
          droppedPoint = true;
          continue;
        }
        const Point2 m = mv({q.x, q.y});
        p.points.push_back(Point3{m.x, m.y, q.z});
      }
      if (droppedPoint) ++dropped;
      out.push_back(std::move(p));
    }
  }
}


// Contour lines and labels moved into the zone.
void moveContours(const ContourSet& set, const ZoneMove& mv, std::vector<Contour>& lines,
                  std::vector<ContourLabel>& labels, int& dropped) {
  for (const auto& c : set.lines) {
    Contour m;
    m.level = c.level;
    m.index = c.index;
    if (!std::isfinite(c.level) || !mv.all(c.points, m.points)) {
      ++dropped;
      continue;
    }
    lines.push_back(std::move(m));
  }
  for (const auto& l : set.labels) {
    if (!std::isfinite(l.x) || !std::isfinite(l.y) || !std::isfinite(l.angle)) {
      ++dropped;
      continue;
    }
    ContourLabel m = l;
    const Point2 q = mv({l.x, l.y});
    m.x = q.x;
    m.y = q.y;
    labels.push_back(std::move(m));
  }
}

// Polylines (pen 2 for index contours) and labels on one layer; refused ones are failures.
// Gives the number of lines and of labels placed.
std::pair<int, int> placeContourLines(Placer& p, int layer, const std::vector<Contour>& contours,
                                      const std::vector<ContourLabel>& labels, bool smooth, PlacementResult& res) {
  int lines = 0, texts = 0;
  for (const auto& c : contours) {
    std::vector<Point2> pts = smooth ? smoothContourLine(c.points) : c.points;
    if (pts.size() < 2) continue;
    std::vector<Point2> l;
    l.reserve(pts.size());
    for (const auto& q : pts) l.push_back(p.local(q));
    if (p.polyline(layer, c.index ? 2 : 1, l, false) == kHostOk)
      ++lines;
    else
      ++res.failures;
  }
  for (const auto& lab : labels) {
    if (p.text(layer, 2, lab.text, p.local({lab.x, lab.y}), 2.0, halfTurn(lab.angle - p.georef().a)) == kHostOk) {
      if (!lab.text.empty()) ++texts;
    } else {
      ++res.failures;
    }
  }
  return {lines, texts};
}

// Meshes of moved patches on the layer of `type`, counted under `label`; a refused mesh undoes
// the import.
HostErr placePatches(Placer& p, const std::vector<PlacementData::Patch>& patches, DataType type, const char* label,
                     double zOffset, PlacementResult& res) {
  for (const auto& patch : patches) {
    const int layer = p.layerFor(type);
    if (layer == 0) return layerError(res, type);
    if (patch.points.empty()) continue;
    if (HostErr rc = p.createMesh(patch, zOffset, layer); rc != kHostOk) {
      res.error = "Blad tworzenia Siatki terenu (kod " + std::to_string(rc) + ")";
      return rc;
    }
    ++res.counts[label];
  }
  return kHostOk;
}


// Count and emptiness of a kind whose data are one list of FetchedData.
template <auto Fetched, const char* Label>
struct SizeOf {
  static void count(const FetchedData& d, std::map<std::string, int>& c) {
    if (!(d.*Fetched).empty()) c[Label] = static_cast<int>((d.*Fetched).size());
  }
  static bool holds(const FetchedData& d) { return !(d.*Fetched).empty(); }
};

// A solid's faces moved in plan into the import's zone, heights kept; false when a corner
// is not finite before or after the move.
bool moveFaces(const std::vector<std::vector<Point3>>& in, const ZoneMove& mv, std::vector<std::vector<Point3>>& out) {
  bool finite = true;
  out.reserve(in.size());
  for (const auto& face : in) {
    std::vector<Point3> f;
    f.reserve(face.size());
    for (const Point3& q : face) {
      const Point2 e = mv(Point2{q.x, q.y});
      finite = finite && finitePt(q) && finitePt(e);
      f.push_back({e.x, e.y, q.z});
    }
    out.push_back(std::move(f));
  }
  return finite;
}

// Faces in the project's local coordinates, heights less the reference.
std::vector<SolidFace> localFaces(Placer& p, const std::vector<std::vector<Point3>>& faces, double zOffset) {
  std::vector<SolidFace> out(faces.size());
  for (std::size_t i = 0; i < faces.size(); ++i) {
    out[i].points.reserve(faces[i].size());
    for (const Point3& q : faces[i]) {
      const Point2 l = p.local(Point2{q.x, q.y});
      out[i].points.push_back({l.x, l.y, q.z - zOffset});
    }
  }
  return out;
}

HostErr placeSolidInputs(Placer& p, SolidKind kind, const std::vector<SolidInput>& inputs, int layer, const char* label,
                         PlacementResult& res) {
  const SolidsPlacement r = placeSolids(p.host(), kind, inputs, layer, static_cast<int>(inputs.size()));
  if (r.created > 0) res.counts[label] = r.created;
  res.failures += r.skipped - r.degenerate;
  return kHostOk;
}


// ---- terrain and water meshes (NMT, cloud): one shape, its member, layer and label --

constexpr char kTerrainLabel[] = "teren (Siatka)";
constexpr char kCloudTerrainLabel[] = "teren z chmury (Siatka)";
constexpr char kCloudWaterLabel[] = "woda z chmury (Siatka)";

template <auto Fetched, auto Placed, DataType Type, const char* Label>
struct PatchKind {
  using Size = SizeOf<Fetched, Label>;
  static void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
    movePatches(d.*Fetched, mv, out.*Placed, out.droppedGeometries);
  }
  static HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
    return placePatches(p, d.*Placed, Type, Label, options.terrainZOffset, res);
  }
  static DataKind row(const char* name) { return {name, Size::count, Size::holds, move, place}; }
};
using TerrainKind = PatchKind<&FetchedData::terrain, &PlacementData::terrain, DataType::Teren, kTerrainLabel>;
using CloudTerrainKind =
    PatchKind<&FetchedData::cloudTerrain, &PlacementData::cloudTerrain, DataType::TerenChmura, kCloudTerrainLabel>;
using CloudWaterKind =
    PatchKind<&FetchedData::water, &PlacementData::cloudWater, DataType::WodaChmura, kCloudWaterLabel>;

// ---- 3D buildings of the national packages: LOD1 slabs, LOD2 morphs ----------------

// Rings moved into the zone; false when a point is not finite.
bool moveRings(const std::vector<std::vector<Point2>>& rings, const ZoneMove& mv,
               std::vector<std::vector<Point2>>& out) {
  out.clear();
  for (const auto& r : rings) {
    out.emplace_back();
    if (!mv.all(r, out.back())) return false;
  }
  return true;
}

namespace lod1 {
void count(const FetchedData& d, std::map<std::string, int>& c) {
  if (!d.buildings3d.empty()) c["budynki3d"] = static_cast<int>(d.buildings3d.size());
}
bool holds(const FetchedData& d) { return !d.buildings3d.empty(); }
void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
  if (!d.placeBuildings3d) return;   // fetched only as outlines for other phases
  for (const auto& b : d.buildings3d) {
    Building3D m;
    m.id = b.id;
    m.baseZ = b.baseZ;
    m.height = b.height;
    if (!std::isfinite(b.baseZ) || !mv.all(b.footprint, m.footprint) || !moveRings(b.holes, mv, m.holes)) {
      ++out.droppedGeometries;
      continue;
    }
    out.buildings3d.push_back(std::move(m));
  }
}
// A LOD1 block that LOD2 also has is left to LOD2.
HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
  if (d.buildings3d.empty()) return kHostOk;
  const int layer = p.layerFor(DataType::Budynki3d);
  if (layer == 0) return layerError(res, DataType::Budynki3d);
  std::set<std::string> lod2Ids;
  for (const auto& b : d.buildingsLod2)
    if (!b.id.empty()) lod2Ids.insert(b.id);
  const Lod1Placement r = placeLod1Buildings(p.host(), d.buildings3d, lod2Ids, layer, options.buildingZOffset,
                                             [&p](Point2 q) { return p.local(q); });
  if (r.placed > 0) res.counts["budynki3d"] = r.placed;
  res.failures += r.failures;
  return kHostOk;
}
}  // namespace lod1

namespace lod2 {
void count(const FetchedData& d, std::map<std::string, int>& c) {
  if (!d.buildingsLod2.empty()) c["budynkilod2"] = static_cast<int>(d.buildingsLod2.size());
}
bool holds(const FetchedData& d) { return !d.buildingsLod2.empty(); }
bool moveRing(const Lod2Ring& r, const ZoneMove& mv, Lod2Ring& out) {
  out.z = r.z;
  if (!mv.all(r.points, out.points)) return false;
  for (const auto& h : r.holes) {
    out.holes.emplace_back();
    if (!moveRing(h, mv, out.holes.back())) return false;
  }
  return true;
}
void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
  for (const auto& b : d.buildingsLod2) {
    BuildingLod2 m;
    m.id = b.id;
    m.roofType = b.roofType;
    for (const auto& s : b.surfaces) {
      Lod2Ring r;
      if (moveRing(s, mv, r))
        m.surfaces.push_back(std::move(r));
      else
        ++out.droppedGeometries;
    }
    out.buildingsLod2.push_back(std::move(m));
  }
}
// Buildings without a usable face are degenerate, not failures.
HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
  if (d.buildingsLod2.empty()) return kHostOk;
  const int layer = p.layerFor(DataType::BudynkiLod2);
  if (layer == 0) return layerError(res, DataType::BudynkiLod2);
  const SolidsPlacement r = placeLod2Buildings(p.host(), d.buildingsLod2, layer, options.buildingZOffset,
                                               [&p](Point2 q) { return p.local(q); });
  if (r.created > 0) res.counts["budynkilod2"] = r.created;
  res.failures += r.skipped - r.degenerate;
  return kHostOk;
}
}  // namespace lod2

// ---- shapes from the surface model: buildings, bridge decks, road ribbons -----------
// Decks and ribbons are open surfaces: morphs of their triangles (or their one
// flat face), as the shape gives them; the host takes a morph that does not
// close.

constexpr char kNdsmBuildingsLabel[] = "budynkindsm";
constexpr char kBridgesLabel[] = "mosty";
constexpr char kRoadsLabel[] = "drogi";

template <auto Fetched, auto Placed, DataType Type, SolidKind Kind, const char* Label>
struct NdsmKind {
  using Size = SizeOf<Fetched, Label>;
  static void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
    for (const NdsmSolid& s : d.*Fetched) {
      NdsmSolid m{s.id, {{}, s.shape.needsCorrection, s.shape.coverage}};
      if (!moveFaces(s.shape.faces, mv, m.shape.faces)) {
        ++out.droppedGeometries;
        continue;
      }
      (out.*Placed).push_back(std::move(m));
    }
  }
  static HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
    const std::vector<NdsmSolid>& solids = d.*Placed;
    if (solids.empty()) return kHostOk;
    const int layer = p.layerFor(Type);
    if (layer == 0) return layerError(res, Type);
    std::vector<SolidInput> inputs;
    inputs.reserve(solids.size());
    for (const NdsmSolid& s : solids)
      inputs.push_back({s.id, localFaces(p, s.shape.faces, options.buildingZOffset), s.shape.needsCorrection});
    return placeSolidInputs(p, Kind, inputs, layer, Label, res);
  }
  static DataKind row(const char* name) { return {name, Size::count, Size::holds, move, place}; }
};
using NdsmBuildingsKind =
    NdsmKind<&FetchedData::ndsmBuildings, &PlacementData::ndsmBuildings, DataType::BudynkiNdsm, SolidKind::NdsmBuildings, kNdsmBuildingsLabel>;
using BridgesKind = NdsmKind<&FetchedData::bridges, &PlacementData::bridges, DataType::Mosty, SolidKind::Bridges, kBridgesLabel>;
using RoadsKind = NdsmKind<&FetchedData::roads, &PlacementData::roads, DataType::Drogi, SolidKind::Roads, kRoadsLabel>;
// ---- solids from LiDAR: roofs from the cloud and reconstructed buildings -------------

// Heights stay absolute until placement takes the height reference off.
void moveCloudSolids(const std::vector<CloudSolid>& in, const ZoneMove& mv, std::vector<CloudSolid>& out,
                     int& dropped) {
  for (const CloudSolid& s : in) {
    CloudSolid m{s.id, {}, s.needsCorrection};
    if (!moveFaces(s.faces, mv, m.faces)) {
      ++dropped;
      continue;
    }
    out.push_back(std::move(m));
  }
}

// The layer of a kind, or 0 with the error set.
int cloudRoofsLayer(Placer& p, PlacementResult& res) {
  const std::string name = solidLayerName(SolidKind::CloudRoofs);
  const int layer = p.layerNamed(name);
  if (layer == 0) res.error = "Nie mozna utworzyc/odnalezc warstwy: " + name;
  return layer;
}
int reconstructedLayer(Placer& p, PlacementResult& res) {
  const int layer = p.layerFor(DataType::BudynkiRekon);
  if (layer == 0) layerError(res, DataType::BudynkiRekon);
  return layer;
}

constexpr char kCloudRoofsLabel[] = "dachychmura";
constexpr char kReconstructedLabel[] = "budynkirekon";

template <auto Fetched, auto Placed, SolidKind Kind, const char* Label, int (*Layer)(Placer&, PlacementResult&)>
struct CloudSolidKind {
  using Size = SizeOf<Fetched, Label>;
  static void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
    moveCloudSolids(d.*Fetched, mv, out.*Placed, out.droppedGeometries);
  }
  static HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
    const std::vector<CloudSolid>& solids = d.*Placed;
    if (solids.empty()) return kHostOk;
    const int layer = Layer(p, res);
    if (layer == 0) return kHostErrRefused;
    std::vector<SolidInput> inputs;
    inputs.reserve(solids.size());
    for (const CloudSolid& s : solids)
      inputs.push_back({s.id, localFaces(p, s.faces, options.buildingZOffset), s.needsCorrection});
    return placeSolidInputs(p, Kind, inputs, layer, Label, res);
  }
  static DataKind row(const char* name) { return {name, Size::count, Size::holds, move, place}; }
};
using CloudRoofsKind = CloudSolidKind<&FetchedData::cloudRoofs, &PlacementData::cloudRoofs, SolidKind::CloudRoofs,
                                      kCloudRoofsLabel, cloudRoofsLayer>;
using ReconstructedKind = CloudSolidKind<&FetchedData::reconstructed, &PlacementData::reconstructed,
                                         SolidKind::ReconstructedLod2, kReconstructedLabel, reconstructedLayer>;

// ---- contour lines from NMT: 2D lines with labels, and the contour mesh -----------

namespace contours {
void count(const FetchedData& d, std::map<std::string, int>& c) {
  if (!d.contours.lines.empty()) c["poziomice (warstwice)"] = static_cast<int>(d.contours.lines.size());
}
bool holds(const FetchedData& d) { return !d.contours.lines.empty(); }
void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
  moveContours(d.contours, mv, out.contours, out.contourLabels, out.droppedGeometries);
}
HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
  if (d.contours.empty()) return kHostOk;
  if (options.contours2d) {
    const int layer = p.layerFor(DataType::Poziomice2d);
    if (layer == 0) return layerError(res, DataType::Poziomice2d);
    const auto [lines, labels] = placeContourLines(p, layer, d.contours, d.contourLabels, options.smoothContours, res);
    if (lines > 0) res.counts["poziomice2d"] = lines;
    if (labels > 0) res.counts["podpisy rzednych"] += labels;
  }
  if (options.contours3d) {
    const int layer = p.layerFor(DataType::Poziomice3d);
    if (layer == 0) return layerError(res, DataType::Poziomice3d);
    if (p.createMeshFromContours(d.contours, options.terrainZOffset, layer, d.frameCorners) != kHostOk) {
      ++res.failures;
      res.notices.push_back("Poziomice: nie udalo sie utworzyc Siatki 3D z warstwic.");
    } else if (p.lastMeshCreated()) {
      res.counts["poziomice3d"] = 1;
    }
  }
  return kHostOk;
}
}  // namespace contours

// ---- contour lines from LiDAR ------------------------------------------------------


// Lines with labels ("poziomicechmura2d", labels joining "podpisy rzednych") and the contour
// mesh ("poziomicechmura3d"); the page asks for both with one key.
namespace cloud_contours {
void count(const FetchedData& d, std::map<std::string, int>& c) {
  if (!d.cloudContours.lines.empty())
    c["poziomice z chmury (warstwice)"] = static_cast<int>(d.cloudContours.lines.size());
}
bool holds(const FetchedData& d) { return !d.cloudContours.lines.empty(); }
void move(const FetchedData& d, const ZoneMove& mv, PlacementData& out) {
  moveContours(d.cloudContours, mv, out.cloudContours, out.cloudContourLabels, out.droppedGeometries);
}
HostErr place(Placer& p, const PlacementData& d, const ImportOptions& options, PlacementResult& res) {
  if (d.cloudContours.empty()) return kHostOk;
  const int layer2d = p.layerFor(DataType::PoziomiceChmura2d);
  if (layer2d == 0) return layerError(res, DataType::PoziomiceChmura2d);
  const auto [lines, labels] =
      placeContourLines(p, layer2d, d.cloudContours, d.cloudContourLabels, options.smoothContours, res);
  if (lines > 0) res.counts["poziomicechmura2d"] = lines;
  if (labels > 0) res.counts["podpisy rzednych"] += labels;
  const int layer3d = p.layerFor(DataType::PoziomiceChmura3d);
  if (layer3d == 0) return layerError(res, DataType::PoziomiceChmura3d);
  if (p.createMeshFromContours(d.cloudContours, options.terrainZOffset, layer3d, d.frameCorners) != kHostOk) {
    ++res.failures;
    res.notices.push_back("Poziomice z chmury: nie udalo sie utworzyc Siatki 3D.");
  } else if (p.lastMeshCreated()) {
    res.counts["poziomicechmura3d"] = 1;
  }
  return kHostOk;
}
}  // namespace cloud_contours

}  // namespace

ZoneMove::ZoneMove(const Bbox& frame, int zone)
    : affine_(makeLocalAffine(frame.minX, frame.minY, frame.maxX, frame.maxY, zone)) {}

Point2 ZoneMove::operator()(Point2 p) const {
  const auto [e, n] = applyLocalAffine(affine_, p.x, p.y);
  return Point2{e, n};
}

bool ZoneMove::all(const std::vector<Point2>& pts, std::vector<Point2>& out) const {
  if (!std::all_of(pts.begin(), pts.end(), [](const Point2& p) { return finitePt(p); })) return false;
  out.clear();
  out.reserve(pts.size());
  for (const auto& p : pts) out.push_back((*this)(p));
  return std::all_of(out.begin(), out.end(), [](const Point2& p) { return finitePt(p); });
}

std::array<Point2, 4> ZoneMove::corners(double minX, double minY, double maxX, double maxY) const {
  const ZoneMove& mv = *this;
  return {mv({minX, minY}), mv({maxX, minY}), mv({maxX, maxY}), mv({minX, maxY})};
}

const std::vector<DataKind>& dataKinds() {
  static const std::vector<DataKind> kinds = {
      {"rastry", rasters::count, rasters::holds, rasters::move, rasters::place},
      {"wektory", features::count, features::holds, features::move, features::place},
      TerrainKind::row("teren"),
      CloudTerrainKind::row("teren z chmury"),
      CloudWaterKind::row("woda z chmury"),
      {"budynki LOD1", lod1::count, lod1::holds, lod1::move, lod1::place},
      {"budynki LOD2", lod2::count, lod2::holds, lod2::move, lod2::place},
      NdsmBuildingsKind::row("budynki z nMPT"),
      BridgesKind::row("mosty"),
      RoadsKind::row("drogi"),
      CloudRoofsKind::row("dachy z chmury"),
      ReconstructedKind::row("rekonstrukcja LOD2"),
      {"poziomice", contours::count, contours::holds, contours::move, contours::place},
      {"poziomice z chmury", cloud_contours::count, cloud_contours::holds, cloud_contours::move,
       cloud_contours::place},
  };
  return kinds;
}

std::map<std::string, int> fetchCounts(const FetchedData& data) {
  std::map<std::string, int> counts;
  for (const auto& kind : dataKinds()) kind.count(data, counts);
  return counts;
}

bool holdsNothing(const FetchedData& data) {
  return std::none_of(dataKinds().begin(), dataKinds().end(), [&](const DataKind& k) { return k.holdsData(data); });
}

PlacementData moveToZone(const FetchedData& data, const Bbox& frame, int zone) {
  PlacementData out;
  const ZoneMove mv(frame, zone);
  for (const auto& kind : dataKinds()) kind.move(data, mv, out);
  out.frameCorners = mv.corners(frame.minX, frame.minY, frame.maxX, frame.maxY);
  return out;
}

}  // namespace veldra
