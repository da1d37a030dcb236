#pragma once

// Item decoders of LASzip's pointwise (version 2) coding: POINT10, GPSTIME11, RGB12, BYTE.
// All items of one point share one arithmetic decoder; each chunk starts with a raw record.

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "cloud/las/ArithmeticDecoder.h"

namespace veldra::las {

// Running median of the last five values, updated in place.
class Median5 {
 public:
  void reset() {
    v_ = {0, 0, 0, 0, 0};
    high_ = true;
  }
  int32_t get() const { return v_[2]; }
  VELDRA_LAS_INLINE void add(int32_t x);

 private:
  std::array<int32_t, 5> v_{};
  bool high_ = true;
};

// Decodes whole records of one pointwise point format: all items of a point in one pass over
// one arithmetic decoder.
class PointwiseRecordDecoder {
 public:
  virtual ~PointwiseRecordDecoder() = default;
  // Resets the models and takes the chunk's raw first record.
  virtual void init(const uint8_t* first) = 0;
  virtual void decode(ArithmeticDecoder& dec, uint8_t* record) = 0;
};

// Records are POINT10, then GPSTIME11 if `gps`, RGB12 if `rgb`, then `extraBytes` BYTE items.
std::unique_ptr<PointwiseRecordDecoder> makePointwiseRecordDecoder(bool gps, bool rgb, uint32_t extraBytes);

class Point10Item {
 public:
  Point10Item();
  void init(const uint8_t* first);
  void decode(ArithmeticDecoder& dec, uint8_t* out);

 private:
  SymbolModel& lazyModel(std::vector<std::unique_ptr<SymbolModel>>& set, uint8_t key);

  uint8_t last_[20] = {};
  uint16_t lastIntensity_[16] = {};
  Median5 medX_[16], medY_[16];
  int32_t lastHeight_[8] = {};
  SymbolModel changed_{64};
  SymbolModel scanAngle_[2] = {SymbolModel(256), SymbolModel(256)};
  std::vector<std::unique_ptr<SymbolModel>> bitByte_, classification_, userData_;
  IntegerDecompressor intensity_{16, 4}, pointSource_{16}, dx_{32, 2}, dy_{32, 22}, z_{32, 20};
};

// GPS time as four interleaved sequences of 64-bit integers (the IEEE bits of the double).
class GpsTime11Item {
 public:
  void init(const uint8_t* first);
  void decode(ArithmeticDecoder& dec, uint8_t* out);

 private:
  SymbolModel multi_{516}, zeroDiff_{6};
  IntegerDecompressor ic_{32, 9};
  uint32_t last_ = 0, next_ = 0;
  int64_t time_[4] = {};
  int32_t diff_[4] = {};
  int32_t extreme_[4] = {};
};

class Rgb12Item {
 public:
  void init(const uint8_t* first);
  void decode(ArithmeticDecoder& dec, uint8_t* out);

 private:
  SymbolModel used_{128};
  SymbolModel diff_[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                          SymbolModel(256), SymbolModel(256), SymbolModel(256)};
  uint16_t last_[3] = {};
};

class ByteItem {
 public:
  explicit ByteItem(uint32_t count) : count_(count), last_(count), models_(count, SymbolModel(256)) {}
  void init(const uint8_t* first);
  void decode(ArithmeticDecoder& dec, uint8_t* out);

 private:
  uint32_t count_;
  std::vector<uint8_t> last_;
  std::vector<SymbolModel> models_;
};

extern const uint8_t kReturnMap[8][8];
extern const uint8_t kReturnLevel[8][8];
extern const uint8_t kReturnMap6[16][16];

// Minimum and maximum by masks, which compilers do not turn back into branches.
inline int32_t lesser(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b) ^
                              ((static_cast<uint32_t>(a) ^ static_cast<uint32_t>(b)) & (0u - static_cast<uint32_t>(a < b))));
}
inline int32_t greater(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(b) ^
                              ((static_cast<uint32_t>(a) ^ static_cast<uint32_t>(b)) & (0u - static_cast<uint32_t>(a > b))));
}

// The five values stay sorted. A new value replaces the largest while high_ is set, else the
// smallest; high_ then records on which side of the old median it fell. Written with min/max
// only: the comparisons depend on the data and would be mispredicted often.
VELDRA_LAS_INLINE void Median5::add(int32_t x) {
  auto& v = v_;
  const int32_t median = v[2];
  const size_t drop = high_ ? 0 : 1;  // the four kept values start here
  const int32_t w0 = v[drop], w1 = v[drop + 1], w2 = v[drop + 2], w3 = v[drop + 3];
  v[0] = lesser(w0, x);
  v[1] = greater(w0, lesser(w1, x));
  v[2] = greater(w1, lesser(w2, x));
  v[3] = greater(w2, lesser(w3, x));
  v[4] = greater(w3, x);
  high_ = int64_t{x} < int64_t{median} + static_cast<int64_t>(drop);  // x <= median once the minimum goes
}

inline uint32_t clampByte(int32_t v) { return v < 0 ? 0u : (v > 255 ? 255u : static_cast<uint32_t>(v)); }

// Shared by the pointwise and layered RGB coders: decodes one colour given the byte-usage
// symbol and the per-byte difference models.
VELDRA_LAS_INLINE void decodeRgbDiff(ArithmeticDecoder& dec, uint32_t sym, SymbolModel* diffModels,
                                     const uint16_t* last, uint16_t* item) {
  uint32_t corr;
  int32_t diff;
  if (sym & 1) {
    corr = dec.decodeSymbol(diffModels[0]);
    item[0] = static_cast<uint16_t>((corr + (last[0] & 255)) & 255);
  } else {
    item[0] = last[0] & 0xFF;
  }
  if (sym & 2) {
    corr = dec.decodeSymbol(diffModels[1]);
    item[0] |= static_cast<uint16_t>(((corr + (last[0] >> 8)) & 255) << 8);
  } else {
    item[0] |= last[0] & 0xFF00;
  }
  if (sym & 64) {
    diff = (item[0] & 0xFF) - (last[0] & 0xFF);
    if (sym & 4) {
      corr = dec.decodeSymbol(diffModels[2]);
      item[1] = static_cast<uint16_t>((corr + clampByte(diff + (last[1] & 255))) & 255);
    } else {
      item[1] = last[1] & 0xFF;
    }
    if (sym & 16) {
      corr = dec.decodeSymbol(diffModels[4]);
      diff = (diff + ((item[1] & 0xFF) - (last[1] & 0xFF))) / 2;
      item[2] = static_cast<uint16_t>((corr + clampByte(diff + (last[2] & 255))) & 255);
    } else {
      item[2] = last[2] & 0xFF;
    }
    diff = (item[0] >> 8) - (last[0] >> 8);
    if (sym & 8) {
      corr = dec.decodeSymbol(diffModels[3]);
      item[1] |= static_cast<uint16_t>(((corr + clampByte(diff + (last[1] >> 8))) & 255) << 8);
    } else {
      item[1] |= last[1] & 0xFF00;
    }
    if (sym & 32) {
      corr = dec.decodeSymbol(diffModels[5]);
      diff = (diff + ((item[1] >> 8) - (last[1] >> 8))) / 2;
      item[2] |= static_cast<uint16_t>(((corr + clampByte(diff + (last[2] >> 8))) & 255) << 8);
    } else {
      item[2] |= last[2] & 0xFF00;
    }
  } else {
    item[1] = item[0];
    item[2] = item[0];
  }
}

}  // namespace veldra::las
