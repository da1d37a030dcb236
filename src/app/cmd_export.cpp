// `veldra export --project FILE [--dxf OUT.dxf] [--gltf OUT.glb]`: the project
// as a DXF drawing and/or a binary glTF model.
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "host/DxfExport.h"
#include "host/ExportGeometry.h"
#include "host/GltfExport.h"
#include "host/MemoryHost.h"
#include "host/ProjectFile.h"

namespace veldra::app {
namespace {

int usage() {
  std::cerr << "usage: veldra export --project FILE [--dxf OUT.dxf] [--gltf OUT.glb]\n";
  return 2;
}

int runExport(const std::vector<std::string>& args) {
  std::string project, dxf, gltf;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (i + 1 >= args.size()) return usage();
    if (args[i] == "--project")
      project = args[++i];
    else if (args[i] == "--dxf")
      dxf = args[++i];
    else if (args[i] == "--gltf")
      gltf = args[++i];
    else
      return usage();
  }
  if (project.empty() || (dxf.empty() && gltf.empty())) return usage();
  MemoryHost host;
  if (std::string err = loadProject(project, host); !err.empty()) {
    std::cerr << "veldra: " << err << "\n";
    return 1;
  }
  const ProjectData data = host.exportProject();
  int status = 0;
  const auto noteLeftOut = [&](NumberFormat format, const char* name) {
    if (const int n = elementsNotFitting(data, format); n > 0)
      std::cerr << "veldra: uwaga: " << name << ": pominieto elementy o wspolrzednych poza zakresem liczb formatu: "
                << n << "\n";
  };
  if (!dxf.empty()) {
    noteLeftOut(NumberFormat::Float64, "DXF");
    if (std::string err = exportDxf(data, dxf); !err.empty()) {
      std::cerr << "veldra: DXF " << dxf << ": " << err << "\n";
      status = 1;
    }
  }
  if (!gltf.empty()) {
    noteLeftOut(NumberFormat::Float32, "glTF");
    if (std::string err = exportGlb(data, gltf); !err.empty()) {
      std::cerr << "veldra: glTF " << gltf << ": " << err << "\n";
      status = 1;
    }
  }
  return status;
}

const CommandRegistrar reg{"export", "--project FILE [--dxf OUT.dxf] [--gltf OUT.glb]  the project as DXF and/or GLB",
                           &runExport};

}  // namespace
}  // namespace veldra::app
