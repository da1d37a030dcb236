// A file opened for reading only when it is a regular file. A FIFO or a device given as input
// would block the open or the reads forever (or never end): such paths are refused before any
// byte is read. The open itself does not wait, so a FIFO is told apart without a writer.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace veldra::platform {

class InputFile {
 public:
  // Opens `path` (links followed). On failure fd() is -1 and error() says why.
  static InputFile open(const std::filesystem::path& path);

  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  int fd() const { return fd_; }
  std::uint64_t size() const { return size_; }
  const std::string& error() const { return error_; }
  // Hands the descriptor over to the caller, who closes it.
  int release();

 private:
  InputFile() = default;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string error_;
};

// The whole content of a regular file of at most `maxBytes`. Gives an empty text or the reason.
std::string readRegularFile(const std::filesystem::path& path, std::uint64_t maxBytes, std::string& out);

}  // namespace veldra::platform
