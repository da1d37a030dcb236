// Files embedded into the executable at build time (tools/embedgen), looked up
// by resource number as the host's "DATA" resources are.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace veldra::app {

struct EmbeddedResource {
  int id;
  const char* name;
  const unsigned char* data;
  std::size_t size;
};

std::span<const EmbeddedResource> embeddedResources();
// The offline demo's files (data/demo), numbered from 0, named by their path
// below that folder; generated apart so that neither set rebuilds the other.
std::span<const EmbeddedResource> demoFiles();

// Null when no resource has that number.
const EmbeddedResource* findResource(int id);

inline std::string_view resourceText(const EmbeddedResource& r) {
  return {reinterpret_cast<const char*>(r.data), r.size};
}

}  // namespace veldra::app
