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

struct ProjectViewFiles {
  std::uint64_t revision = 0;
  std::string plan;    // file names inside the folder
  std::string model;
  std::string error;   // empty when both files are current
};

class ProjectViews {
 public:
  explicit ProjectViews(std::filesystem::path dir) : dir_(std::move(dir)) {}
  // Main thread (reads the project).
  ProjectViewFiles refresh(const MemoryHost& host);

 private:
  std::filesystem::path dir_;
  bool written_ = false;
  std::uint64_t revision_ = 0;
};

}  // namespace veldra::app
