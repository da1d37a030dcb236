// A file written beside its target and renamed into place when complete, so readers see either
// the old content or the whole new one. Written in pieces: a large output never has to be held
// in memory at once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace veldra::platform {

class AtomicFile {
 public:
  // Creates the parent folder and a temporary file beside `path`; error() says why not.
  explicit AtomicFile(const std::filesystem::path& path);
  // Removes the temporary file unless commit() succeeded; the target is left as it was.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends bytes. After the first failure every call returns false and error() keeps the
  // first reason.
  bool append(std::string_view bytes);
  // Overwrites bytes already appended, starting at `offset`.
  bool overwrite(std::uint64_t offset, std::string_view bytes);
  std::uint64_t size() const { return size_; }
  const std::string& error() const { return error_; }
  // Flushes to the disk and renames into place. Returns an empty string on success, else the
  // reason (the temporary file is then gone).
  std::string commit();

 private:
  bool fail(std::string why);

  std::filesystem::path path_, tmp_;
  int fd_ = -1;
  std::uint64_t size_ = 0;
  std::string error_;
  bool committed_ = false;
};

// Removes the temporary files ("NAME.tmp.PID.N") that runs killed before their commit left in
// `dir`: only regular files of this user whose process is gone. With `targetName` set, only those
// of that target. Gives how many were removed.
int sweepStaleTemporaries(const std::filesystem::path& dir, std::string_view targetName = {});

}  // namespace veldra::platform
