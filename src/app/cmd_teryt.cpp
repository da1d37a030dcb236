// veldra teryt: the municipality under each frame (PRG boundaries WFS) and the
// county and municipal services the directories hold for it, and per office
// whether the import uses that service or a national integration service. Frames share one
// lookup record, as successive fetches of the import do.
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/FrameArg.h"
#include "net/LocalServices.h"
#include "net/NationalCascades.h"
#include "net/ServiceDirectory.h"

namespace {

using veldra::app::parseFrame;

int usage(const std::string& why) {
  std::cerr << "teryt: " << why << "\n"
            << "usage: veldra teryt MINX,MINY,MAXX,MAXY [MINX,MINY,MAXX,MAXY ...]   (PL-1992 metres)\n"
            << "       veldra teryt --code TERYT\n";
  return 2;
}


void printServices(const veldra::LocalServiceFile& local, const std::string& code) {
  auto line = [](const char* label, const std::string& url) { std::cout << label << " " << (url.empty() ? "-" : url) << "\n"; };
  veldra::ServiceAddresses egib = veldra::findService(local, veldra::ServiceKind::Egib, code);
  veldra::ServiceAddresses gesut = veldra::findService(local, veldra::ServiceKind::Gesut, code);
  veldra::ServiceAddresses bdot = veldra::findService(local, veldra::ServiceKind::Bdot500, code);
  veldra::ServiceAddresses plans = veldra::findService(local, veldra::ServiceKind::Plans, code);
  std::cout << "powiat " << (code.size() >= 4 ? code.substr(0, 4) : "-") << "\n";
  line("egib_wfs", egib.wfs);
  line("gesut_wms", gesut.wms);
  line("gesut_wfs", gesut.wfs);
  line("bdot500_wms", bdot.wms);
  line("bdot500_wfs", bdot.wfs);
  line("mpzp_wms", plans.wms);
  line("mpzp_wfs", plans.wfs);
  // Which service the import will draw from: the office's own or a national one.
  auto source = [](const char* label, veldra::ServiceKind kind, const veldra::ServiceAddresses& office,
                   const char* own) {
    const auto national = veldra::cascadeFor(kind, office);
    std::cout << label << " ";
    if (!national) {
      std::cout << own << "\n";
      return;
    }
    const veldra::CascadeService& svc = veldra::cascadeService(*national);
    std::cout << svc.name << " " << veldra::endpoints::url(svc.endpoint) << "\n";
  };
  source("gesut_source", veldra::ServiceKind::Gesut, gesut, "powiat");
  source("bdot500_source", veldra::ServiceKind::Bdot500, bdot, "powiat");
  source("mpzp_source", veldra::ServiceKind::Plans, plans, "gmina");
}

int run(const std::vector<std::string>& args) {
  const veldra::LocalServiceFile local = veldra::loadLocalServices();
  for (const auto& problem : local.problems) std::cerr << "teryt: " << problem << "\n";
  if (args.size() == 2 && args[0] == "--code") {
    printServices(local, args[1]);
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
    printServices(local, code);
  }
  std::cout << "layer " << cache.layer << "\n";
  return status;
}

const veldra::app::CommandRegistrar reg{
    "teryt", "MINX,MINY,MAXX,MAXY ... | --code TERYT  municipality of a frame and its services", &run};

}  // namespace
