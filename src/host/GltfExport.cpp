#include "host/GltfExport.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>

#include <nlohmann/json.hpp>

#include "host/ExportGeometry.h"
#include "platform/Paths.h"

namespace veldra {

using nlohmann::json;

namespace {

void put32(std::string& s, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) s.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

void pad(std::string& s, char c) {
  while (s.size() % 4) s.push_back(c);
}

}  // namespace

std::string glbBytes(const ProjectData& project) {
  // Triangles per layer, in layer order; slabs and morphs each on their own,
  // named by their identifier and coloured by their surface material, so that
  // one building can be found.
  struct Group {
    std::string name;
    TriangleSoup soup;
    int material = 0;   // surface material index, 0: none
    int layer = 0;      // for viewers that show or hide layers
  };
  std::map<int, Group> byLayer;
  std::vector<Group> solids;
  double lo[3] = {std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
                  std::numeric_limits<double>::infinity()};
  double hi[3] = {-lo[0], -lo[1], -lo[2]};
  for (const auto& se : project.elements) {
    if (!fitsNumberFormat(se, NumberFormat::Float32)) continue;
    TriangleSoup t = elementTriangles(se);
    if (t.empty()) continue;
    const int type = se.element.typeCode;
    Group* g = nullptr;
    if (type == static_cast<int>(ElementType::Slab) || type == static_cast<int>(ElementType::Morph)) {
      solids.push_back(Group{se.info.empty() ? layerNameOf(project, se.element.layer) : se.info, {},
                             se.element.surfaceMaterial, se.element.layer});
      g = &solids.back();
    } else {
      g = &byLayer[se.element.layer];
      g->name = layerNameOf(project, se.element.layer);
      g->layer = se.element.layer;
    }
    TriangleSoup& dst = g->soup;
    const std::uint32_t base = static_cast<std::uint32_t>(dst.vertices.size());
    for (const auto& v : t.vertices) {
      dst.vertices.push_back(v);
      lo[0] = std::min(lo[0], v.x), hi[0] = std::max(hi[0], v.x);
      lo[1] = std::min(lo[1], v.y), hi[1] = std::max(hi[1], v.y);
      lo[2] = std::min(lo[2], v.z), hi[2] = std::max(hi[2], v.z);
    }
    for (const auto& tri : t.triangles) dst.triangles.push_back({tri[0] + base, tri[1] + base, tri[2] + base});
  }
  std::vector<const Group*> groups;
  for (const auto& [layer, g] : byLayer) groups.push_back(&g);
  for (const auto& g : solids) groups.push_back(&g);
  // The origin: the centre of everything, in whole metres.
  double origin[3] = {0, 0, 0};
  if (!groups.empty())
    for (int i = 0; i < 3; ++i) origin[i] = std::round((lo[i] + hi[i]) / 2);

  const GeoLocation& g = project.geoLocation;
  json gltf;
  gltf["asset"] = {{"version", "2.0"},
                   {"generator", "veldra"},
                   {"extras",
                    {{"crsName", g.crsName},
                     {"surveyEasting", g.surveyEasting},
                     {"surveyNorthing", g.surveyNorthing},
                     {"surveyHeight", g.surveyHeight},
                     {"surveyX0", g.surveyX0},
                     {"surveyY0", g.surveyY0},
                     {"xAxis", {g.xAxisAbscissa, g.xAxisOrdinate}},
                     {"origin", {origin[0], origin[1], origin[2]}},
                     {"units", "m"}}}};
  json nodes = json::array();
  json meshes = json::array();
  json accessors = json::array();
  json views = json::array();
  std::string bin;
  json children = json::array();
  nodes.push_back(json{{"name", "VELDRA"}, {"translation", {origin[0], origin[2], -origin[1]}}});
  json materials = json::array();
  std::map<int, std::size_t> materialOf;   // surface material index -> glTF material
  for (const Group* group : groups) {
    const TriangleSoup& soup = group->soup;
    // Positions.
    const std::size_t posOffset = bin.size();
    float mn[3] = {std::numeric_limits<float>::max(), std::numeric_limits<float>::max(),
                   std::numeric_limits<float>::max()};
    float mx[3] = {-mn[0], -mn[1], -mn[2]};
    // Only vertices used by a triangle are written.
    std::vector<std::int64_t> remap(soup.vertices.size(), -1);
    std::uint32_t used = 0;
    for (const auto& t : soup.triangles)
      for (std::uint32_t i : t)
        if (remap[i] < 0) remap[i] = used++;
    std::vector<float> pos(static_cast<std::size_t>(used) * 3);
    for (std::size_t i = 0; i < soup.vertices.size(); ++i) {
      if (remap[i] < 0) continue;
      const Point3& v = soup.vertices[i];
      const float f[3] = {static_cast<float>(v.x - origin[0]), static_cast<float>(v.z - origin[2]),
                          static_cast<float>(-(v.y - origin[1]))};
      for (int k = 0; k < 3; ++k) {
        pos[static_cast<std::size_t>(remap[i]) * 3 + static_cast<std::size_t>(k)] = f[k];
        mn[k] = std::min(mn[k], f[k]);
        mx[k] = std::max(mx[k], f[k]);
      }
    }
    bin.append(reinterpret_cast<const char*>(pos.data()), pos.size() * sizeof(float));
    views.push_back(json{{"buffer", 0}, {"byteOffset", posOffset}, {"byteLength", pos.size() * sizeof(float)},
                         {"target", 34962}});
    accessors.push_back(json{{"bufferView", views.size() - 1},
                             {"componentType", 5126},
                             {"count", used},
                             {"type", "VEC3"},
                             {"min", {mn[0], mn[1], mn[2]}},
                             {"max", {mx[0], mx[1], mx[2]}}});
    const std::size_t posAccessor = accessors.size() - 1;
    // Indices (already 4-aligned: positions are whole floats).
    const std::size_t idxOffset = bin.size();
    std::vector<std::uint32_t> idx;
    idx.reserve(soup.triangles.size() * 3);
    for (const auto& t : soup.triangles)
      for (std::uint32_t i : t) idx.push_back(static_cast<std::uint32_t>(remap[i]));
    bin.append(reinterpret_cast<const char*>(idx.data()), idx.size() * sizeof(std::uint32_t));
    views.push_back(json{{"buffer", 0}, {"byteOffset", idxOffset}, {"byteLength", idx.size() * sizeof(std::uint32_t)},
                         {"target", 34963}});
    accessors.push_back(json{{"bufferView", views.size() - 1},
                             {"componentType", 5125},
                             {"count", idx.size()},
                             {"type", "SCALAR"}});
    json primitive{{"attributes", {{"POSITION", posAccessor}}}, {"indices", accessors.size() - 1}, {"mode", 4}};
    if (group->material > 0) {
      auto it = materialOf.find(group->material);
      if (it == materialOf.end()) {
        for (const auto& m : project.surfaceMaterials)
          if (m.index == group->material) {
            materials.push_back(json{{"name", m.name},
                                     {"pbrMetallicRoughness",
                                      {{"baseColorFactor", {m.r, m.g, m.b, 1.0}}, {"metallicFactor", 0.0}}}});
            it = materialOf.emplace(group->material, materials.size() - 1).first;
            break;
          }
      }
      if (it != materialOf.end()) primitive["material"] = it->second;
    }
    meshes.push_back(json{{"name", group->name}, {"primitives", json::array({primitive})}});
    nodes.push_back(json{{"name", group->name},
                         {"mesh", meshes.size() - 1},
                         {"extras", {{"layer", group->layer}, {"layerName", layerNameOf(project, group->layer)}}}});
    children.push_back(nodes.size() - 1);
  }
  if (!children.empty()) nodes[0]["children"] = children;
  gltf["nodes"] = nodes;
  gltf["scenes"] = json::array({json{{"name", "project"}, {"nodes", {0}}}});
  gltf["scene"] = 0;
  if (!meshes.empty()) {
    gltf["meshes"] = meshes;
    if (!materials.empty()) gltf["materials"] = materials;
    gltf["accessors"] = accessors;
    gltf["bufferViews"] = views;
    gltf["buffers"] = json::array({json{{"byteLength", bin.size()}}});
  }

  std::string jsonChunk = gltf.dump(-1, ' ', true);
  pad(jsonChunk, ' ');
  pad(bin, '\0');
  std::string out;
  const std::size_t total = 12 + 8 + jsonChunk.size() + (bin.empty() ? 0 : 8 + bin.size());
  out.reserve(total);
  out += "glTF";
  put32(out, 2);
  put32(out, static_cast<std::uint32_t>(total));
  put32(out, static_cast<std::uint32_t>(jsonChunk.size()));
  put32(out, 0x4E4F534A);   // JSON
  out += jsonChunk;
  if (!bin.empty()) {
    put32(out, static_cast<std::uint32_t>(bin.size()));
    put32(out, 0x004E4942);   // BIN
    out += bin;
  }
  return out;
}

std::string exportGlb(const ProjectData& project, const std::filesystem::path& out) {
  const std::string bytes = glbBytes(project);
  if (bytes.size() > 0xFFFFFFF0u) return "plik GLB przekracza 4 GiB";
  return platform::writeFileAtomically(out, bytes);
}

}  // namespace veldra
