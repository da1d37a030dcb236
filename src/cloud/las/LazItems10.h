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
  void add(int32_t x);

 private:
  std::array<int32_t, 5> v_{};
  bool high_ = true;
};

class PointwiseItem {
 public:
  virtual ~PointwiseItem() = default;
  // Resets the models and takes the chunk's raw first record of this item.
  virtual void init(const uint8_t* first) = 0;
  virtual void decode(ArithmeticDecoder& dec, uint8_t* out) = 0;
};

class Point10Item final : public PointwiseItem {
 public:
  Point10Item();
  void init(const uint8_t* first) override;
  void decode(ArithmeticDecoder& dec, uint8_t* out) override;

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
class GpsTime11Item final : public PointwiseItem {
 public:
  void init(const uint8_t* first) override;
  void decode(ArithmeticDecoder& dec, uint8_t* out) override;

 private:
  SymbolModel multi_{516}, zeroDiff_{6};
  IntegerDecompressor ic_{32, 9};
  uint32_t last_ = 0, next_ = 0;
  int64_t time_[4] = {};
  int32_t diff_[4] = {};
  int32_t extreme_[4] = {};
};

class Rgb12Item final : public PointwiseItem {
 public:
  void init(const uint8_t* first) override;
  void decode(ArithmeticDecoder& dec, uint8_t* out) override;

 private:
  SymbolModel used_{128};
  SymbolModel diff_[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                          SymbolModel(256), SymbolModel(256), SymbolModel(256)};
  uint16_t last_[3] = {};
};

class ByteItem final : public PointwiseItem {
 public:
  explicit ByteItem(uint32_t count) : count_(count), last_(count), models_(count, SymbolModel(256)) {}
  void init(const uint8_t* first) override;
  void decode(ArithmeticDecoder& dec, uint8_t* out) override;

 private:
  uint32_t count_;
  std::vector<uint8_t> last_;
  std::vector<SymbolModel> models_;
};

// Shared by the pointwise and layered RGB coders: decodes one colour given the byte-usage
// symbol and the per-byte difference models.
void decodeRgbDiff(ArithmeticDecoder& dec, uint32_t used, SymbolModel* diff, const uint16_t* last, uint16_t* out);

extern const uint8_t kReturnMap[8][8];
extern const uint8_t kReturnLevel[8][8];
extern const uint8_t kReturnMap6[16][16];

}  // namespace veldra::las
