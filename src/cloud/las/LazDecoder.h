#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "cloud/las/LasHeader.h"

namespace veldra::las {

class ByteSource;

// Decoder of LASzip-compressed point data: reads the chunk table at open, then one chunk at a
// time into memory and hands out records in order.
class LazDecoder {
 public:
  static std::unique_ptr<LazDecoder> create(ByteSource& src, const LasHeader& header, const LaszipVlr& vlr,
                                            std::string* error);
  virtual ~LazDecoder() = default;
  // Decodes the next record; false with *error on corrupt data.
  virtual bool next(uint8_t* record, std::string* error) = 0;

  // Chunks are coded independently, so separate decoders of one file may decode different
  // chunks at the same time (the source must allow concurrent reads).
  virtual std::size_t chunkCount() const = 0;
  virtual uint64_t chunkPoints(std::size_t chunk) const = 0;
  // Decodes the first `limit` records of a chunk (at most its points) into `records`. Returns
  // how many records are good: all of them, or those before a failure, which *error explains
  // (the records next() would hand out before it fails).
  virtual uint64_t decodeChunk(std::size_t chunk, uint64_t limit, uint8_t* records, std::string* error) = 0;
};

}  // namespace veldra::las
