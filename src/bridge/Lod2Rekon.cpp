#include "bridge/Lod2Rekon.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>

#include "bridge/RoofBody.h"
#include "cloud/PointGridIndex.h"
#include "geo/Bbox.h"
#include "geo/PointInRing.h"
#include "lod2fit/Reconstruction.h"
#include "platform/Paths.h"

namespace veldra {

namespace {

constexpr std::size_t kPointFiles = 12;
constexpr std::size_t kIndexLines = 20;
constexpr std::size_t kMinInside = 20;
constexpr std::size_t kMinPoints = 8;
constexpr std::size_t kMaxPointsPerFile = 15000;
constexpr const char* kLabel = "Rekonstrukcja LOD2: dopasowanie";

std::string format(const char* fmt, auto... args) {
  char small[256];
  const int n = std::snprintf(small, sizeof small, fmt, args...);
  if (n < 0) return {};
  if (static_cast<std::size_t>(n) < sizeof small) return std::string(small, static_cast<std::size_t>(n));
  std::string s(static_cast<std::size_t>(n) + 1, '\0');   // a number far out of range
  std::snprintf(s.data(), s.size(), fmt, args...);
  s.resize(static_cast<std::size_t>(n));
  return s;
}

std::string diagName(std::size_t building, const char* suffix) {
  return format("rekon_cloud/bud_%02zu%s.xyz", building, suffix);
}

void writePointFiles(std::size_t building, const std::vector<Point3>& pts, const std::vector<Point2>& outline,
                     double groundZ) {
  const std::size_t step = pts.size() > kMaxPointsPerFile ? pts.size() / kMaxPointsPerFile : 1;
  std::string text;
  for (std::size_t k = 0; k < pts.size(); k += step) text += format("%.3f %.3f %.3f\n", pts[k].x, pts[k].y, pts[k].z);
  platform::rewriteDiagFile(diagName(building, ""), text);
  std::string fp;
  for (const Point2& v : outline) fp += format("%.3f %.3f %.3f\n", v.x, v.y, groundZ);
  platform::rewriteDiagFile(diagName(building, "_fp"), fp);
}

std::size_t findRoot(std::vector<std::size_t>& parent, std::size_t v) {
  while (parent[v] != v) v = parent[v] = parent[parent[v]];
  return v;
}

}  // namespace

void orientFacesByParts(lod2fit::RoofMesh& mesh) {
  const std::size_t nv = mesh.vertices.size();
  std::vector<std::size_t> parent(nv);
  std::iota(parent.begin(), parent.end(), std::size_t{0});
  auto valid = [nv](const std::vector<std::uint32_t>& f) {
    return std::all_of(f.begin(), f.end(), [nv](std::uint32_t v) { return v < nv; });
  };
  for (const auto& f : mesh.faces) {
    if (f.empty() || !valid(f)) continue;
    for (std::uint32_t v : f) parent[findRoot(parent, v)] = findRoot(parent, f[0]);
  }
  std::vector<Point3> sum(nv);
  std::vector<std::size_t> count(nv, 0);
  std::vector<char> used(nv, 0);
  for (const auto& f : mesh.faces)
    if (valid(f))
      for (std::uint32_t v : f) used[v] = 1;
  for (std::size_t v = 0; v < nv; ++v) {
    if (!used[v]) continue;
    const std::size_t r = findRoot(parent, v);
    sum[r].x += mesh.vertices[v].x;
    sum[r].y += mesh.vertices[v].y;
    sum[r].z += mesh.vertices[v].z;
    ++count[r];
  }
  for (auto& f : mesh.faces) {
    if (f.size() < 3 || !valid(f)) continue;
    Point3 normal, centre;
    for (std::size_t i = 0; i < f.size(); ++i) {
      const Point3& a = mesh.vertices[f[i]];
      const Point3& b = mesh.vertices[f[(i + 1) % f.size()]];
      normal.x += (a.y - b.y) * (a.z + b.z);
      normal.y += (a.z - b.z) * (a.x + b.x);
      normal.z += (a.x - b.x) * (a.y + b.y);
      centre.x += a.x;
      centre.y += a.y;
      centre.z += a.z;
    }
    const double n = double(f.size());
    const std::size_t r = findRoot(parent, f[0]);
    const double c = double(count[r]);
    const double dot = normal.x * (centre.x / n - sum[r].x / c) + normal.y * (centre.y / n - sum[r].y / c) +
                       normal.z * (centre.z / n - sum[r].z / c);
    if (dot < 0.0) std::reverse(f.begin(), f.end());
  }
}

RekonOutcome reconstructOutlines(const std::vector<Building3D>& outlines, const std::vector<CloudPoint>& points,
                                 const RekonProgress& progress, const RekonOptions& options) {
  RekonOutcome out;
  const PointGridIndex index(points);
  const int n = static_cast<int>(outlines.size());
  for (int i = 0; i < n; ++i) {
    if (progress) progress(i, n, kLabel);
    const std::size_t number = static_cast<std::size_t>(i);
    const Building3D& b = outlines[number];
    const std::vector<Point2> outline = openRing(b.footprint);
    const bool finiteOutline = std::all_of(outline.begin(), outline.end(),
                                           [](Point2 p) { return std::isfinite(p.x) && std::isfinite(p.y); });
    if (outline.size() < 3 || !finiteOutline) continue;
    const Bbox box = boundsOf(outline);

    std::vector<Point3> candidates;
    for (std::size_t k : index.around(box)) {
      const CloudPoint& p = points[k];
      if (std::isfinite(p.z)) candidates.push_back({p.x, p.y, p.z});
    }
    if (candidates.empty()) continue;
    // The 2 % height, taken as it would stand in the sorted list.
    std::vector<double> heights(candidates.size());
    std::transform(candidates.begin(), candidates.end(), heights.begin(), [](const Point3& p) { return p.z; });
    const auto low = heights.begin() + static_cast<std::ptrdiff_t>(std::floor(double(heights.size() - 1) * 0.02));
    std::nth_element(heights.begin(), low, heights.end());
    const double groundZ = *low;

    std::vector<Point3> own;
    for (const Point3& p : candidates)
      if (pointInRing(outline, p.x, p.y)) own.push_back(p);
    if (own.size() < kMinInside) {
      own.clear();
      for (const Point3& p : candidates)
        if (p.z > groundZ + 1.0) own.push_back(p);
    }
    if (own.size() < kMinPoints) continue;
    if (options.writeDiagnostics && number < kPointFiles) writePointFiles(number, own, outline, groundZ);

    lod2fit::ReconstructionInput input;
    input.points = own;
    input.footprint = outline;
    input.groundZ = groundZ;
    lod2fit::RoofFitResult r = lod2fit::reconstructBuilding(input);
    ++out.types[r.type];
    if (!r.needsCorrection) ++out.ok;
    const double roof = r.params.ridgeZ - r.params.eaveZ;
    const bool first = out.solids.empty();
    out.roofMin = first ? roof : std::min(out.roofMin, roof);
    out.roofMax = first ? roof : std::max(out.roofMax, roof);
    out.roofSum += roof;
    out.groundSum += groundZ;
    if (number < kIndexLines)
      out.indexLines.push_back(format("  #%zu %s [%s] centroid2180=%.1f,%.1f nDach=%zu groundZ=%.2f eaveZ=%.2f "
                                      "ridgeZ=%.2f wys=%.2f\n",
                                      number, r.type.c_str(), r.needsCorrection ? "Fallback" : "Ok",
                                      (box.minX + box.maxX) / 2.0, (box.minY + box.maxY) / 2.0, own.size(), groundZ,
                                      r.params.eaveZ, r.params.ridgeZ, r.params.ridgeZ - groundZ));
    orientFacesByParts(r.mesh);
    CloudSolid solid;
    solid.id = b.id;
    solid.needsCorrection = r.needsCorrection;
    for (const auto& f : r.mesh.faces) {
      std::vector<Point3> face;
      for (std::uint32_t v : f)
        if (v < r.mesh.vertices.size()) face.push_back(r.mesh.vertices[v]);
      solid.faces.push_back(std::move(face));
    }
    out.solids.push_back(std::move(solid));
  }
  if (options.writeDiagnostics) {
    std::string text = "budynek | typ [flaga] | centroid X,Y (PL-2180) | groundZ eaveZ ridgeZ (npm)\n";
    for (const std::string& line : out.indexLines) text += line;
    platform::rewriteDiagFile("rekon_cloud/index.txt", text);
  }
  return out;
}

std::string rekonSummary(int tiles, std::size_t points, const RekonOutcome& o) {
  std::string s = "Rekonstrukcja LOD2: " + std::to_string(tiles) + " kafli, " + std::to_string(points) + " pkt, " +
                  std::to_string(o.solids.size()) + " budynkow, Ok(class)=" + std::to_string(o.ok) + "; typy:";
  for (const auto& [type, count] : o.types) s += " " + type + "=" + std::to_string(count);
  if (o.solids.empty()) return s + " (brak)";
  const double n = double(o.solids.size());
  return s + format(" | wys.dachu(ridge-eave) min=%.2f sr=%.2f max=%.2f | groundZ sr=%.2f (npm, przed zOff)", o.roofMin,
                    o.roofSum / n, o.roofMax, o.groundSum / n);
}

}  // namespace veldra
