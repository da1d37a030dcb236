// The downloaded point cloud as the 3D view draws it, in the frame of the model's GLB: project
// coordinates with glTF's y-up axes ((x, y, z) becomes (x, z, -y)), relative to an origin in
// whole metres so the stored floats stay small.
//
// Layout (little-endian): "VCLD", u32 version 1, u32 point count n, u32 flags (bit 0: colours),
// f64 origin x, y, z (y-up); then n x 3 float32 positions; then n x 3 colour bytes when flagged.
#pragma once

#include <string>

#include "cloud/E57Reader.h"
#include "place/ProjectGeoref.h"

namespace veldra::app {

// How the cloud's own coordinates reach the project's. The cloud palette puts the cloud's
// origin at the project's survey point (easting, northing and height) when the project has
// one, so only the survey point's rotation and project position remain to apply.
struct CloudPlacement {
  ProjectGeoref georef;  // not valid: the cloud's coordinates are the project's
};
CloudPlacement cloudPlacementOf(Host& host);

std::string cloudViewBytes(const E57Cloud& cloud, const CloudPlacement& placement);

}  // namespace veldra::app
