#include "app/DemoMode.h"

#include <cmath>
#include <system_error>

#include <nlohmann/json.hpp>

#include "app/WebResources.h"
#include "formats/JsonNumbers.h"
#include "net/Endpoints.h"
#include "net/FixtureServer.h"
#include "net/WfsClient.h"
#include "platform/Paths.h"

namespace veldra::app {

namespace fs = std::filesystem;
using nlohmann::json;

namespace {

bool finiteNumber(const json& v, double& out) {
  if (!v.is_number()) return false;
  out = v.get<double>();
  return std::isfinite(out);
}

bool zoomLevel(const json& v, int& out) {
  std::int64_t z = 0;
  if (readJsonWhole(v, 0, 22, z) != JsonWhole::Ok) return false;
  out = static_cast<int>(z);
  return true;
}

// Embedded names come from our own build, yet a name leaving the folder is
// never written.
bool safeName(const std::string& name) {
  const fs::path p(name);
  if (name.empty() || p.is_absolute()) return false;
  for (const auto& part : p)
    if (part == ".." || part == ".") return false;
  return true;
}

std::string extractFiles(const fs::path& dir) {
  if (demoFiles().empty()) return "ten program nie zawiera danych przykladowych";
  if (std::string why = platform::ensurePrivateFolders(dir); !why.empty()) return why;
  for (const auto& f : demoFiles()) {
    if (!safeName(f.name)) return std::string("niedozwolona nazwa pliku: ") + f.name;
    if (std::string why = platform::writeFileAtomically(dir / f.name, resourceText(f)); !why.empty()) return why;
  }
  return {};
}

}  // namespace

DemoAreaReading parseDemoArea(std::string_view text) {
  DemoAreaReading r;
  const json j = json::parse(text.begin(), text.end(), nullptr, false);
  auto fail = [&](const std::string& why) {
    r.error = "demo.json: " + why;
    return r;
  };
  if (!j.is_object()) return fail("to nie jest obiekt JSON");
  DemoArea& a = r.area;
  if (!j.contains("name") || !j["name"].is_string()) return fail("brak \"name\"");
  a.name = j["name"].get<std::string>();
  const json bbox = j.value("bbox", json());
  if (!bbox.is_array() || bbox.size() != 4) return fail("\"bbox\" to cztery liczby W, S, E, N");
  for (int k = 0; k < 4; ++k)
    if (!finiteNumber(bbox[k], a.bbox[k])) return fail("\"bbox\" to cztery liczby W, S, E, N");
  if (!(a.bbox[0] < a.bbox[2] && a.bbox[1] < a.bbox[3]) || a.bbox[0] < -180 || a.bbox[2] > 180 || a.bbox[1] < -90 ||
      a.bbox[3] > 90)
    return fail("\"bbox\" poza zakresem stopni lub odwrocony");
  const json center = j.value("center", json());
  if (!center.is_array() || center.size() != 2 || !finiteNumber(center[0], a.lat) || !finiteNumber(center[1], a.lon) ||
      std::fabs(a.lat) > 90 || std::fabs(a.lon) > 180)
    return fail("\"center\" to [szerokosc, dlugosc] w stopniach");
  if (!j.contains("zoom") || !zoomLevel(j["zoom"], a.zoom)) return fail("\"zoom\" to liczba calkowita 0..22");
  if (!j.contains("tiles") || !j["tiles"].is_string() || j["tiles"].get<std::string>().rfind('/', 0) != 0)
    return fail("\"tiles\" to sciezka na serwerze, od \"/\"");
  a.tiles = j["tiles"].get<std::string>();
  if (!j.contains("minZoom") || !zoomLevel(j["minZoom"], a.minZoom) || !j.contains("maxZoom") ||
      !zoomLevel(j["maxZoom"], a.maxZoom) || a.minZoom > a.maxZoom)
    return fail("\"minZoom\" i \"maxZoom\" to liczby calkowite 0..22, min <= max");
  for (const auto& pair : j.value("rewrite", json::array())) {
    if (!pair.is_array() || pair.size() != 2 || !pair[0].is_string() || !pair[1].is_string() ||
        pair[0].get_ref<const std::string&>().empty() || pair[1].get_ref<const std::string&>().empty())
      return fail("\"rewrite\" to lista par [adres, alias]");
    a.rewrite.emplace_back(pair[0].get<std::string>(), pair[1].get<std::string>());
  }
  return r;
}

struct DemoSession::Impl {
  DemoArea area;
  std::unique_ptr<fixture::FixtureServer> server;
};

DemoSession::DemoSession(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

DemoSession::~DemoSession() {
  // A worker still finishing must not reach out once the demo's server is gone.
  endpoints::RewriteTable refuseAll;
  refuseAll.strict = true;
  endpoints::setProcessRewriteTable(std::move(refuseAll));
  impl_->server->stop();
}

std::unique_ptr<DemoSession> DemoSession::start(const fs::path& workDir, std::string& error) {
  const fs::path dataDir = workDir / "data", cacheDir = workDir / "cache";
  if (error = extractFiles(dataDir); !error.empty()) return nullptr;
  std::string text;
  if (!platform::readWholeFile(dataDir / "demo.json", text)) {
    error = "brak demo.json w danych przykladowych";
    return nullptr;
  }
  auto impl = std::make_unique<Impl>();
  DemoAreaReading reading = parseDemoArea(text);
  if (!reading.error.empty()) {
    error = reading.error;
    return nullptr;
  }
  impl->area = std::move(reading.area);
  impl->server = fixture::FixtureServer::fromDirectory(dataDir.string(), error);
  if (!impl->server || !impl->server->start(0, error)) return nullptr;

  // The cache keys stay the original addresses, so the demo keeps its own
  // cache; emptied so that a newer program never shows an older demo's answers.
  std::error_code ec;
  fs::remove_all(cacheDir, ec);
  if (std::string why = platform::ensurePrivateFolders(cacheDir); !why.empty()) {
    error = why;
    impl->server->stop();
    return nullptr;
  }
  setCacheDir(cacheDir.string());

  const std::string base = impl->server->baseUrl();
  endpoints::RewriteTable table;
  table.strict = true;
  for (const auto& [origin, alias] : impl->area.rewrite) table.rules.push_back({origin, base + "/" + alias});
  for (auto& rule : endpoints::loopbackRewrites(base).rules) table.rules.push_back(std::move(rule));
  endpoints::setProcessRewriteTable(std::move(table));
  return std::unique_ptr<DemoSession>(new DemoSession(std::move(impl)));
}

const DemoArea& DemoSession::area() const { return impl_->area; }

std::string DemoSession::baseUrl() const { return impl_->server->baseUrl(); }

std::string DemoSession::pageSettingsJson() const {
  const DemoArea& a = impl_->area;
  const json j{{"status", kDemoStatusText},
               {"name", a.name},
               {"bbox", a.bbox},
               {"center", {a.lat, a.lon}},
               {"zoom", a.zoom},
               {"tiles", baseUrl() + a.tiles},
               {"minZoom", a.minZoom},
               {"maxZoom", a.maxZoom}};
  return j.dump();
}

std::string demoPageScript(const std::string& settingsJson) {
  // "<" only occurs inside JSON strings, where \u003c means the same and
  // cannot close the script element.
  std::string safe;
  for (char c : settingsJson) safe += c == '<' ? std::string("\\u003c") : std::string(1, c);
  return "window.VELDRA_DEMO = " + safe + ";\n";
}

}  // namespace veldra::app
