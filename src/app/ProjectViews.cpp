#include "app/ProjectViews.h"

#include <system_error>

#include "app/CloudViewFile.h"
#include "cloud/E57Reader.h"
#include "host/GltfExport.h"
#include "host/PlanExport.h"
#include "platform/Paths.h"

namespace veldra::app {

namespace {
constexpr const char* kPlanFile = "widok-plan.json";
constexpr const char* kModelFile = "widok-model.glb";
constexpr const char* kCloudFile = "widok-chmura.bin";
constexpr const char* kMsgNoCloud =
    "Nie ma jeszcze chmury punktow do pokazania. Pobierz ja w palecie \"Chmura punktow\" (menu Orvane).";
constexpr const char* kMsgEmptyCloud = "Chmura punktow nie zawiera zadnego poprawnego punktu.";
}  // namespace

ProjectViewFile ProjectViews::refresh(const MemoryHost& host, ViewFile which) {
  const bool isPlan = which == ViewFile::Plan;
  Written& w = isPlan ? plan_ : model_;
  ProjectViewFile out{host.revision(), isPlan ? kPlanFile : kModelFile, {}};
  if (w.valid && w.revision == out.revision) return out;
  const ProjectData data = host.exportProject();
  out.error = platform::writeFileAtomically(dir_ / out.name, isPlan ? planJson(data, out.revision) : glbBytes(data));
  w = Written{out.error.empty(), out.revision};
  return out;
}

ProjectViewFile ProjectViews::cloud(MemoryHost& host, const std::filesystem::path& e57) {
  ProjectViewFile out{++cloudRevision_, kCloudFile, {}};
  std::error_code ec;
  if (!std::filesystem::exists(e57, ec)) {
    out.error = kMsgNoCloud;
    return out;
  }
  const E57Cloud c = readE57File(e57, E57ReadOptions{kCloudViewPoints});
  if (!c.error.empty()) {
    out.error = c.error;
    return out;
  }
  if (c.points.empty()) {
    out.error = kMsgEmptyCloud;
    return out;
  }
  out.error = platform::writeFileAtomically(dir_ / out.name, cloudViewBytes(c, cloudPlacementOf(host)));
  out.points = c.points.size();
  out.cloudTotal = c.recordCount;
  return out;
}

}  // namespace veldra::app
