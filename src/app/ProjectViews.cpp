#include "app/ProjectViews.h"

#include "host/GltfExport.h"
#include "host/PlanExport.h"
#include "platform/Paths.h"

namespace veldra::app {

namespace {
constexpr const char* kPlanFile = "widok-plan.json";
constexpr const char* kModelFile = "widok-model.glb";
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

}  // namespace veldra::app
