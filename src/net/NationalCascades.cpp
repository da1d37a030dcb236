#include "net/NationalCascades.h"

#include <algorithm>
#include <map>
#include <mutex>

#include "geo/Projections.h"
#include "net/Capabilities.h"
#include "net/RasterTiles.h"

namespace veldra {

namespace {

constexpr double kMetresPerScaleUnit = 0.00028;   // the OGC standard pixel

const CascadeService kServices[] = {
    {NationalCascade::Kiut, "KIUT", endpoints::Service::KiutWms, DataType::Gesut, 0.28, WmsVersion::V130, ""},
    // No capabilities of KIBDOT have been seen; its clients ask for "bdot" in 1.1.1.
    {NationalCascade::Kibdot, "KIBDOT", endpoints::Service::KibdotWms, DataType::Bdot500, 0, WmsVersion::V111,
     "bdot"},
    {NationalCascade::Kimpzp, "KIMPZP", endpoints::Service::KimpzpWms, DataType::Mpzp, 0, WmsVersion::V111, ""},
    {NationalCascade::Kieg, "KIEG", endpoints::Service::KiegWms, DataType::Dzialki, 0, WmsVersion::V130,
     "dzialki,numery_dzialek,budynki"},
};

std::vector<std::string> splitNames(std::string_view list) {
  std::vector<std::string> out;
  while (!list.empty()) {
    const auto comma = list.find(',');
    if (comma != 0) out.emplace_back(list.substr(0, comma));
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return out;
}

std::string joined(const std::vector<std::string>& names) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : ",") + n;
  return out;
}

CascadeOutcome fetchCascade(const CascadeContext& ctx, NationalCascade which) {
  const CascadeService& svc = cascadeService(which);
  const double density = svc.maxMetresPerPixel > 0 ? std::min(ctx.metresPerPixel, svc.maxMetresPerPixel)
                                                   : ctx.metresPerPixel;
  const CascadeRequest req = planCascadeRequest(which, cascadeCapabilities(ctx.client, which), density,
                                                ctx.projectZone);
  CascadeOutcome out;
  if (req.layers.empty()) return out;
  RasterRequestOptions options;
  options.version = req.version;
  options.maxMetresPerPixel = svc.maxMetresPerPixel;
  options.rejectBlankImages = true;
  const RasterFetchResult r = fetchRasterTiles(ctx.client, ctx.frame, endpoints::url(svc.endpoint), joined(req.layers),
                                               density, svc.type, req.epsg, ctx.rasters, ctx.report, options);
  if (!r.notice.empty()) out.notes.push_back(r.notice);
  out.tiles = r.tiles;
  return out;
}

}  // namespace

const CascadeService& cascadeService(NationalCascade which) {
  for (const auto& s : kServices)
    if (s.which == which) return s;
  return kServices[0];
}

std::optional<NationalCascade> cascadeFor(ServiceKind kind, const ServiceAddresses& office) {
  switch (kind) {
    case ServiceKind::Gesut:
      if (office.wms.empty() && office.wfs.empty()) return NationalCascade::Kiut;
      break;
    case ServiceKind::Bdot500:
      if (office.wms.empty()) return NationalCascade::Kibdot;
      break;
    case ServiceKind::Plans:
      if (office.wms.empty()) return NationalCascade::Kimpzp;
      break;
    case ServiceKind::Egib:
      break;
  }
  return std::nullopt;
}

std::string cascadeCapabilities(WfsClient& client, NationalCascade which) {
  static std::mutex mutex;
  static std::map<NationalCascade, std::string> known;
  {
    std::lock_guard<std::mutex> lock(mutex);
    if (auto it = known.find(which); it != known.end()) return it->second;
  }
  // Asked outside the lock: a slow service must not hold up the others.
  HttpResponse r = client.get(capabilitiesUrl(endpoints::url(cascadeService(which).endpoint), "WMS"));
  if (r.status != 200 || readCapabilities(r.body).kind != Capabilities::Kind::Wms) return {};
  std::lock_guard<std::mutex> lock(mutex);
  return known.emplace(which, std::move(r.body)).first->second;
}

CascadeRequest planCascadeRequest(NationalCascade which, std::string_view capabilities, double metresPerPixel,
                                  int projectZone) {
  const CascadeService& svc = cascadeService(which);
  CascadeRequest req;
  if (capabilities.empty()) {
    req.version = svc.versionWithoutCapabilities;
    req.layers = splitNames(svc.layersWithoutCapabilities);
    return req;
  }
  const Capabilities caps = readCapabilities(capabilities);
  req.version = wmsVersionOf(caps.version);
  req.epsg = epsgFromSrsName(capabilities, projectZone);
  std::vector<std::string> names = wmsLayerChoice(capabilities, svc.type);
  if (which == NationalCascade::Kimpzp) names = planDrawingLayers(names);
  const double scale = metresPerPixel / kMetresPerScaleUnit;
  for (auto& n : names) {
    const CapabilitiesLayer* layer = findLayer(caps, n);
    if (!layer || drawsAtScale(*layer, scale)) req.layers.push_back(std::move(n));
  }
  return req;
}

CascadeOutcome utilitiesFromKiut(const CascadeContext& ctx) {
  CascadeOutcome out = fetchCascade(ctx, NationalCascade::Kiut);
  out.notes.push_back(out.tiles > 0 ? "GESUT: powiat nie publikuje uslugi w EZiU - rastr z krajowej integracji KIUT."
                                    : "GESUT: powiat nie publikuje uslugi w EZiU.");
  return out;
}

CascadeOutcome baseMapFromKibdot(const CascadeContext& ctx) {
  CascadeOutcome out = fetchCascade(ctx, NationalCascade::Kibdot);
  out.notes.push_back(out.tiles > 0
                          ? "BDOT500: powiat nie publikuje uslugi w EZiU - rastr z krajowej integracji KIBDOT."
                          : "BDOT500: powiat nie publikuje uslugi w EZiU.");
  return out;
}

CascadeOutcome plansFromKimpzp(const CascadeContext& ctx, const std::string& municipality) {
  CascadeOutcome out = fetchCascade(ctx, NationalCascade::Kimpzp);
  out.notes.push_back(out.tiles > 0 ? "MPZP gminy " + municipality +
                                          ": brak uslugi gminnej w EZiU - rysunek z krajowej integracji KIMPZP."
                                    : "Brak MPZP dla gminy " + municipality + ": brak uslugi WMS w EZiU.");
  return out;
}

}  // namespace veldra
