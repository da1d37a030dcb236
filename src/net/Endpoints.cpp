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

constexpr std::string_view kGeoportal = "https://mapy.geoportal.gov.pl";
constexpr std::string_view kIntegracja = "https://integracja.gugik.gov.pl";
constexpr std::string_view kOpendata = "https://opendata.geoportal.gov.pl";
constexpr std::string_view kRegistry = "https://rejestr-urbanistyczny.gov.pl";
constexpr std::string_view kUldk = "https://uldk.gugik.gov.pl";
constexpr std::string_view kPhoton = "https://photon.komoot.io";
constexpr std::string_view kNominatim = "https://nominatim.openstreetmap.org";
constexpr std::string_view kOverpass = "https://overpass-api.de";
constexpr std::string_view kOverpassFallback = "https://overpass.kumi.systems";
constexpr std::string_view kOpenFreeMap = "https://tiles.openfreemap.org";

// Function-local tables must not depend on the order of static initialisation.
std::string S(std::string_view v) { return std::string(v); }

struct Entry {
  Service service;
  std::string address;
};

const std::vector<Entry>& table() {
  static const std::vector<Entry> t = {
      {Service::PrgBoundariesWfs, S(kGeoportal) + "/wss/service/PZGIK/PRG/WFS/AdministrativeBoundaries"},
      {Service::NmtIndexWfs, S(kGeoportal) + "/wss/service/PZGIK/NumerycznyModelTerenuEVRF2007/WFS/Skorowidze"},
      {Service::NmptIndexWfs, S(kGeoportal) + "/wss/service/PZGIK/NumerycznyModelPokryciaTerenuEVRF2007/WFS/Skorowidze"},
      {Service::LidarIndexWfs, S(kGeoportal) + "/wss/service/PZGIK/DanePomiaroweLidarEVRF2007/WFS/Skorowidze"},
      {Service::NmtIndexKron86Wfs, S(kGeoportal) + "/wss/service/PZGIK/NumerycznyModelTerenuKRON86/WFS/Skorowidze"},
      {Service::NmptIndexKron86Wfs,
       S(kGeoportal) + "/wss/service/PZGIK/NumerycznyModelPokryciaTerenuKRON86/WFS/Skorowidze"},
      {Service::LidarIndexKron86Wfs, S(kGeoportal) + "/wss/service/PZGIK/DanePomiaroweLidarKRON86/WFS/Skorowidze"},
      {Service::OrthoWms, S(kGeoportal) + "/wss/service/PZGIK/ORTO/WMS/StandardResolution"},
      {Service::OrthoHighResWms, S(kGeoportal) + "/wss/service/PZGIK/ORTO/WMS/HighResolution"},
      {Service::Bdot10kNewBuildingsWfs, S(kGeoportal) + "/wss/service/PZGIK/BDOT10k/WFS/NoweBudynki"},
      {Service::EgibCollectiveWfs, S(kGeoportal) + "/wss/service/PZGIK/EGIB/WFS/UslugaZbiorcza"},
      {Service::CountyEgibProxy, S(kGeoportal) + "/wss/ext/PowiatoweBazyEwidencjiGruntow"},
      {Service::KimpzpWms, S(kGeoportal) + "/wss/ext/KrajowaIntegracjaMiejscowychPlanowZagospodarowaniaPrzestrzennego"},
      {Service::PogWms, S(kGeoportal) + "/wss/ext/PlanyOgolneGmin"},
      {Service::KiappWms, S(kGeoportal) + "/wss/ext/KrajowaIntegracjaAktowPlanowaniaPrzestrzennego"},
      {Service::KiegWms, S(kIntegracja) + "/cgi-bin/KrajowaIntegracjaEwidencjiGruntow"},
      {Service::KiutWms, S(kIntegracja) + "/cgi-bin/KrajowaIntegracjaUzbrojeniaTerenu"},
      {Service::KibdotWms, S(kIntegracja) + "/cgi-bin/KrajowaIntegracjaBazDanychObiektowTopograficznych"},
      {Service::UldkApi, S(kUldk) + "/"},
      {Service::OpendataDownload, S(kOpendata)},
      {Service::Buildings3dLod1, S(kOpendata) + "/InneDane/Budynki3D/LOD1"},
      {Service::Buildings3dLod2, S(kOpendata) + "/InneDane/Budynki3D/LOD2"},
      {Service::RegistryBase, S(kRegistry)},
      {Service::RegistryQuery, S(kRegistry) + "/api/public/published/query"},
      {Service::RegistryUnitTree, S(kRegistry) + "/api/public/published/territorial/tree"},
      {Service::RegistryPogWfs, S(kRegistry) + "/uslugi-sieciowe/app-pog/wfs"},
      {Service::RegistryPogWms, S(kRegistry) + "/uslugi-sieciowe/wms-pog/wms"},
      {Service::RegistryMpzpWfs, S(kRegistry) + "/uslugi-sieciowe/app-mpzp/wfs"},
      {Service::RegistryMpzpWms, S(kRegistry) + "/uslugi-sieciowe/wms-mpzp/wms"},
      {Service::PhotonApi, S(kPhoton) + "/api/"},
      {Service::NominatimSearch, S(kNominatim) + "/search"},
      {Service::OverpassInterpreter, S(kOverpass) + "/api/interpreter"},
      {Service::OverpassFallback, S(kOverpassFallback) + "/api/interpreter"},
      {Service::BasemapStyleBright, S(kOpenFreeMap) + "/styles/bright"},
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

const std::vector<PublicHost>& publicHosts() {
  static const std::vector<PublicHost> hosts = {
      {"mapy", S(kGeoportal)},         {"integracja", S(kIntegracja)}, {"opendata", S(kOpendata)},
      {"rejestr", S(kRegistry)},       {"uldk", S(kUldk)},             {"photon", S(kPhoton)},
      {"nominatim", S(kNominatim)},    {"overpass", S(kOverpass)},     {"overpass2", S(kOverpassFallback)},
      {"openfreemap", S(kOpenFreeMap)},
  };
  return hosts;
}

RewriteTable loopbackRewrites(const std::string& base) {
  RewriteTable t;
  t.strict = true;
  for (const auto& h : publicHosts()) t.rules.push_back({h.origin, base + "/" + h.alias});
  return t;
}

std::string rewriteTableJson(const RewriteTable& t) {
  nlohmann::json rules = nlohmann::json::array();
  for (const auto& r : t.rules) rules.push_back({r.from, r.to});
  nlohmann::json j{{"rewrite", rules}, {"strict", t.strict}};
  return j.dump(2);
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
