// `veldra cloud`: the point-cloud palette's download for scripts. Prints the estimate, the
// progress and the result; the E57 file goes straight to --out.
#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include "app/Commands.h"
#include "app/FrameArg.h"
#include "app/ProjectOpen.h"
#include "cloud/LidarResolver.h"
#include "cloud_ui/CloudController.h"
#include "cloud_ui/CloudDownload.h"
#include "cloud_ui/CloudEstimate.h"
#include "host/MemoryHost.h"
#include "net/WfsClient.h"

namespace veldra::app {
namespace {

int usage() {
  std::cerr << "usage: veldra cloud --bbox W,S,E,N --detail lekki|standard|full [--project FILE] --out FILE.e57\n";
  return 2;
}

int run(const std::vector<std::string>& args) {
  std::string bboxText, detailText, projectPath, out;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string* target = args[i] == "--bbox"      ? &bboxText
                          : args[i] == "--detail"  ? &detailText
                          : args[i] == "--project" ? &projectPath
                          : args[i] == "--out"     ? &out
                                                   : nullptr;
    if (!target || i + 1 >= args.size()) {
      std::cerr << "cloud: unknown or incomplete option " << args[i] << "\n";
      return usage();
    }
    *target = args[++i];
  }
  if (bboxText.empty() || out.empty()) return usage();
  Bbox b;   // read as west, south, east, north
  const bool parsed = parseFrame(bboxText, b);
  const Wgs84Frame frame{b.minX, b.minY, b.maxX, b.maxY};
  if (!parsed || !usableFrame(frame)) {
    std::cerr << "cloud: --bbox needs four numbers in degrees, west,south,east,north: " << bboxText << "\n";
    return 2;
  }
  if (!detailText.empty() && detailText != "lekki" && detailText != "standard" && detailText != "full") {
    std::cerr << "cloud: --detail is lekki, standard or full\n";
    return 2;
  }
  const cloudui::Detail detail = cloudui::parseDetail(detailText);

  MemoryHost host;
  if (!openProjectInto(projectPath, host)) return 1;
  const CloudDownloadJob job = cloudDownloadJob(host, frame, detail);

  WfsClient client;
  // As the palette's late estimate: the densest sheet, else the palette's starting density.
  double density = 0;
  for (const LidarTile& t : LidarResolver(client).queryLidarIndex(job.frame))
    if (std::isfinite(t.density)) density = std::max(density, t.density);
  if (!(density > 0)) density = 12.0;
  const double area = (job.frame.maxX - job.frame.minX) * (job.frame.maxY - job.frame.minY);
  const CloudEstimate e = estimateCloud(area, density, detail);
  std::printf("estimate %lld points %.1f MB density %.2f%s\n", static_cast<long long>(e.points), e.bytes / 1e6, density,
              e.overLimit ? " over-limit" : "");
  std::fflush(stdout);

  CloudDownloadEvents events;
  events.progress = [](const std::string& label, double pct, bool) {
    std::fprintf(stderr, "progress %.0f%% %s\n", pct, label.c_str());
  };
  CloudDownloadOptions options;
  options.outputPath = out;
  const std::atomic<bool> never{false};
  const CloudDownloadResult r = runCloudDownload(job, client, never, events, options);
  if (!r.ok) {
    std::printf("failed: %s\n", r.message.c_str());
    return 1;
  }
  std::printf("wrote %lld points to %s (EPSG:%d, origin %.3f %.3f %.3f)\n", static_cast<long long>(r.count),
              out.c_str(), r.epsg, r.offE, r.offN, job.originZ);
  std::printf("stages: index %.3f s, transfer %.3f s, decode+clip+thin %.3f s, write %.3f s\n", r.stages.index,
              r.stages.transfer, r.stages.decode, r.stages.write);
  return 0;
}

const CommandRegistrar reg{"cloud",
                           "--bbox W,S,E,N --detail lekki|standard|full [--project FILE] --out FILE.e57  "
                           "the LiDAR points of a frame as one E57 file",
                           &run};

}  // namespace
}  // namespace veldra::app
