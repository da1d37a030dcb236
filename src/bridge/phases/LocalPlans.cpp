// Local plan drawings as pictures from the municipality's WMS.
#include "bridge/phases/Phases.h"

#include <algorithm>
#include <iterator>

#include "net/Capabilities.h"
#include "net/RasterTiles.h"

namespace veldra {

namespace {

std::string lowerAscii(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

// Drawing layers of a municipal plan WMS: names with "rysun"; else names
// without any of the auxiliary words; else every name.
std::vector<std::string> planDrawingLayers(const std::vector<std::string>& names) {
  std::vector<std::string> drawing;
  for (const auto& n : names)
    if (lowerAscii(n).find("rysun") != std::string::npos) drawing.push_back(n);
  if (!drawing.empty()) return drawing;
  static const char* const kAuxiliary[] = {"granic", "zasieg", "obrys", "zbior", "aktplanowania"};
  for (const auto& n : names) {
    const std::string low = lowerAscii(n);
    if (std::none_of(std::begin(kAuxiliary), std::end(kAuxiliary),
                     [&](const char* w) { return low.find(w) != std::string::npos; }))
      drawing.push_back(n);
  }
  if (!drawing.empty()) return drawing;
  return names;
}

}  // namespace

void fetchLocalPlans(FetchContext& ctx, FetchedData& data) {
  using namespace phase_support;
  const std::string code = ctx.municipality();
  if (code.empty()) {
    ctx.noteOnce("MPZP/POG pominiete: nie udalo sie ustalic gminy (TERYT) dla widoku.");
    return;
  }
  const std::string wms = findService(ctx.localServices(), ServiceKind::Plans, code).wms;
  if (wms.empty()) {
    ctx.note("Brak MPZP dla gminy " + code + ": brak uslugi WMS w EZiU.");
    return;
  }
  const std::string caps = wmsCapabilities(ctx, wms);
  const std::vector<std::string> layers =
      caps.empty() ? std::vector<std::string>{} : planDrawingLayers(wmsLayerChoice(caps, DataType::Mpzp));
  int tiles = 0;
  if (!layers.empty())
    tiles = rasterTiles(ctx, data, wms, joinNames(layers), countyRasterDensity(ctx.request().rasterScale),
                        DataType::Mpzp, epsgFromSrsName(caps, ctx.request().zone));
  ctx.note(tiles > 0 ? "MPZP: pobrano rysunek planu (rastr) z uslugi gminnej dla " + code + "."
                     : "MPZP gminy " + code + ": usluga WMS nie odpowiada albo nie ma rysunku planu.");
}

}  // namespace veldra
