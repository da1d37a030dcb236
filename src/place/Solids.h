// Solids in the project: LOD1 blocks as slabs, and LOD2 buildings and every
// other solid (roofs from the cloud, nMPT buildings, reconstructed buildings,
// bridges, roads) as morphs built face by face. Callers hand faces already in
// local project coordinates with heights relative to the height reference.
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/CityGml.h"
#include "hostapi/Host.h"

namespace veldra {

struct SolidFace {
  std::vector<Point3> points;               // one ring, closed or open
  std::vector<std::vector<Point3>> holes;   // inner rings of the same face
};

// Counters of morph attempts, for the diagnostics file.
struct MorphStats {
  int faces = 0, planarConvex = 0, planarConcave = 0, nonPlanar = 0;
  int earClipOk = 0, earClipEmpty = 0;
  int quasiFanBefore = 0, quasiFanAfter = 0;
  int worstFanBefore = 0, worstFanAfter = 0;   // largest vertex count of a quasi-fan face
};

struct MorphOptions {
  bool triangulateAll = false;
  bool shareVertices = true;
};

// One morph from the faces. Faces are cleaned first: a closing point equal to
// the first, repeated consecutive points and non-finite points are dropped,
// and faces left with fewer than 3 points or no area are skipped.
HostErr createMorph(Host& host, const std::vector<SolidFace>& faces, int layer, const MorphOptions& options,
                    int material, MorphStats& stats, const std::string& id);

enum class MorphAttempt { Clean, Triangulated, Soup, Failed };
struct MorphOutcome {
  MorphAttempt attempt = MorphAttempt::Failed;
  HostErr code = kHostOk;   // the last host code when all attempts failed
};
// Clean (shared vertices), then every face triangulated, then triangulated
// without shared vertices; the first the host accepts.
MorphOutcome createMorphWithFallback(Host& host, const std::vector<SolidFace>& faces, int layer, int material,
                                     MorphStats& stats, const std::string& id);

// A slab from its local footprint (and holes): bottom level and thickness.
HostErr createSlab(Host& host, const std::vector<Point2>& footprint, const std::vector<std::vector<Point2>>& holes,
                   double bottom, double thickness, int layer, const std::string& id);

// The height reference of every solid: the terrain's offset when terrain was
// fetched; else the survey point's height when it is a number other than 0;
// else the stored anchor (0 when unset).
double buildingZOffset(bool terrainFetched, double terrainZOffset, bool surveyHeightRead, double surveyHeight,
                       double zAnchor);

// Moves a PL-1992 point to local project coordinates.
using ToLocal = std::function<Point2(Point2)>;

struct Lod1Placement {
  int placed = 0, duplicates = 0, failures = 0;
};
// Skips buildings whose id is among `lod2Ids`; writes the report line and
// "orvane_z_diag.txt" lines.
Lod1Placement placeLod1Buildings(Host& host, const std::vector<Building3D>& buildings,
                                 const std::set<std::string>& lod2Ids, int layer, double zOffset,
                                 const ToLocal& toLocal);

struct SolidsPlacement {
  int created = 0, clean = 0, triangulated = 0, soup = 0, skipped = 0, degenerate = 0, flagged = 0;
  std::map<HostErr, int> failingCodes;
  MorphStats stats;
};
SolidsPlacement placeLod2Buildings(Host& host, const std::vector<BuildingLod2>& buildings, int layer, double zOffset,
                                   const ToLocal& toLocal);

// The kinds of solids other phases produce; each has its layer, its two
// surface materials and its report and diagnostics texts.
enum class SolidKind { CloudRoofs, NdsmBuildings, ReconstructedLod2, Bridges, Roads };

struct SolidInput {
  std::string id;
  std::vector<SolidFace> faces;   // local coordinates, heights relative to the reference
  bool needsCorrection = false;   // marked by its source: gets the "- POPRAW" material
};

// `layer` comes from the caller (the layer catalogue; roofs from the cloud
// use their own named layer, see solidLayerName). Materials are found by name
// or created on first use. Writes the report line and the diagnostics file.
SolidsPlacement placeSolids(Host& host, SolidKind kind, const std::vector<SolidInput>& solids, int layer,
                            int fetchedCount);
// Fixed layer name of a kind, empty when the layer comes from the catalogue.
std::string solidLayerName(SolidKind kind);

// Index of the surface material `name`, created with the colour when missing; 0 on failure.
int surfaceMaterialFor(Host& host, const std::string& name, double r, double g, double b);

}  // namespace veldra
