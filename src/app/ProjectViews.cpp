#include "app/ProjectViews.h"

#include "host/GltfExport.h"
#include "host/PlanExport.h"
#include "platform/Paths.h"

namespace veldra::app {

namespace {
constexpr const char* kPlanFile = "widok-plan.json";
constexpr const char* kModelFile = "widok-model.glb";
}  // namespace

ProjectViewFiles ProjectViews::refresh(const MemoryHost& host) {
  ProjectViewFiles out{host.revision(), kPlanFile, kModelFile, {}};
  if (written_ && revision_ == host.revision()) return out;
  const ProjectData data = host.exportProject();
  out.error = platform::writeFileAtomically(dir_ / kPlanFile, planJson(data, out.revision));
  if (out.error.empty()) out.error = platform::writeFileAtomically(dir_ / kModelFile, glbBytes(data));
  written_ = out.error.empty();
  revision_ = out.revision;
  return out;
}

}  // namespace veldra::app
