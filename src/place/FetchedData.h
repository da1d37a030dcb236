// Everything one fetch produced, kept by the import controller until the next
// fetch. Each member is one kind of data; place/DataKinds.cpp describes every
// kind once (its counts, whether it holds anything, its move into the
// project's zone and its placement), so a new kind is a member here and one
// row there.
#pragma once

#include <string>
#include <vector>

#include "formats/CityGml.h"
#include "formats/GisFeature.h"
#include "formats/RasterTile.h"
#include "geo/Point.h"
#include "terrain/ContourRecipe.h"
#include "terrain/NdsmModel.h"
#include "terrain/TerrainPatches.h"

namespace veldra {

// A shape from the surface model and the name its element carries (the
// outline's building identifier, the way's name).
struct NdsmSolid {
  std::string id;
  NdsmShape shape;
};

// A solid built over a LOD1 outline from LiDAR points: faces in PL-1992 with
// absolute heights, and whether its source marked it for correction.
struct CloudSolid {
  std::string id;
  std::vector<std::vector<Point3>> faces;
  bool needsCorrection = false;
};

struct FetchedData {
  std::vector<GisFeature> features;       // 2D vector features in phase order
  std::vector<RasterTile> rasters;
  std::vector<TerrainPatchSet> terrain;   // grids built from NMT, one set per fetch of the frame
  ContourSet contours;                    // from NMT
  std::vector<TerrainPatchSet> cloudTerrain;   // from LiDAR ground points
  std::vector<TerrainPatchSet> water;          // flat water surfaces from LiDAR
  ContourSet cloudContours;               // from the LiDAR terrain
  // LOD1 blocks of the national 3D packages; also the outlines other phases
  // build on, so they are kept when only those phases asked for them.
  std::vector<Building3D> buildings3d;
  bool placeBuildings3d = false;          // "budynki3d" itself was asked for
  std::vector<BuildingLod2> buildingsLod2;
  // From the surface model: one per LOD1 outline, one per OpenStreetMap way.
  std::vector<NdsmSolid> ndsmBuildings;
  std::vector<NdsmSolid> bridges;
  std::vector<NdsmSolid> roads;
  std::vector<CloudSolid> cloudRoofs;      // one per LOD1 outline, "dachychmura"
  std::vector<CloudSolid> reconstructed;   // one per reconstructed outline, "budynkirekon"
  std::string warning;                    // all notes of the fetch, joined with one blank
};

// Appends a note to the accumulated notes text, one blank between notes.
inline void appendNote(std::string& notes, const std::string& note) {
  if (note.empty()) return;
  if (!notes.empty()) notes += ' ';
  notes += note;
}

}  // namespace veldra
