#include "platform/InputFile.h"

#include <cerrno>
#include <cstring>
#include <utility>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace veldra::platform {

InputFile InputFile::open(const std::filesystem::path& path) {
  InputFile f;
  // O_NONBLOCK: opening a FIFO for reading would otherwise wait for a writer.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
  if (fd < 0) {
    f.error_ = "nie mozna otworzyc pliku " + path.string() + ": " + std::strerror(errno);
    return f;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    f.error_ = path.string() + " nie jest zwyklym plikiem";
    return f;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags >= 0) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  f.fd_ = fd;
  f.size_ = static_cast<std::uint64_t>(st.st_size);
  return f;
}

InputFile::InputFile(InputFile&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), size_(other.size_), error_(std::move(other.error_)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
    size_ = other.size_;
    error_ = std::move(other.error_);
  }
  return *this;
}

InputFile::~InputFile() {
  if (fd_ >= 0) ::close(fd_);
}

int InputFile::release() { return std::exchange(fd_, -1); }

std::string readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& out) {
  InputFile f = InputFile::open(path);
  if (f.fd() < 0) return f.error();
  if (f.size() > maxBytes)
    return "plik " + path.string() + " jest za duzy (" + std::to_string(f.size()) + " B, limit " +
           std::to_string(maxBytes) + " B)";
  out.resize(static_cast<std::size_t>(f.size()));
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t n = ::read(f.fd(), out.data() + done, out.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "blad odczytu pliku " + path.string();
    done += static_cast<std::size_t>(n);
  }
  return {};
}

}  // namespace veldra::platform
