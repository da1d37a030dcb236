// Chunks of a LAZ file decoded ahead on several threads and handed out in file order, so the
// reader sees exactly the records one thread would produce, in the same order. A fixed set of
// workers, one decoder each, takes the chunks in file order; at most two chunks per worker are
// decoded ahead of the one being read, so memory stays a few chunks and a worker never waits
// for the reader to finish a chunk before starting the next one.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace veldra::las {

class LazDecoder;

// Chunks whose records take more than this are decoded on the reader's thread alone: the slots
// then hold at most (2 * threads + 1) times this.
inline constexpr uint64_t kMaxParallelChunkBytes = uint64_t{64} << 20;

// Threads for decoding: VELDRA_THREADS when it holds a whole number from 1 to 64, else the
// machine's hardware threads (at most 8).
int decodeThreads();

// Decoded records of one chunk. Left uninitialised: only the records a decoder wrote are read,
// and a chunk that ends early costs only the pages it reached.
struct ChunkRecords {
  std::unique_ptr<uint8_t[]> bytes;
  std::size_t capacity = 0;
  uint8_t* reserve(std::size_t n);
};

class ParallelChunks {
 public:
  // True when every chunk up to the header's `pointCount` fits in kMaxParallelChunkBytes.
  static bool chunksFit(const LazDecoder& decoder, uint16_t recordLength, uint64_t pointCount);

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
    ChunkRecords records;  // keeps its capacity from chunk to chunk
    uint64_t limit = 0;  // records asked for
    uint64_t good = 0;
    std::string error;
    bool ready = false;
  };
  void work(LazDecoder& decoder);
  void decode(LazDecoder& decoder, std::size_t chunk, Decoded& into) const;
  bool takeNext();

  std::vector<std::unique_ptr<LazDecoder>> decoders_;
  uint16_t recordLength_;
  std::vector<uint64_t> limits_;  // records to decode per chunk

  // Chunk k is decoded into slot k % slots_.size(); a worker starts it only once the reader has
  // taken chunk k - slots_.size() out of that slot.
  std::mutex mutex_;
  std::condition_variable ready_, room_;
  std::vector<Decoded> slots_;
  std::size_t claimed_ = 0;  // chunks handed to workers
  std::size_t taken_ = 0;    // chunks handed to the reader
  bool stopping_ = false;
  std::vector<std::thread> workers_;

  Decoded current_;
  uint64_t at_ = 0;
  bool failed_ = false;
  std::string error_;
};

}  // namespace veldra::las
