// Triangles of the project's 3D elements (meshes, slabs, morphs), shared by the
// DXF and glTF writers. Local project coordinates in metres, z up.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "host/MemoryHost.h"

namespace veldra {

struct TriangleSoup {
  std::vector<Point3> vertices;
  std::vector<std::array<std::uint32_t, 3>> triangles;
  bool empty() const { return triangles.empty(); }
};

// Meshes: bands between consecutive level lines (the lattice rows of a terrain
// patch, or neighbouring contours); with fewer than two lines, the boundary
// ring with its heights. Slabs: top, bottom and sides of the outer ring.
// Morphs: their polygons cut in their planes. Other types give nothing. Degenerate and
// non-finite triangles are left out.
TriangleSoup elementTriangles(const StoredElement& e);

// Ear clipping of a simple polygon (no closing point); indices into `ring`.
std::vector<std::array<std::uint32_t, 3>> triangulateRing(const std::vector<Point2>& ring);

// Numbers of an output format. Elements with a coordinate or size the format cannot hold (or
// that sums of them would overflow) are left out of the file, never written as inf, NaN or null.
enum class NumberFormat { Float32, Float64 };
bool fitsNumberFormat(const StoredElement& e, NumberFormat format);
// How many elements of the project are left out for that reason.
int elementsNotFitting(const ProjectData& p, NumberFormat format);

// Name of a layer index, "0" when unknown.
std::string layerNameOf(const ProjectData& p, int index);

}  // namespace veldra
