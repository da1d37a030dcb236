#include "cloud/las/ParallelChunks.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <system_error>
#include <thread>

#include "cloud/las/LazDecoder.h"

namespace veldra::las {
namespace {

constexpr int kMaxThreads = 64;
constexpr int kMaxDefaultThreads = 8;

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

ParallelChunks::ParallelChunks(std::vector<std::unique_ptr<LazDecoder>> decoders, uint16_t recordLength,
                               uint64_t pointCount)
    : decoders_(std::move(decoders)), recordLength_(recordLength) {
  const std::size_t chunks = decoders_.front()->chunkCount();
  uint64_t left = pointCount;
  for (std::size_t c = 0; c < chunks && left > 0; ++c) {
    const uint64_t n = std::min(left, decoders_.front()->chunkPoints(c));
    limits_.push_back(n);
    left -= n;
  }
  for (std::size_t i = 0; i < decoders_.size(); ++i) launch();
}

ParallelChunks::~ParallelChunks() {
  for (auto& f : ahead_)
    if (f.valid()) f.wait();
}

// Chunk k always goes to decoder k % threads: it is launched only once chunk k - threads has
// been taken, so that decoder is idle by then.
void ParallelChunks::launch() {
  if (launched_ >= limits_.size()) return;
  const std::size_t chunk = launched_++;
  LazDecoder* decoder = decoders_[chunk % decoders_.size()].get();
  auto work = [decoder, chunk, limit = limits_[chunk], len = recordLength_] {
    Decoded d;
    try {
      d.records.resize(static_cast<std::size_t>(limit) * len);
      d.good = decoder->decodeChunk(chunk, limit, d.records.data(), &d.error);
      if (d.good < limit && d.error.empty()) d.error = "chunk " + std::to_string(chunk) + " ended early";
    } catch (const std::exception& e) {
      d.good = 0;
      d.error = std::string("read failed: ") + e.what();
    }
    return d;
  };
  try {
    ahead_.push_back(std::async(std::launch::async, work));
  } catch (const std::system_error&) {
    ahead_.push_back(std::async(std::launch::deferred, work));  // no thread to be had: decode when taken
  }
}

bool ParallelChunks::next(uint8_t* record, std::string* error) {
  if (failed_) {
    if (error) *error = error_;
    return false;
  }
  if (at_ >= current_.good) {
    const bool chunkCut = at_ < current_.records.size() / recordLength_;
    if (chunkCut || ahead_.empty()) {
      failed_ = true;
      error_ = chunkCut ? current_.error : "chunk table holds fewer points than the header";
      if (error) *error = error_;
      return false;
    }
    current_ = ahead_.front().get();
    ahead_.pop_front();
    at_ = 0;
    launch();
    if (current_.good == 0) return next(record, error);
  }
  std::memcpy(record, current_.records.data() + at_ * recordLength_, recordLength_);
  ++at_;
  return true;
}

}  // namespace veldra::las
