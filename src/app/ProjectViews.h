// The files the host window's plan and 3D views load: the drawing as JSON and
// the 3D elements as GLB, written by the same exporter as "Eksport glTF" so the
// view and the export cannot disagree. Written into the served web folder
// (under the server's token) only when the project changed since last time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "host/MemoryHost.h"

namespace veldra::app {

// The plan is asked for apart from the model, so a large model does not delay the plan.
enum class ViewFile { Plan, Model };

struct ProjectViewFile {
  std::uint64_t revision = 0;
  std::string name;    // inside the folder
  std::string error;   // empty when the file is current
};

class ProjectViews {
 public:
  explicit ProjectViews(std::filesystem::path dir) : dir_(std::move(dir)) {}
  // Main thread (reads the project).
  ProjectViewFile refresh(const MemoryHost& host, ViewFile which);

 private:
  struct Written {
    bool valid = false;
    std::uint64_t revision = 0;
  };
  std::filesystem::path dir_;
  Written plan_, model_;
};

}  // namespace veldra::app
