#pragma once

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
};

}  // namespace veldra::las
