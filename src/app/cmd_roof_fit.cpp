// veldra roof-fit --points P.xyz --footprint F.xyz [--ground Z] [--type NAME] [--glb OUT]:
// one building's roof fitted to its points (the reconstruction's own steps), printed as
// one JSON line; --type builds the named primitive from the fitted parameters instead,
// --glb writes the solid (each closed part on a layer of its own, so that outside
// checkers judge every part by itself). The ground is --ground, else the footprint's height
// (its first corner) when every corner has one, else the reconstruction's own rule: a low
// order statistic (2 %) of the points' heights.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "host/GltfExport.h"
#include "host/MemoryHost.h"
#include "lod2fit/MeshBuilding.h"
#include "lod2fit/Reconstruction.h"
#include "lod2fit/RoofPrimitive.h"
#include "lod2fit/XyzText.h"
#include "place/Solids.h"
#include "platform/InputFile.h"

namespace {

using namespace veldra::lod2fit;

// Plane search costs grow with the points: two million take seconds, more would only wait.
constexpr std::uint64_t kMaxInputBytes = 256ull << 20;
constexpr std::size_t kMaxPoints = 2'000'000;

int usageError(const std::string& why) {
  std::cerr << "roof-fit: " << why << "\n";
  return 2;
}

bool readXyz(const std::string& path, XyzHeights heights, std::size_t maxPoints, XyzText& out, std::string& why) {
  std::string text;
  if (std::string e = veldra::platform::readRegularFile(path, kMaxInputBytes, text); !e.empty()) {
    why = "nie mozna odczytac pliku " + path + ": " + e;
    return false;
  }
  out = parseXyzText(text, heights, maxPoints);
  if (!out.error.empty()) why = path + ": " + out.error;
  return out.error.empty();
}

// Vertices joined by faces form one closed part.
std::vector<int> partOfFace(const RoofMesh& mesh, int& parts) {
  std::vector<std::size_t> up(mesh.vertices.size());
  for (std::size_t i = 0; i < up.size(); ++i) up[i] = i;
  const auto root = [&](std::size_t v) {
    while (up[v] != v) v = up[v] = up[up[v]];
    return v;
  };
  for (const auto& f : mesh.faces)
    for (std::size_t i = 1; i < f.size(); ++i) up[root(f[i])] = root(f[0]);
  std::vector<int> number(mesh.vertices.size(), -1), out;
  parts = 0;
  for (const auto& f : mesh.faces) {
    int& n = number[root(f[0])];
    if (n < 0) n = parts++;
    out.push_back(n);
  }
  return out;
}

std::string writeGlb(const RoofMesh& mesh, const std::string& path) {
  veldra::MemoryHost host;
  int parts = 0;
  const std::vector<int> part = partOfFace(mesh, parts);
  std::string error;
  host.runUndoableCommand("Import GIS", [&]() -> veldra::HostErr {
    for (int p = 0; p < parts; ++p) {
      int layer = 0;
      if (host.createAttribute(veldra::AttributeKind::Layer, "GIS_DACH_" + std::to_string(p + 1), 0, 0, 0, layer) !=
          veldra::kHostOk)
        return 1;
      std::vector<veldra::SolidFace> faces;
      for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
        if (part[f] != p) continue;
        veldra::SolidFace face;
        for (const auto i : mesh.faces[f]) face.points.push_back(mesh.vertices[i]);
        faces.push_back(std::move(face));
      }
      veldra::MorphStats stats;
      if (const auto code = veldra::createMorph(host, faces, layer, {}, 0, stats, "roof-fit"); code != veldra::kHostOk) {
        error = "bryla odrzucona przez host (kod " + std::to_string(code) + ")";
        return static_cast<int>(code);
      }
    }
    return veldra::kHostOk;
  });
  if (!error.empty()) return error;
  return veldra::exportGlb(host.exportProject(), path);
}

double parseNumber(const std::string& text, bool& ok) {
  double v = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  ok = ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(v);
  return v;
}

int run(const std::vector<std::string>& args) {
  std::string pointsPath, footprintPath, type, glb;
  double ground = 0;
  bool groundGiven = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    if (i + 1 >= args.size()) return usageError("brak wartosci lub nieznany argument: " + a);
    const std::string& v = args[++i];
    if (a == "--points") pointsPath = v;
    else if (a == "--footprint") footprintPath = v;
    else if (a == "--type") type = v;
    else if (a == "--glb") glb = v;
    else if (a == "--ground") {
      bool ok = false;
      ground = parseNumber(v, ok);
      if (!ok) return usageError("--ground: to nie jest liczba skonczona: " + v);
      groundGiven = true;
    } else return usageError("nieznany argument: " + a);
  }
  if (pointsPath.empty() || footprintPath.empty()) return usageError("wymagane --points i --footprint");
  if (!type.empty()) {
    const auto& all = roofPrimitives();
    if (std::none_of(all.begin(), all.end(), [&](const RoofPrimitive* p) { return type == p->name(); }))
      return usageError("nieznany typ dachu: " + type);
  }
  XyzText points, footprint;
  std::string why;
  if (!readXyz(pointsPath, XyzHeights::Required, kMaxPoints, points, why)) return usageError(why);
  if (!readXyz(footprintPath, XyzHeights::Optional, kMaxFootprintCorners + 1, footprint, why)) return usageError(why);
  ReconstructionInput input;
  input.points = std::move(points.points);
  for (const auto& p : footprint.points) input.footprint.push_back({p.x, p.y});
  if (input.footprint.size() < 3) return usageError("obrys ma mniej niz 3 wierzcholki");
  if (!usableFootprint(input.footprint))
    return usageError("obrys nie jest prostym wielokatem (powtorzone, wspolliniowe lub przecinajace sie boki)");
  if (groundGiven) input.groundZ = ground;
  else if (footprint.allHaveHeights) input.groundZ = footprint.points.front().z;
  else if (!input.points.empty()) {
    std::vector<double> z;
    for (const auto& p : input.points) z.push_back(p.z);
    std::sort(z.begin(), z.end());
    input.groundZ = z[static_cast<std::size_t>(static_cast<double>(z.size() - 1) * 0.02)];
  }
  input.forcedType = type;
  const RoofFitResult r = reconstructBuilding(input);
  const RoofParams& p = r.params;
  const nlohmann::json out{
      {"type", r.type},
      {"classified", r.classifiedType},
      {"confidence", r.confidence},
      {"params",
       {{"groundZ", p.groundZ}, {"eaveZ", p.eaveZ}, {"ridgeZ", p.ridgeZ}, {"axisX", p.axisX}, {"axisY", p.axisY},
        {"hipInset", p.hipInset}, {"breakHeightFraction", p.breakHeightFraction},
        {"breakInsetFraction", p.breakInsetFraction}, {"halfHipFraction", p.halfHipFraction},
        {"dormerCount", p.dormerCount}, {"dormerWidth", p.dormerWidth}, {"reserved", p.reserved},
        {"segments", p.segments}}},
      {"meanDistance", r.meanDistance},
      {"needsCorrection", r.needsCorrection},
      {"faces", r.mesh.faces.size()},
      {"points", input.points.size()}};
  if (!glb.empty()) {
    if (r.mesh.faces.empty()) return usageError("brak bryly do zapisania");
    if (std::string e = writeGlb(r.mesh, glb); !e.empty()) {
      std::cerr << "roof-fit: " << e << "\n";
      return 1;
    }
  }
  std::cout << out.dump(-1, ' ', true) << "\n";
  return 0;
}

const veldra::app::CommandRegistrar reg{
    "roof-fit", "--points P.xyz --footprint F.xyz [--ground Z] [--type NAME] [--glb OUT]  fit and build one building's roof",
    &run};

}  // namespace
