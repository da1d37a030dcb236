// The project's drawing as a compact JSON document for the host window's plan
// view: every 2D element (and the outline of every slab) in project
// coordinates, with its identifier, layer, type and identifier text, plus the
// layer table and the survey point.
//
// Shape: {"revision", "layers": [{"index", "name"}], "survey": {"x", "y"},
//         "bounds": [xmin, ymin, xmax, ymax] or null, "elements": [...]} where
// each element has "id", "layer", "type", "info" and, by type:
//   polyline: "pen", "closed", "parts" [[x0, y0, x1, y1, ...], ...] (arcs as
//             short chords)
//   fill / slab: "pen", "rings" [[x0, y0, ...], ...] (first ring outer)
//   text: "x", "y", "angle" (radians), "size" (mm on paper), "text"
//   picture: "x", "y", "w", "h", "angle"
// and "rgb" [r, g, b] (0..1) when the element carries a true colour.
#pragma once

#include <cstdint>
#include <string>

#include "host/MemoryHost.h"

namespace veldra {

std::string planJson(const ProjectData& project, std::uint64_t revision);

}  // namespace veldra
