#include "app/WebResources.h"

namespace veldra::app {

const EmbeddedResource* findResource(int id) {
  for (const auto& r : embeddedResources())
    if (r.id == id) return &r;
  return nullptr;
}

}  // namespace veldra::app
