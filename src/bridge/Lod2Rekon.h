// LOD2 reconstruction over the LOD1 outlines: per outline the nearby points, the ground
// below them, the building's own points, reconstructBuilding and its solid with every
// face turned outward; statistics, the summary, and the diagnostics in "rekon_cloud/"
// inside the diagnostics folder (a point file and an outline file for the first 12
// buildings, the index of the first 20).
#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "cloud/CloudPoint.h"
#include "formats/CityGml.h"
#include "lod2fit/RoofTypes.h"
#include "place/FetchedData.h"

namespace veldra {

struct RekonOutcome {
  std::vector<CloudSolid> solids;
  int ok = 0;                           // reconstructed without the correction flag
  std::map<std::string, int> types;     // type name -> buildings
  double roofMin = 0.0, roofSum = 0.0, roofMax = 0.0;   // ridgeZ - eaveZ
  double groundSum = 0.0;
  std::vector<std::string> indexLines;
};

using RekonProgress = std::function<void(int done, int total, const std::string& label)>;

struct RekonOptions {
  bool writeDiagnostics = true;
};

RekonOutcome reconstructOutlines(const std::vector<Building3D>& outlines, const std::vector<CloudPoint>& points,
                                 const RekonProgress& progress, const RekonOptions& options = {});

// "Rekonstrukcja LOD2: " + tiles, points, buildings, the Ok count, the types and the statistics.
std::string rekonSummary(int tiles, std::size_t points, const RekonOutcome& outcome);

// Faces joined by shared vertices form parts; a face whose Newell normal points towards
// its part's centre is reversed.
void orientFacesByParts(lod2fit::RoofMesh& mesh);

}  // namespace veldra
