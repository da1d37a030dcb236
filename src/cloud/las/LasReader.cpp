#include "cloud/las/LasReader.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "cloud/las/ByteSource.h"
#include "cloud/las/LazDecoder.h"
#include "cloud/las/ParallelChunks.h"

namespace veldra::las {

LasReader::~LasReader() = default;

std::unique_ptr<LasReader> LasReader::open(const std::string& path, std::string* error) {
  auto src = ByteSource::openFile(path, error);
  if (!src) return nullptr;
  return openSource(std::move(src), error);
}

std::unique_ptr<LasReader> LasReader::openMemory(std::string bytes, std::string* error) {
  return openSource(ByteSource::fromMemory(std::move(bytes)), error);
}

std::unique_ptr<LasReader> LasReader::openSource(std::unique_ptr<ByteSource> src, std::string* error) {
  if (!src) {
    if (error) *error = "no input";
    return nullptr;
  }
  try {
    std::unique_ptr<LasReader> r(new LasReader());
    r->threads_ = decodeThreads();
    r->src_ = std::move(src);
    if (!readLasHeader(*r->src_, r->header_, r->laszip_, error)) return nullptr;
    const LasHeader& h = r->header_;
    if (h.compressed) {
      r->lazDecoder_ = LazDecoder::create(*r->src_, h, *r->laszip_, error);
      if (!r->lazDecoder_) return nullptr;
    } else {
      const uint64_t avail = r->src_->size() - h.offsetToPoints;
      if (h.pointCount > avail / h.recordLength) {
        if (error)
          *error = "file truncated: " + std::to_string(h.pointCount) + " points of " +
                   std::to_string(h.recordLength) + " bytes announced, " + std::to_string(avail) +
                   " bytes of point data present";
        return nullptr;
      }
    }
    return r;
  } catch (const std::exception& e) {  // allocation failure and the like
    if (error) *error = std::string("cannot open LAS data: ") + e.what();
    return nullptr;
  }
}

bool LasReader::readPoint(uint8_t* record) {
  if (failed_) return false;
  if (pointsRead_ >= header_.pointCount) {
    error_ = "end of points";
    return false;
  }
  bool ok = false;
  try {
    if (pointsRead_ == 0 && lazDecoder_ && threads_ > 1) startParallel();
    if (parallel_)
      ok = parallel_->next(record, &error_);
    else
      ok = lazDecoder_ ? lazDecoder_->next(record, &error_) : readPlain(record);
  } catch (const std::exception& e) {
    error_ = std::string("read failed: ") + e.what();
    ok = false;
  }
  if (!ok) {
    failed_ = true;
    return false;
  }
  ++pointsRead_;
  return true;
}

// Worth it only with two chunks or more; without a second decoder, or with chunks too large to
// buffer, the reader stays on one thread.
void LasReader::startParallel() {
  if (lazDecoder_->chunkCount() < 2 || !ParallelChunks::chunksFit(*lazDecoder_, header_.recordLength, header_.pointCount))
    return;
  std::vector<std::unique_ptr<LazDecoder>> decoders;
  const int n = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(threads_), lazDecoder_->chunkCount()));
  for (int i = 1; i < n; ++i) {
    std::string err;
    auto d = LazDecoder::create(*src_, header_, *laszip_, &err);
    if (!d) return;
    decoders.push_back(std::move(d));
  }
  decoders.insert(decoders.begin(), std::move(lazDecoder_));
  parallel_ = std::make_unique<ParallelChunks>(std::move(decoders), header_.recordLength, header_.pointCount);
}

bool LasReader::readPlain(uint8_t* record) {
  const size_t len = header_.recordLength;
  if (blockPos_ >= blockEnd_) {
    const uint64_t remaining = header_.pointCount - pointsRead_;
    const uint64_t perBlock = std::max<uint64_t>(1, (1u << 20) / len);
    const uint64_t n = std::min(remaining, perBlock);
    block_.resize(static_cast<size_t>(n) * len);
    const uint64_t at = header_.offsetToPoints + pointsRead_ * len;
    if (!src_->read(at, block_.data(), block_.size())) {
      error_ = "cannot read point records at offset " + std::to_string(at);
      return false;
    }
    blockPos_ = 0;
    blockEnd_ = block_.size();
  }
  std::memcpy(record, block_.data() + blockPos_, len);
  blockPos_ += len;
  return true;
}

}  // namespace veldra::las
