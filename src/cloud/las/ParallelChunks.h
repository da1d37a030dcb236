// Chunks of a LAZ file decoded ahead on several threads and handed out in file order, so the
// reader sees exactly the records one thread would produce, in the same order. At most one
// chunk per thread is decoded ahead of the one being read: memory stays a few chunks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <future>
#include <memory>
#include <string>
#include <vector>

namespace veldra::las {

class LazDecoder;

// Threads for decoding: VELDRA_THREADS when it holds a whole number from 1 to 64, else the
// machine's hardware threads (at most 8).
int decodeThreads();

class ParallelChunks {
 public:
  // One decoder per thread, each able to decode any chunk of the same file; `pointCount` is the
  // header's count (chunks past it are not decoded).
  ParallelChunks(std::vector<std::unique_ptr<LazDecoder>> decoders, uint16_t recordLength, uint64_t pointCount);
  ~ParallelChunks();
  ParallelChunks(const ParallelChunks&) = delete;
  ParallelChunks& operator=(const ParallelChunks&) = delete;

  // Copies the next record; false with *error at a failure (then every later call fails too).
  bool next(uint8_t* record, std::string* error);

 private:
  struct Decoded {
    std::vector<uint8_t> records;
    uint64_t good = 0;
    std::string error;
  };
  void launch();

  std::vector<std::unique_ptr<LazDecoder>> decoders_;
  uint16_t recordLength_;
  std::vector<uint64_t> limits_;  // records to decode per chunk
  std::size_t launched_ = 0;
  std::deque<std::future<Decoded>> ahead_;
  Decoded current_;
  uint64_t at_ = 0;
  bool failed_ = false;
  std::string error_;
};

}  // namespace veldra::las
