// The files the host window's plan and 3D views load: the drawing as JSON and
// the 3D elements as GLB, written by the same exporter as "Eksport glTF" so the
// view and the export cannot disagree. Written into the served web folder
// (under the server's token) only when the project changed since last time.
#pragma once

#include <cstddef>
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
  std::size_t points = 0;        // cloud: points in the file
  std::uint64_t cloudTotal = 0;  // cloud: points in the E57 file it was thinned from
};

// The most points the 3D view is given: enough to read the terrain and the buildings, few
// enough for software rendering.
inline constexpr std::size_t kCloudViewPoints = 300000;

class ProjectViews {
 public:
  explicit ProjectViews(std::filesystem::path dir) : dir_(std::move(dir)) {}
  // Main thread (reads the project).
  ProjectViewFile refresh(const MemoryHost& host, ViewFile which);
  // Reads the E57 file the cloud palette wrote, thinned, into the project's frame. Every call
  // reads it again: a new download replaces the file under the same name.
  ProjectViewFile cloud(MemoryHost& host, const std::filesystem::path& e57);

 private:
  struct Written {
    bool valid = false;
    std::uint64_t revision = 0;
  };
  std::filesystem::path dir_;
  Written plan_, model_;
  std::uint64_t cloudRevision_ = 0;
};

}  // namespace veldra::app
