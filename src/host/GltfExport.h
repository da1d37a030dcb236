// The project's 3D elements as one binary glTF 2.0 file.
#pragma once

#include <filesystem>
#include <string>

#include "host/MemoryHost.h"

namespace veldra {

// One node per layer holding that layer's triangles, under a root node whose
// translation is the file's origin, so vertex floats stay small. glTF is y-up:
// project (x, y, z) becomes (x, z, -y). The georeference goes into the asset's
// extras. Written atomically; gives an empty text or the reason.
std::string exportGlb(const ProjectData& project, const std::filesystem::path& out);

// The GLB bytes themselves.
std::string glbBytes(const ProjectData& project);

}  // namespace veldra
