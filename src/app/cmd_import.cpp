// `veldra import`: the map page's two steps without a browser. The controller
// is driven through the same bridge messages the page sends.
#include <cmath>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "app/Exporters.h"
#include "app/MapPalette.h"
#include "app/ProjectOpen.h"
#include "bridge/ImportController.h"
#include "host/MemoryHost.h"
#include "host/ProjectFile.h"
#include "place/ProjectGeoref.h"
#include "platform/MainLoop.h"

namespace veldra::app {
namespace {

using nlohmann::json;

const char* const kUsage =
    "--bbox W,S,E,N --layers k1,k2 [--raster-scale N] [--terrain-step N] [--contour-cut X] [--smooth] "
    "--project FILE [--origin LAT,LON|center] [--dxf OUT] [--gltf OUT]";

int usage(const std::string& why) {
  if (!why.empty()) std::cerr << "veldra import: " << why << "\n";
  std::cerr << "usage: veldra import " << kUsage << "\n";
  return 2;
}

std::vector<std::string> splitComma(const std::string& s) {
  std::vector<std::string> out;
  std::stringstream ss(s);
  std::string part;
  while (std::getline(ss, part, ','))
    if (!part.empty()) out.push_back(part);
  return out;
}

bool parseNumber(const std::string& s, double& out) {
  try {
    std::size_t used = 0;
    out = std::stod(s, &used);
    return used == s.size() && std::isfinite(out);
  } catch (const std::exception&) {
    return false;
  }
}

std::string countsText(const json& counts) {
  std::string out;
  if (!counts.is_object()) return out;
  for (const auto& [k, v] : counts.items()) out += (out.empty() ? "" : ", ") + k + "=" + v.dump();
  return out;
}

// --origin: where the project's georeference goes, as the palette's "setOrigin" puts it.
struct OriginArg {
  bool given = false;
  bool frameCentre = false;
  double lat = 0, lon = 0;
};

// Empty, or why the text is no origin.
std::string parseOrigin(const std::string& text, OriginArg& out) {
  out.given = true;
  if (text == "center") {
    out.frameCentre = true;
    return {};
  }
  const auto parts = splitComma(text);
  if (parts.size() != 2 || text.back() == ',') return "--origin needs LAT,LON (two numbers) or center";
  if (!parseNumber(parts[0], out.lat) || !parseNumber(parts[1], out.lon))
    return "--origin: not a number: " + text;
  if (std::fabs(out.lat) > 90 || std::fabs(out.lon) > 180)
    return "--origin must be latitude -90..90 and longitude -180..180 in WGS84 degrees";
  return {};
}

struct Session {
  MapPalette palette;
  std::vector<json> replies;   // messages the native side sent since the last step
};

// Sends one page message and runs the main loop until a message of one of
// `endTypes` (or "error") arrives and no work is outstanding.
json step(Session& s, const json& msg, const std::vector<std::string>& endTypes) {
  platform::MainLoop& loop = platform::MainLoop::instance();
  json end;
  auto isEnd = [&](const json& m) {
    const std::string t = m.value("type", "");
    if (t == "error") return true;
    for (const auto& e : endTypes)
      if (t == e) return true;
    return false;
  };
  s.palette.bridge().setSender([&](const std::string& text) {
    json m = json::parse(text, nullptr, false);
    if (!m.is_object()) return;
    const std::string t = m.value("type", "");
    if (t == "progress") {
      std::string line = m.value("label", std::string("Pobieranie"));
      const int total = m.value("total", 0);
      if (total > 0 && m.contains("done"))
        line += " - " + std::to_string(static_cast<int>(std::lround(100.0 * m.value("done", 0) / total))) + "%";
      std::cerr << "progress: " << line << "\n";
    }
    if (end.is_null() && isEnd(m)) end = m;
  });
  loop.post([&s, text = msg.dump()] { s.palette.bridge().handleMessage(text); });
  loop.run([&] { return !end.is_null(); });
  s.palette.bridge().clearSender();
  return end;
}

// Empty, or the controller's reason for refusing the origin.
std::string applyOrigin(Session& s, const OriginArg& origin) {
  if (!origin.given) return {};
  const json set = step(s, json{{"type", "setOrigin"}, {"lat", origin.lat}, {"lon", origin.lon}}, {"originSet"});
  if (set.value("type", "") == "originSet") return {};
  const std::string msg = set.value("msg", std::string());
  return msg.empty() ? std::string("no answer") : msg;
}

int runImport(const std::vector<std::string>& args) {
  std::string bboxText, layersText, projectPath, dxfOut, gltfOut;
  double rasterScale = 1000, terrainStep = 1, contourCut = 1.0;
  bool smooth = false;
  OriginArg origin;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& out) {
      if (i + 1 >= args.size()) return false;
      out = args[++i];
      return true;
    };
    std::string v;
    if (a == "--bbox") {
      if (!value(bboxText)) return usage("--bbox needs W,S,E,N");
    } else if (a == "--layers") {
      if (!value(layersText)) return usage("--layers needs a list of keys");
    } else if (a == "--project") {
      if (!value(projectPath)) return usage("--project needs a file");
    } else if (a == "--dxf") {
      if (!value(dxfOut)) return usage("--dxf needs a file");
    } else if (a == "--gltf") {
      if (!value(gltfOut)) return usage("--gltf needs a file");
    } else if (a == "--raster-scale") {
      if (!value(v) || !parseNumber(v, rasterScale)) return usage("--raster-scale needs a number");
    } else if (a == "--terrain-step") {
      if (!value(v) || !parseNumber(v, terrainStep)) return usage("--terrain-step needs a number");
    } else if (a == "--contour-cut") {
      if (!value(v) || !parseNumber(v, contourCut)) return usage("--contour-cut needs a number");
    } else if (a == "--origin") {
      if (!value(v)) return usage("--origin needs LAT,LON or center");
      if (const std::string why = parseOrigin(v, origin); !why.empty()) return usage(why);
    } else if (a == "--smooth") {
      smooth = true;
    } else {
      return usage("unknown option " + a);
    }
  }
  if (bboxText.empty() || layersText.empty() || projectPath.empty()) return usage("--bbox, --layers and --project are required");

  const auto parts = splitComma(bboxText);
  double b[4];
  if (parts.size() != 4) return usage("--bbox needs exactly four numbers W,S,E,N");
  for (int k = 0; k < 4; ++k)
    if (!parseNumber(parts[k], b[k])) return usage("--bbox: not a number: " + parts[k]);
  if (!(b[0] < b[2] && b[1] < b[3]) || b[0] < -180 || b[2] > 180 || b[1] < -90 || b[3] > 90)
    return usage("--bbox must be west < east and south < north in WGS84 degrees");
  if (rasterScale != 250 && rasterScale != 500 && rasterScale != 1000 && rasterScale != 2000)
    return usage("--raster-scale must be 250, 500, 1000 or 2000");
  if (terrainStep != 1 && terrainStep != 2 && terrainStep != 5) return usage("--terrain-step must be 1, 2 or 5");
  if (contourCut != 0.25 && contourCut != 0.5 && contourCut != 1 && contourCut != 2)
    return usage("--contour-cut must be 0.25, 0.5, 1 or 2");
  const auto layers = splitComma(layersText);
  if (layers.empty()) return usage("--layers needs at least one key");

  MemoryHost host;
  if (!openProjectInto(projectPath, host)) return 1;
  // Placing needs the georeference; without one the fetch would be wasted.
  if (!origin.given && readProjectGeoref(host).quality == GeorefQuality::None) {
    std::cerr << "veldra import: the project has no georeference: give --origin LAT,LON, or --origin center "
                 "for the frame's centre\n";
    return 1;
  }
  if (origin.frameCentre) {
    origin.lat = (b[1] + b[3]) / 2;
    origin.lon = (b[0] + b[2]) / 2;
  }
  ImportController::setProcessHost(&host);
  Session s;

  json fetch{{"bboxWgs84", {b[0], b[1], b[2], b[3]}},
             {"layers", layers},
             {"rasterScale", static_cast<int>(rasterScale)},
             {"terrainStep", static_cast<int>(terrainStep)},
             {"terenChmuraKrok", 1.0},
             {"poziomiceCiecie", contourCut},
             {"poziomiceWygladz", smooth}};
  fetch["type"] = "fetch";
  const json fetched = step(s, fetch, {"fetchDone"});
  int status = 0;
  if (fetched.value("type", "") == "error") {
    std::cerr << "veldra: fetch failed: " << fetched.value("msg", std::string()) << "\n";
    status = 1;
  } else {
    const json counts = fetched.value("counts", json::object());
    std::cout << "fetched: " << countsText(counts) << "\n";
    if (fetched.contains("warning")) std::cout << "notes: " << fetched["warning"].get<std::string>() << "\n";
    if (counts.empty()) {
      std::cerr << "veldra: nothing was fetched for this frame\n";
      status = 1;
    } else if (const std::string why = applyOrigin(s, origin); !why.empty()) {
      std::cerr << "veldra: the origin was not set: " << why << "\n";
      status = 1;
    } else {
      const json placed = step(s, json{{"type", "place"}}, {"placeDone"});
      if (placed.value("type", "") != "placeDone") {
        std::cerr << "veldra: placement failed: " << placed.value("msg", std::string()) << "\n";
        status = 1;
      } else {
        std::cout << "placed: " << countsText(placed.value("counts", json::object())) << "\n";
        if (placed.contains("warning")) std::cout << "notes: " << placed["warning"].get<std::string>() << "\n";
      }
    }
  }
  for (const auto& line : host.reportLines()) std::cerr << line << "\n";

  if (status == 0) {
    const std::string err = saveProject(host, projectPath);
    if (!err.empty()) {
      std::cerr << "veldra: " << err << "\n";
      status = 1;
    }
  }
  for (const auto& [format, out] : {std::pair<std::string, std::string>{"DXF", dxfOut}, {"glTF", gltfOut}}) {
    if (out.empty()) continue;
    if (status != 0) {
      std::cerr << "veldra: " << format << " not written: the import failed\n";
      continue;
    }
    if (const std::string err = exportProjectAs(host, format, out); !err.empty()) {
      std::cerr << "veldra: " << err << "\n";
      status = 1;
    } else {
      std::cout << "written: " << out << "\n";
    }
  }
  std::cout.flush();
  return status;
}

const CommandRegistrar reg{"import", kUsage, &runImport};

}  // namespace
}  // namespace veldra::app
