#include "platform/Paths.h"

#include "platform/AtomicFile.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

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
