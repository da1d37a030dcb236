// veldra gml2geojson FILE [--data-type N] [--pl1992]: the map preview of a WFS answer.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "app/Commands.h"
#include "formats/GeoJsonWriter.h"
#include "formats/GmlParser.h"
#include "platform/InputFile.h"

namespace {

constexpr std::uintmax_t kMaxInputBytes = 1ull << 30;


// Coordinates exactly as the parser holds them (PL-1992 easting, northing), for comparisons.
std::string planarDump(const std::vector<veldra::GisFeature>& features) {
  using nlohmann::json;
  auto ring = [](const std::vector<veldra::Point2>& pts) {
    json a = json::array();
    for (const auto& p : pts) a.push_back({p.x, p.y});
    return a;
  };
  json out = json::array();
  for (const auto& f : features) {
    json polys = json::array();
    for (const auto& poly : f.polygons) {
      json rings = json::array({ring(poly.outer)});
      for (const auto& h : poly.holes) rings.push_back(ring(h));
      polys.push_back(std::move(rings));
    }
    json lines = json::array();
    for (const auto& l : f.lines) lines.push_back(ring(l));
    json props = json::object();
    for (const auto& [k, v] : f.attributes) props[k] = v;
    out.push_back({{"polygons", std::move(polys)},
                   {"lines", std::move(lines)},
                   {"point", f.hasPoint ? json::array({f.point.x, f.point.y}) : json()},
                   {"attributes", std::move(props)}});
  }
  return out.dump(-1, ' ', true, json::error_handler_t::replace);
}

int run(const std::vector<std::string>& args) {
  std::string file;
  int dataType = 0;
  bool planar = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--data-type" && i + 1 < args.size()) {
      const std::string& v = args[++i];
      std::size_t used = 0;
      int n = -1;
      try {
        n = std::stoi(v, &used);
      } catch (const std::exception&) {
        used = 0;
      }
      if (used != v.size() || n < 0 || n >= veldra::kDataTypeCount) {
        std::cerr << "gml2geojson: --data-type wymaga liczby 0.." << veldra::kDataTypeCount - 1 << ", podano '" << v
                  << "'\n";
        return 2;
      }
      dataType = n;
    } else if (args[i] == "--pl1992") {
      planar = true;
    } else if (file.empty() && !args[i].empty() && args[i][0] != '-') {
      file = args[i];
    } else {
      std::cerr << "gml2geojson: nieznany argument '" << args[i] << "'\n"
                << "uzycie: veldra gml2geojson PLIK [--data-type N] [--pl1992]\n";
      return 2;
    }
  }
  if (file.empty()) {
    std::cerr << "uzycie: veldra gml2geojson PLIK [--data-type N] [--pl1992]\n";
    return 2;
  }
  std::string text;
  if (const std::string error = veldra::platform::readRegularFile(file, kMaxInputBytes, text); !error.empty()) {
    std::cerr << "gml2geojson: " << error << "\n";
    return 1;
  }
  const veldra::GmlReading reading =
      veldra::GmlParser::readFeatureCollection(text, static_cast<veldra::DataType>(dataType));
  const auto& features = reading.features;
  if (reading.tooLarge) {
    std::cerr << "gml2geojson: " << file << ": " << veldra::GmlParser::kTooLargeMessage << "\n";
    return 3;
  }
  for (const std::uint32_t epsg : reading.unknownEpsg)
    std::cerr << "gml2geojson: " << file << ": uwaga: nieznany uklad EPSG:" << epsg
              << ", wspolrzedne wziete bez przeliczenia, w kolejnosci z pliku\n";
  if (features.empty()) {
    // Nothing read: tell broken XML and service exceptions apart from an empty answer.
    const veldra::GmlDiagnosis diag = veldra::GmlParser::diagnose(text);
    using Kind = veldra::GmlDiagnosis::Kind;
    switch (diag.kind) {
      case Kind::XmlError:
        std::cerr << "gml2geojson: " << file << ": niepoprawny XML: " << diag.message << "\n";
        return 3;
      case Kind::TooDeep:
      case Kind::TooLarge:
        std::cerr << "gml2geojson: " << file << ": " << diag.message << "\n";
        return 3;
      case Kind::ExceptionReport:
        std::cerr << "gml2geojson: " << file << ": usluga zwrocila raport wyjatku OGC"
                  << (diag.message.empty() ? std::string() : ": " + diag.message) << "\n";
        return 3;
      case Kind::NotFeatureCollection:
        std::cerr << "gml2geojson: " << file << ": uwaga: element glowny " << diag.message
                  << " nie jest kolekcja obiektow WFS\n";
        break;
      case Kind::FeatureCollection:
        break;
    }
  }
  if (planar) {
    std::cout << planarDump(features) << "\n";
  } else {
    veldra::writeGeoJson(std::cout, features);
    std::cout << "\n";
  }
  std::cout.flush();
  if (!std::cout) {
    std::cerr << "gml2geojson: blad zapisu na standardowe wyjscie\n";
    return 1;
  }
  std::cerr << "gml2geojson: " << features.size() << " obiektow\n";
  return 0;
}

const veldra::app::CommandRegistrar reg{"gml2geojson", "FILE [--data-type N] [--pl1992]  GeoJSON preview of a WFS GML answer",
                                        &run};

}  // namespace
