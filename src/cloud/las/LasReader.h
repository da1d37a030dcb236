#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "cloud/las/LasHeader.h"

namespace veldra::las {

class ByteSource;
class LazDecoder;
class ParallelChunks;

// Sequential reader of LAS and LASzip-compressed LAS (LAZ) point records.
class LasReader {
 public:
  // Opens a LAS or LAZ file. Returns nullptr with *error set on any failure (missing file,
  // not LAS, unknown LASzip items, bad chunk table, waveform formats 4,5,9,10 refused, ...).
  static std::unique_ptr<LasReader> open(const std::string& path, std::string* error = nullptr);
  // Same over bytes held in memory.
  static std::unique_ptr<LasReader> openMemory(std::string bytes, std::string* error = nullptr);
  static std::unique_ptr<LasReader> openSource(std::unique_ptr<ByteSource> src, std::string* error = nullptr);

  ~LasReader();
  LasReader(const LasReader&) = delete;
  LasReader& operator=(const LasReader&) = delete;

  const LasHeader& header() const { return header_; }
  uint64_t pointCount() const { return header_.pointCount; }
  // LASzip description of a compressed file, empty for plain LAS.
  const std::optional<LaszipVlr>& laszip() const { return laszip_; }
  // Number of records handed out so far.
  uint64_t pointsRead() const { return pointsRead_; }

  // Reads the next raw point record (header().recordLength bytes, as stored in the
  // uncompressed LAS) into `record`. Returns false at the end of points or on corrupt data
  // (then lastError() says why); never throws, never reads out of bounds.
  bool readPoint(uint8_t* record);
  const std::string& lastError() const { return error_; }

  // Threads that decode the chunks of a compressed file ahead of the reader (the records and
  // their order do not depend on it). Default: decodeThreads(). Takes effect before the first
  // readPoint only.
  void setDecodeThreads(int threads) { threads_ = threads < 1 ? 1 : threads; }

 private:
  LasReader() = default;
  bool readPlain(uint8_t* record);
  void startParallel();

  std::unique_ptr<ByteSource> src_;
  LasHeader header_;
  std::optional<LaszipVlr> laszip_;
  std::unique_ptr<LazDecoder> lazDecoder_;
  std::unique_ptr<ParallelChunks> parallel_;
  int threads_ = 1;
  uint64_t pointsRead_ = 0;
  bool failed_ = false;
  std::string error_;
  // Plain LAS: records are read in blocks.
  std::vector<uint8_t> block_;
  size_t blockPos_ = 0, blockEnd_ = 0;
};

}  // namespace veldra::las
