#include "platform/Paths.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <system_error>

#include <fcntl.h>
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

fs::path tempDir() {
  std::error_code ec;
  fs::path p = fs::temp_directory_path(ec);
  return ec ? fs::path("/tmp") : p;
}

fs::path diagDir() {
  if (const char* v = std::getenv("VELDRA_DIAG_DIR"); v && *v) return fs::path(v);
  return fs::path("/tmp");
}

void appendDiagLine(std::string_view fileName, std::string_view line) {
  std::error_code ec;
  fs::create_directories(diagDir(), ec);
  std::ofstream f(diagDir() / fs::path(std::string(fileName)), std::ios::binary | std::ios::app);
  if (!f) return;
  f << line << '\n';
}

void rewriteDiagFile(std::string_view fileName, std::string_view text) {
  std::error_code ec;
  fs::create_directories(diagDir(), ec);
  std::ofstream f(diagDir() / fs::path(std::string(fileName)), std::ios::binary | std::ios::trunc);
  if (!f) return;
  f << text;
}

std::string writeFileAtomically(const fs::path& path, std::string_view bytes) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  static std::atomic<unsigned> seq{0};
  fs::path tmp = path;
  tmp += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(seq++);
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return std::string("cannot create ") + tmp.string() + ": " + std::strerror(errno);
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      std::string why = std::string("write failed: ") + std::strerror(errno);
      ::close(fd);
      ::unlink(tmp.c_str());
      return why;
    }
    p += n;
    left -= static_cast<std::size_t>(n);
  }
  if (::fsync(fd) != 0 && errno != EINVAL) {
    std::string why = std::string("fsync failed: ") + std::strerror(errno);
    ::close(fd);
    ::unlink(tmp.c_str());
    return why;
  }
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    return std::string("close failed: ") + std::strerror(errno);
  }
  if (std::rename(tmp.c_str(), path.c_str()) != 0) {
    std::string why = std::string("rename failed: ") + std::strerror(errno);
    ::unlink(tmp.c_str());
    return why;
  }
  return {};
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
