#include "net/Endpoints.h"

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <sstream>

#include <nlohmann/json.hpp>

#include "net/HttpTransport.h"

namespace veldra::endpoints {

namespace {

const std::string kGeoportal = "https://mapy.geoportal.gov.pl";
const std::string kIntegracja = "https://integracja.gugik.gov.pl";
const std::string kOpendata = "https://opendata.geoportal.gov.pl";
const std::string kRegistry = "https://rejestr-urbanistyczny.gov.pl";

struct Entry {
  Service service;
  std::string address;
};

const std::vector<Entry>& table() {
  static const std::vector<Entry> t = {
      {Service::PrgBoundariesWfs, kGeoportal + "/wss/service/PZGIK/PRG/WFS/AdministrativeBoundaries"},
      {Service::NmtIndexWfs, kGeoportal + "/wss/service/PZGIK/NumerycznyModelTerenuEVRF2007/WFS/Skorowidze"},
      {Service::NmptIndexWfs, kGeoportal + "/wss/service/PZGIK/NumerycznyModelPokryciaTerenuEVRF2007/WFS/Skorowidze"},
      {Service::LidarIndexWfs, kGeoportal + "/wss/service/PZGIK/DanePomiaroweLidarEVRF2007/WFS/Skorowidze"},
      {Service::NmtIndexKron86Wfs, kGeoportal + "/wss/service/PZGIK/NumerycznyModelTerenuKRON86/WFS/Skorowidze"},
      {Service::NmptIndexKron86Wfs,
       kGeoportal + "/wss/service/PZGIK/NumerycznyModelPokryciaTerenuKRON86/WFS/Skorowidze"},
      {Service::LidarIndexKron86Wfs, kGeoportal + "/wss/service/PZGIK/DanePomiaroweLidarKRON86/WFS/Skorowidze"},
      {Service::OrthoWms, kGeoportal + "/wss/service/PZGIK/ORTO/WMS/StandardResolution"},
      {Service::OrthoHighResWms, kGeoportal + "/wss/service/PZGIK/ORTO/WMS/HighResolution"},
      {Service::Bdot10kNewBuildingsWfs, kGeoportal + "/wss/service/PZGIK/BDOT10k/WFS/NoweBudynki"},
      {Service::EgibCollectiveWfs, kGeoportal + "/wss/service/PZGIK/EGIB/WFS/UslugaZbiorcza"},
      {Service::CountyEgibProxy, kGeoportal + "/wss/ext/PowiatoweBazyEwidencjiGruntow"},
      {Service::KimpzpWms, kGeoportal + "/wss/ext/KrajowaIntegracjaMiejscowychPlanowZagospodarowaniaPrzestrzennego"},
      {Service::PogWms, kGeoportal + "/wss/ext/PlanyOgolneGmin"},
      {Service::KiappWms, kGeoportal + "/wss/ext/KrajowaIntegracjaAktowPlanowaniaPrzestrzennego"},
      {Service::KiegWms, kIntegracja + "/cgi-bin/KrajowaIntegracjaEwidencjiGruntow"},
      {Service::KiutWms, kIntegracja + "/cgi-bin/KrajowaIntegracjaUzbrojeniaTerenu"},
      {Service::KibdotWms, kIntegracja + "/cgi-bin/KrajowaIntegracjaBazDanychObiektowTopograficznych"},
      {Service::UldkApi, "https://uldk.gugik.gov.pl/"},
      {Service::OpendataDownload, kOpendata},
      {Service::Buildings3dLod1, kOpendata + "/InneDane/Budynki3D/LOD1"},
      {Service::Buildings3dLod2, kOpendata + "/InneDane/Budynki3D/LOD2"},
      {Service::RegistryBase, kRegistry},
      {Service::RegistryQuery, kRegistry + "/api/public/published/query"},
      {Service::RegistryUnitTree, kRegistry + "/api/public/published/territorial/tree"},
      {Service::RegistryPogWfs, kRegistry + "/uslugi-sieciowe/app-pog/wfs"},
      {Service::RegistryPogWms, kRegistry + "/uslugi-sieciowe/wms-pog/wms"},
      {Service::RegistryMpzpWfs, kRegistry + "/uslugi-sieciowe/app-mpzp/wfs"},
      {Service::RegistryMpzpWms, kRegistry + "/uslugi-sieciowe/wms-mpzp/wms"},
      {Service::PhotonApi, "https://photon.komoot.io/api/"},
      {Service::NominatimSearch, "https://nominatim.openstreetmap.org/search"},
      {Service::OverpassInterpreter, "https://overpass-api.de/api/interpreter"},
      {Service::OverpassFallback, "https://overpass.kumi.systems/api/interpreter"},
      {Service::BasemapStyleBright, "https://tiles.openfreemap.org/styles/bright"},
  };
  return t;
}

std::mutex gMutex;
std::shared_ptr<const RewriteTable> gOverride;
std::shared_ptr<const RewriteTable> gFromEnv;
bool gEnvLoaded = false;

std::shared_ptr<const RewriteTable> processTable() {
  std::lock_guard<std::mutex> lock(gMutex);
  if (gOverride) return gOverride;
  if (!gEnvLoaded) {
    gEnvLoaded = true;
    if (const char* p = std::getenv("VELDRA_ENDPOINTS"); p && *p) {
      gFromEnv = std::make_shared<const RewriteTable>(loadRewriteTable(p));
    }
  }
  return gFromEnv;
}

}  // namespace

const std::string& url(Service s) {
  for (const auto& e : table()) {
    if (e.service == s) return e.address;
  }
  static const std::string empty;
  return empty;
}

RewriteTable parseRewriteTable(std::string_view jsonText) {
  RewriteTable t;
  auto j = nlohmann::json::parse(jsonText.begin(), jsonText.end(), nullptr, false);
  if (j.is_discarded() || !j.is_object()) {
    t.error = "to nie jest obiekt JSON";
    return t;
  }
  if (auto it = j.find("strict"); it != j.end()) {
    if (!it->is_boolean()) {
      t.error = "\"strict\" musi byc true lub false";
      return t;
    }
    t.strict = it->get<bool>();
  }
  auto rw = j.find("rewrite");
  if (rw == j.end()) return t;
  if (!rw->is_array()) {
    t.error = "\"rewrite\" musi byc lista par";
    return t;
  }
  for (const auto& pair : *rw) {
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string() ||
        pair[0].get_ref<const std::string&>().empty()) {
      t.error = "kazda regula \"rewrite\" to para niepustych tekstow [z, na]";
      return t;
    }
    t.rules.push_back({pair[0].get<std::string>(), pair[1].get<std::string>()});
  }
  return t;
}

RewriteTable loadRewriteTable(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    RewriteTable t;
    t.error = "nie mozna odczytac " + path;
    return t;
  }
  std::ostringstream ss;
  ss << in.rdbuf();
  RewriteTable t = parseRewriteTable(ss.str());
  if (!t.error.empty()) t.error = path + ": " + t.error;
  return t;
}

RoutedUrl applyRewrite(const RewriteTable& t, const std::string& address) {
  RoutedUrl r;
  if (!t.error.empty()) {
    r.error = "Nieprawidlowa konfiguracja VELDRA_ENDPOINTS: " + t.error;
    return r;
  }
  for (const auto& rule : t.rules) {
    if (address.compare(0, rule.from.size(), rule.from) == 0) {
      r.url = rule.to + address.substr(rule.from.size());
      return r;
    }
  }
  if (t.strict) {
    r.error = "Brak polaczenia z " + hostOf(address);
    return r;
  }
  r.url = address;
  return r;
}

RoutedUrl route(const std::string& address) {
  auto t = processTable();
  if (!t) return RoutedUrl{address, {}};
  return applyRewrite(*t, address);
}

void setProcessRewriteTable(std::optional<RewriteTable> t) {
  std::lock_guard<std::mutex> lock(gMutex);
  gOverride = t ? std::make_shared<const RewriteTable>(std::move(*t)) : nullptr;
}

}  // namespace veldra::endpoints
