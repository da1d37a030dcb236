// veldra wfs-features: the features of a frame from one WFS, the way the
// import asks for them (request variants, their memory, the whole-layer
// fallback), for checking a county service by hand and for black-box tests.
#include <cstdio>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/FrameArg.h"
#include "formats/DataType.h"
#include "formats/GeoJsonWriter.h"
#include "net/OgcClient.h"
#include "platform/Paths.h"

namespace {

using veldra::app::parseFrame;

int usage(const std::string& why) {
  std::cerr << "wfs-features: " << why << "\n"
            << "usage: veldra wfs-features SERVICE_URL [TYPE] MINX,MINY,MAXX,MAXY [--kind KEY] [--rounds N] "
               "[--out FILE]\n"
            << "  without TYPE the parcel or building type is taken from the capabilities (--kind budynki)\n";
  return 2;
}


int run(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  std::string kind = "dzialki", out;
  int rounds = 1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    bool hasValue = i + 1 < args.size();
    if (a == "--kind" && hasValue) {
      kind = args[++i];
    } else if (a == "--rounds" && hasValue) {
      try {
        rounds = std::stoi(args[++i]);
      } catch (const std::exception&) {
        rounds = 0;
      }
      if (rounds < 1 || rounds > 100) return usage("--rounds needs 1..100");
    } else if (a == "--out" && hasValue) {
      out = args[++i];
    } else if (!a.empty() && a[0] != '-') {
      positional.push_back(a);
    } else {
      return usage("unknown argument " + a);
    }
  }
  if (positional.size() < 2 || positional.size() > 3) return usage("SERVICE_URL and a frame are required");
  auto type = veldra::dataTypeFromKey(kind);
  if (!type) return usage("unknown kind " + kind);
  veldra::Bbox frame;
  if (!parseFrame(positional.back(), frame)) return usage("the frame is four numbers: MINX,MINY,MAXX,MAXY");
  const std::string& service = positional[0];

  veldra::WfsClient http;
  veldra::OgcClient ogc(http);
  std::string typeName;
  if (positional.size() == 3) {
    typeName = positional[1];
  } else {
    veldra::LayerPair layers;
    if (!ogc.resolveLayers(service, layers)) {
      std::cout << "error Usluga WFS nie odpowiada albo nie ma warstw dzialek ani budynkow.\n";
      return 1;
    }
    std::cout << "parcels " << layers.parcels << "\nbuildings " << layers.buildings << "\n";
    typeName = *type == veldra::DataType::Budynki ? layers.buildings : layers.parcels;
  }

  std::vector<veldra::GisFeature> features;
  for (int r = 0; r < rounds; ++r) {
    int tiles = 0;
    features = ogc.fetchFeatures(service, typeName, frame, *type, [&](int, int total) { tiles = total; });
    std::cout << "round " << r + 1 << " features " << features.size() << " strategy "
              << ogc.rememberedStrategy(service, typeName) << " tiles " << tiles << "\n";
  }
  if (features.empty() && positional.size() == 3) {
    // Nothing came: an empty frame, or a service that does not answer, which
    // is no result. Any answer of the service's own will do, layers or not.
    if (http.get(veldra::capabilitiesUrl(service, "WFS")).status == 0) {
      std::cout << "error Usluga WFS nie odpowiada.\n";
      return 1;
    }
  }
  if (!out.empty()) {
    const std::string why = veldra::platform::writeFileAtomically(out, veldra::toGeoJson(features));
    if (!why.empty()) {
      std::cout << "error cannot write " << out << ": " << why << "\n";
      return 1;
    }
  }
  return 0;
}

const veldra::app::CommandRegistrar reg{
    "wfs-features", "SERVICE_URL [TYPE] MINX,MINY,MAXX,MAXY [--kind KEY] [--rounds N] [--out FILE]  features of a frame",
    &run};

}  // namespace
