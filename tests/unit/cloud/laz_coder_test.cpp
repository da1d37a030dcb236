// The arithmetic decoder on damaged data, symbol by symbol against a straightforward decoder.
// Decoding of whole files is held to laz-perf by the interop test.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "cloud/las/ArithmeticDecoder.h"
#include "cloud/las/LazItems10.h"

namespace veldra::las {
namespace {

// Model sizes on both sides of the lookup-table and search boundaries.
constexpr uint32_t kSizes[] = {2, 3, 6, 16, 17, 33, 64, 128, 256, 516};
constexpr size_t kModels = sizeof kSizes / sizeof kSizes[0];

// Adaptive symbol model as the format defines it, kept without a lookup table.
struct PlainModel {
  explicit PlainModel(uint32_t symbols) : n_(symbols), dist_(symbols), counts_(symbols, 1) {
    cycle_ = symbols;
    update();
    untilUpdate_ = cycle_ = (symbols + 6) >> 1;
  }
  void update() {
    total_ += cycle_;
    if (total_ > (1u << 15)) {
      total_ = 0;
      for (auto& c : counts_) total_ += (c = (c + 1) >> 1);
    }
    const uint32_t scale = 0x80000000u / total_;
    uint32_t sum = 0;
    for (uint32_t k = 0; k < n_; ++k) {
      dist_[k] = (scale * sum) >> 16;
      sum += counts_[k];
    }
    cycle_ = std::min((5 * cycle_) >> 2, (n_ + 6) << 3);
    untilUpdate_ = cycle_;
  }
  uint32_t n_, total_ = 0, cycle_ = 0, untilUpdate_ = 0;
  std::vector<uint32_t> dist_, counts_;
};

// Straightforward decoding (no lookup table, linear search, byte-at-a-time renormalisation), to
// hold the fast decoder to on arbitrary bytes.
class PlainDecoder {
 public:
  explicit PlainDecoder(const std::vector<uint8_t>& bytes) : bytes_(bytes) {
    for (int i = 0; i < 4; ++i) value_ = (value_ << 8) | next();
    if (value_ >= length_) value_ = length_ - 1;  // no writer starts with all ones
  }
  uint32_t symbol(PlainModel& m) {
    const uint32_t l = length_ >> 15;
    const uint32_t dv = value_ / l;
    uint32_t sym = 0;
    while (sym + 1 < m.n_ && m.dist_[sym + 1] <= dv) ++sym;
    const uint32_t x = m.dist_[sym] * l;
    const uint32_t y = sym + 1 == m.n_ ? length_ : m.dist_[sym + 1] * l;
    value_ -= x;
    length_ = y - x;
    renorm();
    ++m.counts_[sym];
    if (--m.untilUpdate_ == 0) m.update();
    return sym;
  }
  uint32_t bits(uint32_t n) {
    const uint32_t sym = value_ / (length_ >>= n);
    value_ -= length_ * sym;
    renorm();
    return sym;
  }

 private:
  uint32_t next() { return pos_ < bytes_.size() ? bytes_[pos_++] : 0u; }
  void renorm() {
    while (length_ < (1u << 24)) {
      value_ = (value_ << 8) | next();
      length_ <<= 8;
    }
  }
  const std::vector<uint8_t>& bytes_;
  size_t pos_ = 0;
  uint32_t value_ = 0, length_ = 0xFFFFFFFFu;
};

// Damaged data must still decode deterministically and stay inside every table: random bytes,
// runs of 0xFF (the largest values the decoder can see) and zeros, symbol for symbol against
// the plain decoder.
TEST(LazCoder, ArbitraryBytesDecodeLikeThePlainDecoder) {
  std::mt19937 rng(5);
  for (int stream = 0; stream < 60; ++stream) {
    std::vector<uint8_t> bytes(stream == 0 ? 0 : 1 + rng() % 3000);
    for (auto& b : bytes) {
      switch (stream % 4) {
        case 0: b = 0xFF; break;
        case 1: b = rng() % 8 == 0 ? static_cast<uint8_t>(rng()) : 0xFF; break;
        case 2: b = rng() % 8 == 0 ? 0xFF : 0; break;
        default: b = static_cast<uint8_t>(rng()); break;
      }
    }
    ArithmeticDecoder dec;
    dec.init(bytes.data(), bytes.data() + bytes.size());
    PlainDecoder plain(bytes);
    std::vector<SymbolModel> models;
    std::vector<PlainModel> refModels;
    for (uint32_t n : kSizes) {
      models.emplace_back(n);
      refModels.emplace_back(n);
    }
    for (int i = 0; i < 20000; ++i) {
      if (rng() % 16 == 0) {
        const uint32_t n = 1 + rng() % 19;
        ASSERT_EQ(dec.readBits(n), plain.bits(n)) << "stream " << stream << ", step " << i;
        continue;
      }
      const uint32_t m = rng() % kModels;
      const uint32_t got = dec.decodeSymbol(models[m]);
      ASSERT_LT(got, kSizes[m]);
      ASSERT_EQ(got, plain.symbol(refModels[m])) << "stream " << stream << ", step " << i << ", model size " << kSizes[m];
    }
  }
}

}  // namespace
}  // namespace veldra::las
