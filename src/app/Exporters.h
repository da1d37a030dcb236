// DXF and glTF export of the stand-in host's project, when this build has the
// exporters (they are optional for the commands that offer them).
#pragma once

#include <filesystem>
#include <string>

#include "host/MemoryHost.h"

#if __has_include("host/DxfExport.h") && __has_include("host/GltfExport.h")
#include "host/DxfExport.h"
#include "host/GltfExport.h"
#define VELDRA_HAVE_EXPORTERS 1
#else
#define VELDRA_HAVE_EXPORTERS 0
#endif

namespace veldra::app {

inline constexpr bool kHaveExporters = VELDRA_HAVE_EXPORTERS != 0;

// `format` is "DXF" or "glTF". Gives an empty text or the reason.
inline std::string exportProjectAs(const MemoryHost& host, const std::string& format,
                                   const std::filesystem::path& out) {
#if VELDRA_HAVE_EXPORTERS
  const ProjectData data = host.exportProject();
  if (format == "DXF") return exportDxf(data, out);
  if (format == "glTF") return exportGlb(data, out);
  return "unknown export format " + format;
#else
  (void)host;
  (void)out;
  return format + " export is not available in this build";
#endif
}

}  // namespace veldra::app
