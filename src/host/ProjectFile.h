// The project file: the stand-in host's project as JSON (docs/project-file.md).
#pragma once

#include <filesystem>
#include <string>

#include "host/MemoryHost.h"

namespace veldra {

// Writes the project atomically. An existing file at `path` that is not a
// readable project is never replaced: the save is refused instead, so a file
// that failed to load cannot be overwritten by mistake. Gives an empty text on
// success, else the reason.
std::string saveProject(const MemoryHost& host, const std::filesystem::path& path);

// Replaces the host's project with the file's. On any error the host is left
// exactly as it was and the reason is returned; the undo history is cleared on
// success (it is not stored in the file).
std::string loadProject(const std::filesystem::path& path, MemoryHost& host);

// The same checks as loadProject without touching any host.
std::string checkProjectFile(const std::filesystem::path& path);

// Serialised form, for callers that store the project elsewhere.
std::string projectToJson(const MemoryHost& host);
std::string projectFromJson(const std::string& text, MemoryHost& host);

}  // namespace veldra
