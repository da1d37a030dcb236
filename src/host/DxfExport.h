// The project as a DXF drawing (AC1021, UTF-8): one DXF layer per project
// layer, local project coordinates in metres, the georeference in the header's
// custom properties (VELDRA_CRS, VELDRA_SURVEY_E, VELDRA_SURVEY_N,
// VELDRA_SURVEY_H, VELDRA_SURVEY_X0, VELDRA_SURVEY_Y0, VELDRA_ROTATION).
#pragma once

#include <filesystem>
#include <string>

#include "host/MemoryHost.h"

namespace veldra {

// Polylines as LWPOLYLINE, fills as HATCH with their boundary, texts as TEXT
// (height = text size in mm at 1:100), pictures as IMAGE with the image files
// written into "<name>_obrazy" beside the drawing, meshes, slabs and morphs as
// polyface meshes. Written atomically; gives an empty text or the reason.
std::string exportDxf(const ProjectData& project, const std::filesystem::path& out);

}  // namespace veldra
