#include "cloud/las/ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/InputFile.h"

namespace veldra::las {
namespace {

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size) : fd_(fd), size_(size) {}
  ~FileSource() override { ::close(fd_); }
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t size() const override { return size_; }
  bool read(uint64_t offset, void* dst, size_t n) override {
    if (offset > size_ || n > size_ - offset) return false;
    auto* out = static_cast<char*>(dst);
    while (n > 0) {
      ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(offset));
      if (got < 0 && errno == EINTR) continue;
      if (got <= 0) return false;
      out += got;
      offset += static_cast<uint64_t>(got);
      n -= static_cast<size_t>(got);
    }
    return true;
  }

 private:
  int fd_;
  uint64_t size_;
};

class MemorySource final : public ByteSource {
 public:
  explicit MemorySource(std::string bytes) : bytes_(std::move(bytes)) {}
  uint64_t size() const override { return bytes_.size(); }
  bool read(uint64_t offset, void* dst, size_t n) override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    if (n > 0) std::memcpy(dst, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string bytes_;
};

}  // namespace

std::unique_ptr<ByteSource> ByteSource::openFile(const std::string& path, std::string* error) {
  platform::InputFile f = platform::InputFile::open(path);
  if (f.fd() < 0) {
    if (error) *error = f.error();
    return nullptr;
  }
  const uint64_t size = f.size();
  return std::make_unique<FileSource>(f.release(), size);
}

std::unique_ptr<ByteSource> ByteSource::fromMemory(std::string bytes) {
  return std::make_unique<MemorySource>(std::move(bytes));
}

}  // namespace veldra::las
