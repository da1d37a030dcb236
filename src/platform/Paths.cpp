#include "platform/Paths.h"

#include "platform/AtomicFile.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <optional>
#include <system_error>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldra::platform {
namespace fs = std::filesystem;

namespace {

fs::path envDir(const char* var, const char* homeSuffix) {
  if (const char* v = std::getenv(var); v && *v) return fs::path(v);
  if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / homeSuffix;
  return fs::path(".");
}

}  // namespace

fs::path roamingDataDir() { return envDir("XDG_CONFIG_HOME", ".config"); }
fs::path localDataDir() { return envDir("XDG_CACHE_HOME", ".cache"); }
fs::path userDataDir() { return envDir("XDG_DATA_HOME", ".local/share"); }

fs::path tempDir() {
  std::error_code ec;
  fs::path p = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : p;
}

fs::path privateWorkDir() {
  if (const char* v = std::getenv("XDG_RUNTIME_DIR"); v && *v) return fs::path(v) / "veldra";
  return tempDir() / ("veldra-" + std::to_string(::geteuid()));
}

std::string ensurePrivateDir(const fs::path& dir) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
    return "cannot create folder " + dir.string() + ": " + std::strerror(errno);
  // Opened without following a link, then judged by what was opened.
  const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return "folder " + dir.string() + " is a link or not a folder; refusing to use it";
  struct stat st {};
  const bool statted = ::fstat(fd, &st) == 0;
  ::close(fd);
  if (!statted) return "cannot inspect folder " + dir.string() + ": " + std::strerror(errno);
  if (st.st_uid != ::geteuid())
    return "folder " + dir.string() + " belongs to another user (uid " + std::to_string(st.st_uid) +
           "); refusing to use it";
  if ((st.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
    return "folder " + dir.string() + " is open to other users (mode " + mode + "); refusing to use it";
  }
  return {};
}

std::string ensurePrivateFolders(const fs::path& dir) {
  const fs::path root = privateWorkDir();
  std::vector<fs::path> chain{root};
  const fs::path rel = dir.lexically_relative(root);
  if (rel.empty() || *rel.begin() == "..") {
    chain.push_back(dir);
  } else {
    fs::path at = root;
    for (const auto& part : rel) {
      if (part == ".") continue;
      at /= part;
      chain.push_back(at);
    }
  }
  for (const fs::path& d : chain)
    if (std::string why = ensurePrivateDir(d); !why.empty()) return why;
  return {};
}

fs::path diagDir() {
  if (const char* v = std::getenv("VELDRA_DIAG_DIR"); v && *v) return fs::path(v);
  return privateWorkDir();
}

namespace {

// The diagnostics folder, when it can be written: a configured one is created as asked, the
// default one must be private.
std::optional<fs::path> usableDiagDir() {
  if (const char* v = std::getenv("VELDRA_DIAG_DIR"); v && *v) {
    std::error_code ec;
    fs::create_directories(v, ec);
    return fs::path(v);
  }
  const fs::path dir = privateWorkDir();
  if (!ensurePrivateDir(dir).empty()) return std::nullopt;
  return dir;
}

}  // namespace

void appendDiagLine(std::string_view fileName, std::string_view line) {
  const std::optional<fs::path> dir = usableDiagDir();
  if (!dir) return;
  const fs::path path = *dir / fs::path(std::string(fileName));
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return;
  std::string text(line);
  text += '\n';
  // One write: lines of concurrent writers stay whole.
  [[maybe_unused]] const ssize_t n = ::write(fd, text.data(), text.size());
  ::close(fd);
}

void rewriteDiagFile(std::string_view fileName, std::string_view text) {
  const std::optional<fs::path> dir = usableDiagDir();
  if (!dir) return;
  writeFileAtomically(*dir / fs::path(std::string(fileName)), text);
}

std::string writeFileAtomically(const fs::path& path, std::string_view bytes) {
  AtomicFile file(path);
  file.append(bytes);
  return file.commit();
}

bool readWholeFile(const fs::path& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  f.seekg(0, std::ios::end);
  std::streamoff size = f.tellg();
  if (size < 0) return false;
  f.seekg(0, std::ios::beg);
  out.resize(static_cast<std::size_t>(size));
  if (size > 0 && !f.read(out.data(), size)) return false;
  return true;
}

}  // namespace veldra::platform
