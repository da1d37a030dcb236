// solid_check FILE.glb: for every mesh of a GLB, whether CGAL finds it closed,
// outward oriented and free of self-intersections, with its volume. One JSON
// object per line: {"name", "closed", "outward", "selfIntersects", "volume"}.
// Positions are welded first (the writer may repeat a vertex per element).
#include <CGAL/Exact_predicates_inexact_constructions_kernel.h>
#include <CGAL/Polygon_mesh_processing/measure.h>
#include <CGAL/Polygon_mesh_processing/orientation.h>
#include <CGAL/Polygon_mesh_processing/self_intersections.h>
#include <CGAL/Surface_mesh.h>
#include <CGAL/boost/graph/helpers.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <tuple>

#include <nlohmann/json.hpp>

using K = CGAL::Exact_predicates_inexact_constructions_kernel;
using Mesh = CGAL::Surface_mesh<K::Point_3>;
namespace PMP = CGAL::Polygon_mesh_processing;

static std::uint32_t le32(const std::string& s, std::size_t i) {
  std::uint32_t v;
  std::memcpy(&v, s.data() + i, 4);
  return v;
}

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  std::ifstream in(argv[1], std::ios::binary);
  const std::string glb((std::istreambuf_iterator<char>(in)), {});
  if (glb.size() < 28 || glb.compare(0, 4, "glTF") != 0) return 1;
  const std::uint32_t jlen = le32(glb, 12);
  const auto j = nlohmann::json::parse(glb.substr(20, jlen));
  const std::size_t bin = 20 + jlen + 8;
  const auto view = [&](std::size_t accessor) {
    const auto& a = j["accessors"][accessor];
    const auto& v = j["bufferViews"][a["bufferView"].get<std::size_t>()];
    return std::make_pair(bin + v.value("byteOffset", std::size_t{0}), a["count"].get<std::size_t>());
  };
  for (const auto& m : j.value("meshes", nlohmann::json::array())) {
    const auto& prim = m["primitives"][0];
    const auto [pos, nv] = view(prim["attributes"]["POSITION"].get<std::size_t>());
    const auto [idx, ni] = view(prim["indices"].get<std::size_t>());
    Mesh mesh;
    std::map<std::tuple<float, float, float>, Mesh::Vertex_index> weld;
    std::vector<Mesh::Vertex_index> vid(nv);
    for (std::size_t i = 0; i < nv; ++i) {
      float f[3];
      std::memcpy(f, glb.data() + pos + i * 12, 12);
      const auto key = std::make_tuple(f[0], f[1], f[2]);
      auto it = weld.find(key);
      if (it == weld.end()) it = weld.emplace(key, mesh.add_vertex(K::Point_3(f[0], f[1], f[2]))).first;
      vid[i] = it->second;
    }
    bool built = true;
    for (std::size_t t = 0; t + 2 < ni; t += 3) {
      const auto a = vid[le32(glb, idx + t * 4)], b = vid[le32(glb, idx + t * 4 + 4)], c = vid[le32(glb, idx + t * 4 + 8)];
      if (a == b || b == c || a == c) continue;
      if (mesh.add_face(a, b, c) == Mesh::null_face()) built = false;   // non-manifold edge or flipped neighbour
    }
    nlohmann::json r{{"name", m.value("name", "")}, {"built", built}};
    const bool closed = built && CGAL::is_closed(mesh);
    r["closed"] = closed;
    r["outward"] = closed && PMP::is_outward_oriented(mesh);
    r["selfIntersects"] = built && PMP::does_self_intersect(mesh);
    r["volume"] = closed ? CGAL::to_double(PMP::volume(mesh)) : 0.0;
    std::cout << r.dump() << "\n";
  }
  return 0;
}
