#include "net/RasterTiles.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "formats/ImageContent.h"
#include "geo/Projections.h"
#include "net/OgcClient.h"

namespace veldra {

namespace {

bool isPl2000(int epsg) { return epsg >= 2176 && epsg <= 2179; }

long long truncated(double v) { return std::isfinite(v) ? static_cast<long long>(v) : 0; }

}  // namespace

bool isPngOrJpeg(const std::string& b) {
  auto u = [&](std::size_t i) { return static_cast<unsigned char>(b[i]); };
  if (b.size() > 8 && u(0) == 137 && u(1) == 80 && u(2) == 78 && u(3) == 71) return true;
  return b.size() > 3 && u(0) == 255 && u(1) == 216;
}

RasterFetchResult fetchRasterTiles(WfsClient& client, const Bbox& frame, const std::string& wmsUrl,
                                   const std::string& layers, double density, DataType type, int epsg,
                                   std::vector<RasterTile>& out,
                                   const std::function<void(const std::string&)>& report,
                                   const RasterRequestOptions& options) {
  RasterFetchResult result;
  const double W = frame.maxX - frame.minX;
  const double H = frame.maxY - frame.minY;
  // A degenerate frame or density would turn into absurd tile counts.
  if (!(W > 0) || !(H > 0) || !std::isfinite(W) || !std::isfinite(H) || !(density > 0) || !std::isfinite(density))
    return result;

  const double span = density * kRasterMaxPixels;
  double txd = std::max(std::ceil(W / span), 1.0);
  double tyd = std::max(std::ceil(H / span), 1.0);
  if (txd > kRasterMaxTilesPerAxis || tyd > kRasterMaxTilesPerAxis) {
    txd = std::min(txd, double(kRasterMaxTilesPerAxis));
    tyd = std::min(tyd, double(kRasterMaxTilesPerAxis));
    const double s = std::max(H / (tyd * kRasterMaxPixels), W / (txd * kRasterMaxPixels)) / 0.00028;
    result.notice = "Kadr bardzo szeroki - rastry ograniczone do " + std::to_string(truncated(txd * tyd)) +
                    " platek (ok. 1:" + std::to_string(truncated(s)) + ").";
  }
  const int tx = static_cast<int>(txd);
  const int ty = static_cast<int>(tyd);

  if (report) {
    char dens[64];
    std::snprintf(dens, sizeof dens, "%.6f", density);
    report("VELDRA: rastr " + typeKey(type) + ": kadr " + std::to_string(truncated(W)) + "x" +
           std::to_string(truncated(H)) + " m, gestosc " + dens + " m/px (1:" +
           std::to_string(truncated(density / 0.00028)) + "), platki " + std::to_string(tx) + "x" +
           std::to_string(ty));
  }

  int requestEpsg = 2180;
  Bbox box = frame;
  if (isPl2000(epsg)) {
    requestEpsg = epsg;
    box = pl2000BoxOf(frame, epsg);
  }

  const double tileW = (box.maxX - box.minX) / tx;
  const double tileH = (box.maxY - box.minY) / ty;
  for (int j = 0; j < ty; ++j) {
    for (int i = 0; i < tx; ++i) {
      const double tb[4] = {box.minX + i * tileW, box.minY + j * tileH, box.minX + (i + 1) * tileW,
                            box.minY + (j + 1) * tileH};
      // Under a resolution limit the width is rounded up, so that truncation
      // cannot make the first image just coarser than the limit.
      const double pixels = options.maxMetresPerPixel > 0
                                ? std::ceil(tileW / std::min(density, options.maxMetresPerPixel) - 1e-6)
                                : tileW / density;
      int p = static_cast<int>(std::clamp(pixels, double(kRasterMinPixels), double(kRasterMaxPixels)));
      // Narrow tiles (under 512 px) still get their first request; only the
      // retries at half the width stop below 512.
      for (int attempt = 0; attempt < kRasterMaxAttempts; ++attempt) {
        // Capped like the width: a narrow tall tile must not ask for an image
        // tens of thousands of pixels high.
        const int h = std::clamp(static_cast<int>(std::min(tileH * p / tileW, double(kRasterMaxPixels))), 1,
                                 kRasterMaxPixels);
        if (options.maxMetresPerPixel > 0 && tileW / p > options.maxMetresPerPixel * (1 + 1e-9)) break;
        HttpResponse r = client.get(buildGetMapUrl(wmsUrl, layers, tb, p, h, requestEpsg, options.version));
        if (r.status == 200 && isPngOrJpeg(r.body) && options.rejectBlankImages &&
            inspectImage(r.body) != ImageContent::Drawing)
          break;   // a valid answer: nothing drawn here, a narrower image would not change that
        if (r.status == 200 && isPngOrJpeg(r.body)) {
          RasterTile t;
          t.type = type;
          t.bytes.assign(r.body.begin(), r.body.end());
          t.minX = tb[0];
          t.minY = tb[1];
          t.maxX = tb[2];
          t.maxY = tb[3];
          t.epsg = requestEpsg;
          out.push_back(std::move(t));
          ++result.tiles;
          break;
        }
        p /= 2;
        if (p < kRasterRetryMinPixels) break;
      }
    }
  }
  return result;
}

}  // namespace veldra
