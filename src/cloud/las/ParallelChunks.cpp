#include "cloud/las/ParallelChunks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <system_error>

#include "cloud/las/LazDecoder.h"

namespace veldra::las {
namespace {

constexpr int kMaxThreads = 64;
constexpr int kMaxDefaultThreads = 8;
// Chunks decoded ahead per worker: with one, a worker that finishes first idles until the
// reader has copied out the chunk before its own.
constexpr std::size_t kSlotsPerWorker = 2;
// Chunk buffers kept for the next file, in bytes.
constexpr std::size_t kSpareBytes = std::size_t{64} << 20;

// Buffers outlive the file: fresh pages cost a fault and a cleared page each, a few per cent of
// the decoding when every tile's slots start empty.
struct Spares {
  std::mutex mutex;
  std::vector<ChunkRecords> records;
  std::size_t bytes = 0;
};
// Never destroyed: a reader closed during exit may still hand its buffers back.
Spares& spares() {
  static auto* s = new Spares;
  return *s;
}

ChunkRecords spareRecords() {
  Spares& s = spares();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (s.records.empty()) return {};
  ChunkRecords r = std::move(s.records.back());
  s.records.pop_back();
  s.bytes -= r.capacity;
  return r;
}

void keepRecords(ChunkRecords r) {
  Spares& s = spares();
  std::lock_guard<std::mutex> lock(s.mutex);
  if (!r.bytes || r.capacity > kSpareBytes - s.bytes) return;
  s.bytes += r.capacity;
  s.records.push_back(std::move(r));
}

// Records each chunk is decoded for: its own count, the last cut to the header's `pointCount`;
// chunks past it are not decoded.
std::vector<uint64_t> chunkLimits(const LazDecoder& decoder, uint64_t pointCount) {
  std::vector<uint64_t> limits;
  uint64_t left = pointCount;
  for (std::size_t c = 0; c < decoder.chunkCount() && left > 0; ++c) {
    limits.push_back(std::min(left, decoder.chunkPoints(c)));
    left -= limits.back();
  }
  return limits;
}

}  // namespace

int decodeThreads() {
  if (const char* v = std::getenv("VELDRA_THREADS")) {
    char* end = nullptr;
    const long n = std::strtol(v, &end, 10);
    if (end != v && *end == '\0' && n >= 1 && n <= kMaxThreads) return static_cast<int>(n);
  }
  const unsigned hw = std::thread::hardware_concurrency();
  return std::clamp(static_cast<int>(hw), 1, kMaxDefaultThreads);
}

bool ParallelChunks::chunksFit(const LazDecoder& decoder, uint16_t recordLength, uint64_t pointCount) {
  const uint64_t most = kMaxParallelChunkBytes / std::max<uint16_t>(recordLength, 1);
  const std::vector<uint64_t> limits = chunkLimits(decoder, pointCount);
  return std::all_of(limits.begin(), limits.end(), [most](uint64_t n) { return n <= most; });
}

uint8_t* ChunkRecords::reserve(std::size_t n) {
  if (n > capacity) {
    bytes.reset();
    bytes.reset(new uint8_t[n]);
    capacity = n;
  }
  return bytes.get();
}

ParallelChunks::ParallelChunks(std::vector<std::unique_ptr<LazDecoder>> decoders, uint16_t recordLength,
                               uint64_t pointCount)
    : decoders_(std::move(decoders)), recordLength_(recordLength) {
  limits_ = chunkLimits(*decoders_.front(), pointCount);
  slots_.resize(kSlotsPerWorker * decoders_.size());
  for (auto& slot : slots_) slot.records = spareRecords();
  current_.records = spareRecords();
  try {
    for (auto& d : decoders_) workers_.emplace_back([this, decoder = d.get()] { work(*decoder); });
  } catch (const std::system_error&) {
    // No more threads to be had: those started do the work; with none the reader decodes.
  }
}

ParallelChunks::~ParallelChunks() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  for (auto& t : workers_) t.join();
  for (auto& slot : slots_) keepRecords(std::move(slot.records));
  keepRecords(std::move(current_.records));
}

void ParallelChunks::decode(LazDecoder& decoder, std::size_t chunk, Decoded& d) const {
  const uint64_t limit = limits_[chunk];
  d.limit = limit;
  d.good = 0;
  d.error.clear();
  try {
    uint8_t* records = d.records.reserve(static_cast<std::size_t>(limit) * recordLength_);
    d.good = decoder.decodeChunk(chunk, limit, records, &d.error);
    if (d.good < limit && d.error.empty()) d.error = "chunk " + std::to_string(chunk) + " ended early";
  } catch (const std::exception& e) {
    d.good = 0;
    d.error = std::string("read failed: ") + e.what();
  }
}

void ParallelChunks::work(LazDecoder& decoder) {
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    room_.wait(lock, [this] {
      return stopping_ || claimed_ >= limits_.size() || claimed_ < taken_ + slots_.size();
    });
    if (stopping_ || claimed_ >= limits_.size()) return;
    const std::size_t chunk = claimed_++;
    Decoded& slot = slots_[chunk % slots_.size()];
    Decoded d;
    d.records = std::move(slot.records);  // the buffer the reader gave back
    lock.unlock();
    decode(decoder, chunk, d);
    lock.lock();
    d.ready = true;
    slot = std::move(d);
    ready_.notify_one();
  }
}

// Swaps the reader's used buffer into the slot it takes the next chunk from, so buffers are
// allocated once per slot, not once per chunk.
bool ParallelChunks::takeNext() {
  if (taken_ >= limits_.size()) return false;
  if (workers_.empty()) {
    decode(*decoders_.front(), taken_++, current_);
    return true;
  }
  std::unique_lock<std::mutex> lock(mutex_);
  Decoded& slot = slots_[taken_ % slots_.size()];
  ready_.wait(lock, [&slot] { return slot.ready; });
  std::swap(current_.records, slot.records);
  current_.limit = slot.limit;
  current_.good = slot.good;
  current_.error = std::move(slot.error);
  slot.ready = false;
  ++taken_;
  lock.unlock();
  room_.notify_all();
  return true;
}

bool ParallelChunks::next(uint8_t* record, std::string* error) {
  while (!failed_ && at_ >= current_.good) {
    // A chunk cut short (or whose buffer could not be had) ends the points: never skip to the next.
    if (at_ < current_.limit) {
      failed_ = true;
      error_ = current_.error;
    } else if (!takeNext()) {
      failed_ = true;
      error_ = "chunk table holds fewer points than the header";
    } else {
      at_ = 0;
    }
  }
  if (failed_) {
    if (error) *error = error_;
    return false;
  }
  std::memcpy(record, current_.records.bytes.get() + at_ * recordLength_, recordLength_);
  ++at_;
  return true;
}

}  // namespace veldra::las
