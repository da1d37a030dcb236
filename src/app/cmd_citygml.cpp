// veldra citygml FILE [--lod 1|2] [--glb OUT] [--dxf OUT]: the buildings of a
// CityGML file placed as solids in an empty project, for checks of the
// reading and of the solids by outside programs. Prints one JSON line.
#include <iostream>
#include <limits>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "formats/CityGml.h"
#include "host/DxfExport.h"
#include "host/GltfExport.h"
#include "host/MemoryHost.h"
#include "place/Solids.h"
#include "platform/Paths.h"

namespace {

int run(const std::vector<std::string>& args) {
  std::string file, glb, dxf;
  int lod = 2;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    const bool hasValue = i + 1 < args.size();
    if (a == "--lod" && hasValue) lod = args[++i] == "1" ? 1 : 2;
    else if (a == "--glb" && hasValue) glb = args[++i];
    else if (a == "--dxf" && hasValue) dxf = args[++i];
    else if (file.empty()) file = a;
    else {
      std::cerr << "nieznany argument: " << a << "\n";
      return 2;
    }
  }
  std::string text;
  if (file.empty() || !veldra::platform::readWholeFile(file, text)) {
    std::cerr << "nie mozna odczytac pliku: " << file << "\n";
    return 1;
  }
  const double inf = std::numeric_limits<double>::infinity();
  const veldra::Bbox all{-inf, -inf, inf, inf};
  veldra::MemoryHost host;
  int layer = 0;
  host.createAttribute(veldra::AttributeKind::Layer, lod == 1 ? "GIS_BUDYNKI_3D" : "GIS_BUDYNKI_LOD2", 0, 0, 0, layer);
  const auto same = [](veldra::Point2 p) { return p; };
  nlohmann::json out;
  host.runUndoableCommand("Import GIS", [&] {
    if (lod == 1) {
      const auto b = veldra::parseLod1Buildings(text, all);
      const auto r = veldra::placeLod1Buildings(host, b, {}, layer, 0, same);
      out = {{"buildings", b.size()}, {"placed", r.placed}, {"failures", r.failures}};
    } else {
      const auto b = veldra::parseLod2Buildings(text, all);
      const auto r = veldra::placeLod2Buildings(host, b, layer, 0, same);
      out = {{"buildings", b.size()}, {"placed", r.created}, {"clean", r.clean}, {"triangulated", r.triangulated},
             {"soup", r.soup}, {"skipped", r.skipped}};
    }
    return veldra::kHostOk;
  });
  const veldra::ProjectData project = host.exportProject();
  if (!glb.empty()) {
    if (std::string e = veldra::exportGlb(project, glb); !e.empty()) {
      std::cerr << e << "\n";
      return 1;
    }
  }
  if (!dxf.empty()) {
    if (std::string e = veldra::exportDxf(project, dxf); !e.empty()) {
      std::cerr << e << "\n";
      return 1;
    }
  }
  std::cout << out.dump() << "\n";
  return 0;
}

const veldra::app::CommandRegistrar reg{"citygml", "FILE [--lod 1|2] [--glb OUT] [--dxf OUT]  place a CityGML file's buildings as solids", &run};

}  // namespace
