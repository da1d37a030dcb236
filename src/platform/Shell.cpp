#include "platform/Shell.h"

#include <cstdlib>
#include <fstream>

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

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

}  // namespace veldra::platform
