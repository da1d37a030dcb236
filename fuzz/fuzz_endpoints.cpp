// Rewrite tables (VELDRA_ENDPOINTS) and fixture manifests are read from files
// a user or a test writes; neither may crash on any text.
#include <cstddef>
#include <cstdint>
#include <string>

#include "net/Endpoints.h"
#include "net/FixtureServer.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  auto table = veldra::endpoints::parseRewriteTable(text);
  for (const char* url : {"https://mapy.geoportal.gov.pl/wss?x=1", "http://a/", "", "https://"}) {
    auto r = veldra::endpoints::applyRewrite(table, url);
    if (!r.error.empty() && !r.url.empty()) __builtin_trap();
  }
  if (table.error.empty()) {
    auto again = veldra::endpoints::parseRewriteTable(veldra::endpoints::rewriteTableJson(table));
    if (!again.error.empty() || again.rules.size() != table.rules.size()) __builtin_trap();
  }
  std::string error;
  auto server = veldra::fixture::FixtureServer::fromManifest(text, "/nonexistent-fixture-root", error);
  if (!server && error.empty()) __builtin_trap();
  return 0;
}
