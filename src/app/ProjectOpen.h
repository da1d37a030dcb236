// Opening the project a command works on: a missing file is a new project,
// an unreadable one stops the command before anything is touched.
#pragma once

#include <filesystem>
#include <iostream>
#include <string>

#include "host/MemoryHost.h"
#include "host/ProjectFile.h"
#include "platform/AtomicFile.h"

namespace veldra::app {

// Loads `path` into `host` when the file exists. False (with the reason on
// standard error) when it exists but cannot be loaded.
inline bool openProjectInto(const std::string& path, MemoryHost& host) {
  if (path.empty()) return true;
  // Left by a run killed while saving this project.
  const std::filesystem::path p(path);
  platform::sweepStaleTemporaries(p.has_parent_path() ? p.parent_path() : std::filesystem::path("."),
                                  p.filename().string());
  if (!std::filesystem::exists(path)) return true;
  const std::string err = loadProject(path, host);
  if (err.empty()) return true;
  std::cerr << "veldra: " << err << "\n";
  return false;
}

}  // namespace veldra::app
