// Everything one fetch produced, kept by the controller until the next fetch.
#pragma once

#include <string>
#include <vector>

#include "formats/GisFeature.h"
#include "formats/RasterTile.h"
#include "terrain/Contours.h"
#include "terrain/TerrainPatches.h"

namespace veldra {

struct FetchedData {
  std::vector<GisFeature> features;    // 2D vector features in phase order
  std::vector<RasterTile> rasters;
  std::vector<TerrainPatchSet> terrain;   // grids built from NMT, one set per fetch of the frame
  double terrainZOffset = 0.0;         // set by placement
  std::string terrainNote;
  double cloudTerrainZOffset = 0.0;
  std::vector<Contour> contours;       // from NMT
  std::vector<ContourLabel> contourLabels;
  std::string contoursNote;
  std::string warning;                 // all notes of the fetch, joined with one blank

  // Nothing to place.
  bool empty() const { return features.empty() && rasters.empty() && terrain.empty() && contours.empty(); }
};

// Appends a note to the accumulated notes text, one blank between notes.
inline void appendNote(std::string& notes, const std::string& note) {
  if (note.empty()) return;
  if (!notes.empty()) notes += ' ';
  notes += note;
}

}  // namespace veldra
