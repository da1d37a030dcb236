// asc-contours: contour lines of ESRI ASCII sheets as GeoJSON (PL-1992).
// asc-sample: heights sampled from ESRI ASCII sheets, one line per point.
#include "app/Commands.h"
#include "platform/Paths.h"
#include "terrain/ContourRecipe.h"
#include "terrain/ElevationGrid.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace {

using namespace veldra;

std::optional<double> parseDouble(const std::string& s) {
  double v = 0;
  const char* b = s.data();
  const char* e = b + s.size();
  if (b != e && *b == '+') ++b;
  const auto r = std::from_chars(b, e, v);
  if (r.ec != std::errc() || r.ptr != e || !std::isfinite(v)) return std::nullopt;
  return v;
}

std::optional<std::vector<double>> parseList(const std::string& s, std::size_t n) {
  std::vector<double> out;
  std::size_t start = 0;
  for (;;) {
    const std::size_t comma = s.find(',', start);
    auto v = parseDouble(s.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
    if (!v) return std::nullopt;
    out.push_back(*v);
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  if (out.size() != n) return std::nullopt;
  return out;
}

void appendNumber(std::string& out, double v) {
  char buf[32];
  const auto r = std::to_chars(buf, buf + sizeof buf, v);
  out.append(buf, r.ptr);
}

void appendJsonString(std::string& out, const std::string& s) {
  out += '"';
  for (unsigned char ch : s) {
    if (ch == '"' || ch == '\\') {
      out += '\\';
      out += static_cast<char>(ch);
    } else if (ch < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", ch);
      out += buf;
    } else {
      out += static_cast<char>(ch);
    }
  }
  out += '"';
}

std::string toGeoJson(const std::vector<Contour>& contours, const std::vector<ContourLabel>& labels) {
  std::string out;
  out += R"({"type":"FeatureCollection","crs":{"type":"name","properties":{"name":"urn:ogc:def:crs:EPSG::2180"}},)";
  out += R"("features":[)";
  bool first = true;
  for (const auto& c : contours) {
    out += first ? "" : ",";
    first = false;
    out += R"({"type":"Feature","properties":{"level":)";
    appendNumber(out, c.level);
    out += c.index ? R"(,"index":true})" : R"(,"index":false})";
    out += R"(,"geometry":{"type":"LineString","coordinates":[)";
    for (std::size_t i = 0; i < c.points.size(); ++i) {
      out += i ? ",[" : "[";
      appendNumber(out, c.points[i].x);
      out += ',';
      appendNumber(out, c.points[i].y);
      out += ']';
    }
    out += "]}}";
  }
  for (const auto& l : labels) {
    out += first ? "" : ",";
    first = false;
    out += R"({"type":"Feature","properties":{"text":)";
    appendJsonString(out, l.text);
    out += R"(,"angle":)";
    appendNumber(out, l.angle);
    out += R"(},"geometry":{"type":"Point","coordinates":[)";
    appendNumber(out, l.x);
    out += ',';
    appendNumber(out, l.y);
    out += "]}}";
  }
  out += "]}\n";
  return out;
}

bool readGrids(const std::vector<std::string>& paths, std::vector<ElevationGrid>& grids, const char* cmd) {
  for (const auto& p : paths) {
    ElevationGrid g;
    std::string error;
    if (!readAsciiGrid(p, g, &error)) {
      std::cerr << "veldra " << cmd << ": " << p << ": " << error << "\n";
      return false;
    }
    grids.push_back(std::move(g));
  }
  return true;
}

int runAscContours(const std::vector<std::string>& args) {
  const char* cmd = "asc-contours";
  std::vector<std::string> inputs;
  std::optional<double> interval, step;
  std::optional<Bbox> bbox;
  std::string outPath;
  bool smooth = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&]() -> const std::string* {
      if (i + 1 >= args.size()) {
        std::cerr << "veldra " << cmd << ": " << a << " needs a value\n";
        return nullptr;
      }
      return &args[++i];
    };
    if (a == "--interval" || a == "--step") {
      const std::string* v = value();
      if (!v) return 2;
      auto d = parseDouble(*v);
      if (!d || *d <= 0) {
        std::cerr << "veldra " << cmd << ": " << a << " must be a positive number, got '" << *v << "'\n";
        return 2;
      }
      (a == "--interval" ? interval : step) = *d;
    } else if (a == "--bbox") {
      const std::string* v = value();
      if (!v) return 2;
      auto l = parseList(*v, 4);
      if (!l || !((*l)[0] < (*l)[2]) || !((*l)[1] < (*l)[3])) {
        std::cerr << "veldra " << cmd << ": --bbox wants minE,minN,maxE,maxN with min < max, got '" << *v << "'\n";
        return 2;
      }
      bbox = Bbox{(*l)[0], (*l)[1], (*l)[2], (*l)[3]};
    } else if (a == "--out") {
      const std::string* v = value();
      if (!v) return 2;
      outPath = *v;
    } else if (a == "--smooth") {
      smooth = true;
    } else if (a.size() > 1 && a[0] == '-' && a[1] == '-') {
      std::cerr << "veldra " << cmd << ": unknown option " << a << "\n";
      return 2;
    } else {
      inputs.push_back(a);
    }
  }
  if (inputs.empty() || !interval || outPath.empty()) {
    std::cerr << "usage: veldra asc-contours GRID.asc... --interval X [--step S] [--smooth] "
                 "[--bbox minE,minN,maxE,maxN] --out OUT.geojson\n";
    return 2;
  }
  if (!isAllowedContourInterval(*interval)) {
    std::cerr << "veldra " << cmd << ": " << contourIntervalNotice(*interval) << "\n";
    return 2;
  }
  std::vector<ElevationGrid> grids;
  if (!readGrids(inputs, grids, cmd)) return 1;

  // Without --bbox the lattice spans the cell centres of all sheets, so its
  // nodes fall on the values as stored.
  Bbox frame{std::numeric_limits<double>::infinity(), std::numeric_limits<double>::infinity(),
             -std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
  double minCell = std::numeric_limits<double>::infinity();
  for (const auto& g : grids) {
    const double h = g.cellSize / 2.0;
    frame.minX = std::min(frame.minX, g.x0 + h);
    frame.minY = std::min(frame.minY, g.y0 + h);
    frame.maxX = std::max(frame.maxX, g.x0 + g.ncols * g.cellSize - h);
    frame.maxY = std::max(frame.maxY, g.y0 + g.nrows * g.cellSize - h);
    minCell = std::min(minCell, g.cellSize);
  }
  if (bbox) frame = *bbox;

  std::string note;
  const double latticeStep = contourGridStep(frame, step ? *step : minCell, note);
  if (!note.empty()) std::cerr << "veldra " << cmd << ": " << note << "\n";
  ContourRecipe recipe;
  recipe.interval = *interval;
  recipe.smooth = smooth;
  const ContourSet set = buildContours(frame, latticeStep, makeGridSampler(grids), recipe);
  if (set.noNodes) {
    std::cerr << "veldra " << cmd << ": the frame holds fewer than 2 x 2 lattice nodes at step "
              << formatContourNumber(latticeStep) << " m\n";
    return 1;
  }
  if (set.noHeights)
    std::cerr << "veldra " << cmd << ": Poziomice: caly probkowany obszar to NODATA (brak danych NMT dla tego kadru).\n";
  if (!set.message.empty()) std::cerr << "veldra " << cmd << ": " << set.message << "\n";
  const std::vector<Contour>& contours = set.lines;
  const std::vector<ContourLabel>& labels = set.labels;
  if (const std::string error = platform::writeFileAtomically(outPath, toGeoJson(contours, labels)); !error.empty()) {
    std::cerr << "veldra " << cmd << ": " << error << "\n";
    return 1;
  }
  std::size_t points = 0;
  for (const auto& c : contours) points += c.points.size();
  std::cout << contours.size() << " contours, " << points << " points, " << labels.size() << " labels, lattice "
            << set.ncols << " x " << set.nrows << " step " << latticeStep << " m\n";
  return 0;
}

int runAscSample(const std::vector<std::string>& args) {
  const char* cmd = "asc-sample";
  std::vector<std::string> inputs;
  std::vector<std::pair<double, double>> points;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--at") {
      auto l = i + 1 < args.size() ? parseList(args[i + 1], 2) : std::nullopt;
      if (!l) {
        std::cerr << "veldra " << cmd << ": --at wants X,Y\n";
        return 2;
      }
      points.emplace_back((*l)[0], (*l)[1]);
      ++i;
    } else if (args[i].rfind("--", 0) == 0) {
      std::cerr << "veldra " << cmd << ": unknown option " << args[i] << "\n";
      return 2;
    } else {
      inputs.push_back(args[i]);
    }
  }
  if (inputs.empty() || points.empty()) {
    std::cerr << "usage: veldra asc-sample GRID.asc... --at X,Y [--at X,Y ...]\n";
    return 2;
  }
  std::vector<ElevationGrid> grids;
  if (!readGrids(inputs, grids, cmd)) return 1;
  for (const auto& [x, y] : points) {
    if (auto z = sampleGrids(grids, x, y)) {
      char buf[40];
      std::snprintf(buf, sizeof buf, "%.17g", *z);
      std::cout << buf << "\n";
    } else {
      std::cout << "nodata\n";
    }
  }
  return 0;
}

const veldra::app::CommandRegistrar regContours{
    "asc-contours",
    "GRID.asc... --interval X [--step S] [--smooth] [--bbox minE,minN,maxE,maxN] --out OUT.geojson  contour lines "
    "and labels of ESRI ASCII sheets as GeoJSON (PL-1992)",
    &runAscContours};
const veldra::app::CommandRegistrar regSample{
    "asc-sample", "GRID.asc... --at X,Y [--at X,Y ...]  heights at points, first sheet with a value wins",
    &runAscSample};

}  // namespace
