// Terrain height at a new project origin, looked up by the "setOrigin" worker.
#pragma once

#include <functional>
#include <optional>

namespace veldra {

// Height in metres above sea level at a PL-1992 point, or none. Runs on a
// worker thread and must not touch the project.
using OriginHeightLookup = std::function<std::optional<double>(double e1992, double n1992)>;

// The national terrain index lookup: first sheet of a +-1 m frame, sampled.
std::optional<double> nationalTerrainHeight(double e1992, double n1992);

// Replaces the lookup (tests); an empty function restores the national one.
void setOriginHeightLookup(OriginHeightLookup lookup);
OriginHeightLookup originHeightLookup();

}  // namespace veldra
