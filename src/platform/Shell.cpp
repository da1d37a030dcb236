#include "platform/Shell.h"

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include "platform/Paths.h"

extern char** environ;

namespace veldra::platform {

bool openExternal(const std::string& url) {
  if (const char* log = std::getenv("VELDRA_OPEN_LOG"); log && *log) {
    std::ofstream f(log, std::ios::app);
    f << url << '\n';
    return static_cast<bool>(f);
  }
  // Double fork so the child is reaped at once and xdg-open never becomes a zombie.
  pid_t pid = ::fork();
  if (pid < 0) return false;
  if (pid == 0) {
    pid_t inner = ::fork();
    if (inner == 0) {
      ::setsid();
      char* argv[] = {const_cast<char*>("xdg-open"), const_cast<char*>(url.c_str()), nullptr};
      ::execvp("xdg-open", argv);
      ::_exit(127);
    }
    ::_exit(inner < 0 ? 1 : 0);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

namespace {

// The address as an HTML attribute value.
std::string attributeText(const std::string& s) {
  std::string out;
  for (const char c : s) {
    if (c == '&') out += "&amp;";
    else if (c == '"') out += "&quot;";
    else if (c == '<') out += "&lt;";
    else if (c == '>') out += "&gt;";
    else out += c;
  }
  return out;
}

}  // namespace

std::filesystem::path openViaPrivatePage(const std::string& url) {
  std::string folder = (tempDir() / "veldra-open-XXXXXX").string();
  if (!::mkdtemp(folder.data())) return {};   // created 0700
  const std::filesystem::path page = std::filesystem::path(folder) / "veldra.html";
  const std::string text = "<!doctype html><meta charset=\"utf-8\"><meta name=\"referrer\" content=\"no-referrer\">"
                           "<meta http-equiv=\"refresh\" content=\"0;url=" + attributeText(url) + "\">\n";
  const int fd = ::open(page.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  bool written = fd >= 0;
  for (std::size_t done = 0; written && done < text.size();) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    written = n > 0;
    if (written) done += static_cast<std::size_t>(n);
  }
  if (fd >= 0 && ::close(fd) != 0) written = false;
  if (!written || !openExternal("file://" + page.string())) {
    std::error_code ec;
    std::filesystem::remove_all(folder, ec);
    return {};
  }
  return page;
}

}  // namespace veldra::platform
