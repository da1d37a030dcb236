#include "platform/AtomicFile.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldra::platform {
namespace fs = std::filesystem;

AtomicFile::AtomicFile(const fs::path& path) : path_(path) {
  std::error_code ec;
  if (path.has_parent_path()) fs::create_directories(path.parent_path(), ec);
  // The temporary name is new to the folder: an existing file of that name (someone's data,
  // another run's temporary, a planted link) is never opened, truncated or followed.
  static std::atomic<unsigned> seq{0};
  for (int attempt = 0; attempt < 100 && fd_ < 0; ++attempt) {
    tmp_ = path;
    tmp_ += ".tmp." + std::to_string(::getpid()) + "." + std::to_string(seq++);
    fd_ = ::open(tmp_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd_ < 0 && errno != EEXIST) break;
  }
  if (fd_ < 0) {
    error_ = std::string("cannot create ") + tmp_.string() + ": " + std::strerror(errno);
    tmp_.clear();   // not ours: never removed
  }
}

AtomicFile::~AtomicFile() {
  if (fd_ >= 0) ::close(fd_);
  if (!committed_ && !tmp_.empty()) ::unlink(tmp_.c_str());
}

bool AtomicFile::fail(std::string why) {
  if (error_.empty()) error_ = std::move(why);
  return false;
}

bool AtomicFile::append(std::string_view bytes) {
  if (!error_.empty()) return false;
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0) {
    const ssize_t n = ::write(fd_, p, left);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::string("write failed: ") + std::strerror(errno));
    }
    p += n;
    left -= static_cast<std::size_t>(n);
    size_ += static_cast<std::uint64_t>(n);
  }
  return true;
}

bool AtomicFile::overwrite(std::uint64_t offset, std::string_view bytes) {
  if (!error_.empty()) return false;
  if (offset > size_ || bytes.size() > size_ - offset) return fail("overwrite past the end of the written bytes");
  const char* p = bytes.data();
  std::size_t left = bytes.size();
  auto at = static_cast<off_t>(offset);
  while (left > 0) {
    const ssize_t n = ::pwrite(fd_, p, left, at);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(std::string("write failed: ") + std::strerror(errno));
    }
    p += n;
    at += n;
    left -= static_cast<std::size_t>(n);
  }
  return true;
}

std::string AtomicFile::commit() {
  if (committed_) return {};
  if (error_.empty() && ::fsync(fd_) != 0 && errno != EINVAL) fail(std::string("fsync failed: ") + std::strerror(errno));
  if (fd_ >= 0 && ::close(fd_) != 0) fail(std::string("close failed: ") + std::strerror(errno));
  fd_ = -1;
  if (error_.empty() && std::rename(tmp_.c_str(), path_.c_str()) != 0)
    fail(std::string("rename failed: ") + std::strerror(errno));
  if (!error_.empty()) {
    ::unlink(tmp_.c_str());
    return error_;
  }
  committed_ = true;
  return {};
}

namespace {

// The PID of a temporary file's name ("NAME.tmp.PID.N"), 0 when the name is not one.
pid_t temporaryOwner(std::string_view name, std::string_view targetName) {
  const auto digitsBack = [&](std::size_t& end) {
    std::size_t b = end;
    while (b > 0 && name[b - 1] >= '0' && name[b - 1] <= '9') --b;
    const std::string_view d = name.substr(b, end - b);
    end = b;
    return d;
  };
  std::size_t end = name.size();
  if (digitsBack(end).empty() || end == 0 || name[end - 1] != '.') return 0;
  --end;
  const std::string_view pid = digitsBack(end);
  if (pid.empty() || pid.size() > 9 || end < 5 || name.substr(end - 5, 5) != ".tmp.") return 0;
  end -= 5;
  if (end == 0 || (!targetName.empty() && name.substr(0, end) != targetName)) return 0;
  return static_cast<pid_t>(std::stol(std::string(pid)));
}

bool processRuns(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

}  // namespace

int sweepStaleTemporaries(const fs::path& dir, std::string_view targetName) {
  std::error_code ec;
  fs::directory_iterator it(dir, ec);
  if (ec) return 0;
  int removed = 0;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    const std::string name = it->path().filename().string();
    const pid_t pid = temporaryOwner(name, targetName);
    if (pid <= 0 || pid == ::getpid() || processRuns(pid)) continue;
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::getuid()) continue;
    if (::unlink(it->path().c_str()) == 0) ++removed;
  }
  return removed;
}

}  // namespace veldra::platform
