#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace veldra::las {

// Random-access input for the reader: a file read with pread, or bytes held in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t size() const = 0;
  // Reads exactly n bytes at offset; false when the range is not inside the source.
  virtual bool read(uint64_t offset, void* dst, size_t n) = 0;

  static std::unique_ptr<ByteSource> openFile(const std::string& path, std::string* error);
  static std::unique_ptr<ByteSource> fromMemory(std::string bytes);
};

}  // namespace veldra::las
