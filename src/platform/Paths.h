// Where the program keeps its files on this platform.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace veldra::platform {

// Roaming application data: $XDG_CONFIG_HOME, else ~/.config, else ".".
std::filesystem::path roamingDataDir();
// Local application data: $XDG_CACHE_HOME, else ~/.cache, else ".".
std::filesystem::path localDataDir();
// The user's data folder (files the user opens in other programs): $XDG_DATA_HOME, else
// ~/.local/share, else ".".
std::filesystem::path userDataDir();
// The system temporary folder.
std::filesystem::path tempDir();

// This user's folder for working files that other local users must neither
// read nor replace (the palette pages the local server serves, diagnostics):
// $XDG_RUNTIME_DIR/veldra, else the temporary folder + "/veldra-" + user id.
// Not created here: see ensurePrivateDir.
std::filesystem::path privateWorkDir();
// Creates `dir` (mode 0700) when missing and checks that it is a real folder,
// owned by this user and closed to everyone else. Gives an empty text, or why
// it must not be used (someone else may have made it first, to plant files).
std::string ensurePrivateDir(const std::filesystem::path& dir);
// ensurePrivateDir for privateWorkDir() and each folder from it down to `dir`,
// outermost first (for a `dir` elsewhere: the working folder, then `dir`).
// Gives the first refusal, or an empty text.
std::string ensurePrivateFolders(const std::filesystem::path& dir);

// Diagnostics folder: $VELDRA_DIAG_DIR when set, else privateWorkDir().
std::filesystem::path diagDir();

// Appends one line (plus a line feed) to a diagnostics file; failures are
// silent. Diagnostics files are never reached through a symbolic link.
void appendDiagLine(std::string_view fileName, std::string_view line);
// Replaces a diagnostics file with the given text; failures are silent.
void rewriteDiagFile(std::string_view fileName, std::string_view text);

// Writes bytes to a temporary file beside `path` and renames it into place, so
// readers see either the old or the new content, never a torn file. Creates the
// parent folder. Returns an empty string on success, else the reason.
std::string writeFileAtomically(const std::filesystem::path& path, std::string_view bytes);

// Reads a whole file. Returns false when it cannot be opened or read.
bool readWholeFile(const std::filesystem::path& path, std::string& out);

}  // namespace veldra::platform
