// veldra teryt: the municipality under each frame (PRG boundaries WFS) and the
// county and municipal services the directories hold for it. Frames share one
// lookup record, as successive fetches of the import do.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/FrameArg.h"
#include "net/ServiceDirectory.h"

namespace {

using veldra::app::parseFrame;

int usage(const std::string& why) {
  std::cerr << "teryt: " << why << "\n"
            << "usage: veldra teryt MINX,MINY,MAXX,MAXY [MINX,MINY,MAXX,MAXY ...]   (PL-1992 metres)\n"
            << "       veldra teryt --code TERYT\n";
  return 2;
}


void printServices(const std::string& code) {
  auto line = [](const char* label, const std::string& url) { std::cout << label << " " << (url.empty() ? "-" : url) << "\n"; };
  veldra::ServiceAddresses egib = veldra::lookupService(veldra::countyEgibServices, code, 4);
  veldra::ServiceAddresses gesut = veldra::lookupService(veldra::countyGesutServices, code, 4);
  veldra::ServiceAddresses bdot = veldra::lookupService(veldra::countyBdot500Services, code, 4);
  veldra::ServiceAddresses plans = veldra::lookupService(veldra::municipalPlanServices, code, 6);
  std::cout << "powiat " << (code.size() >= 4 ? code.substr(0, 4) : "-") << "\n";
  line("egib_wfs", egib.wfs);
  line("gesut_wms", gesut.wms);
  line("gesut_wfs", gesut.wfs);
  line("bdot500_wms", bdot.wms);
  line("bdot500_wfs", bdot.wfs);
  line("mpzp_wms", plans.wms);
  line("mpzp_wfs", plans.wfs);
}

int run(const std::vector<std::string>& args) {
  if (args.size() == 2 && args[0] == "--code") {
    printServices(args[1]);
    return 0;
  }
  std::vector<veldra::Bbox> frames;
  for (const auto& a : args) {
    veldra::Bbox f;
    if (!parseFrame(a, f)) return usage("not a frame: " + a);
    frames.push_back(f);
  }
  if (frames.empty()) return usage("a frame is required");

  veldra::WfsClient http;
  veldra::MunicipalityCache cache;
  int status = 0;
  for (const auto& f : frames) {
    std::string code = veldra::resolveMunicipality(http, cache, f);
    std::cout << "teryt " << (code.empty() ? "-" : code) << "\n";
    if (code.empty()) {
      status = 1;
      continue;
    }
    printServices(code);
  }
  std::cout << "layer " << cache.layer << "\n";
  return status;
}

const veldra::app::CommandRegistrar reg{
    "teryt", "MINX,MINY,MAXX,MAXY ... | --code TERYT  municipality of a frame and its services", &run};

}  // namespace
