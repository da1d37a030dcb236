// Everything one fetch produced, kept by the controller until the next fetch.
#pragma once

#include <string>
#include <vector>

#include "formats/GisFeature.h"

namespace veldra {

struct FetchedData {
  std::vector<GisFeature> features;   // 2D vector features in phase order
  double terrainZOffset = 0.0;        // set by placement
  double cloudTerrainZOffset = 0.0;
  std::string warning;                // all notes of the fetch, joined with one blank

  // Nothing to place.
  bool empty() const { return features.empty(); }
};

// Appends a note to the accumulated notes text, one blank between notes.
inline void appendNote(std::string& notes, const std::string& note) {
  if (note.empty()) return;
  if (!notes.empty()) notes += ' ';
  notes += note;
}

}  // namespace veldra
