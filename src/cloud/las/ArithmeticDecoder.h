#pragma once

// Adaptive binary arithmetic decoding as used by LASzip: 32-bit range decoder with byte-wise
// renormalisation, adaptive multi-symbol models (with a lookup table above 16 symbols) and
// adaptive bit models.

#include <cstdint>
#include <vector>

#if defined(__GNUC__)
#define VELDRA_LAS_INLINE inline __attribute__((always_inline))
#else
#define VELDRA_LAS_INLINE inline
#endif

namespace veldra::las {

constexpr uint32_t kAcMinLength = 0x01000000u;
constexpr uint32_t kAcMaxLength = 0xFFFFFFFFu;
constexpr uint32_t kBmLengthShift = 13;
constexpr uint32_t kBmMaxCount = 1u << kBmLengthShift;
constexpr uint32_t kDmLengthShift = 15;
constexpr uint32_t kDmMaxCount = 1u << kDmLengthShift;

class SymbolModel {
 public:
  explicit SymbolModel(uint32_t symbols = 2) { init(symbols); }

  // Cheap: the tables are built on first use, so resetting many rarely used models at every
  // chunk start costs nothing.
  void init(uint32_t symbols) {
    symbols_ = symbols;
    pending_ = true;
  }

  void setup() {
    pending_ = false;
    lastSymbol_ = symbols_ - 1;
    if (symbols_ > 16) {
      // The lookup table only narrows the search; a finer one than usual resolves most
      // symbols without any search steps and decodes the same values.
      uint32_t tableBits = 3;
      while (symbols_ > (1u << (tableBits - 1)) && tableBits < 12) ++tableBits;
      tableSize_ = 1u << tableBits;
      tableShift_ = kDmLengthShift - tableBits;
      table_.assign(tableSize_ + 2, 0);
    } else {
      tableSize_ = tableShift_ = 0;
      table_.clear();
    }
    distribution_.assign(symbols_, 0);
    counts_.assign(symbols_, 1);
    totalCount_ = 0;
    updateCycle_ = symbols_;
    update();
    symbolsUntilUpdate_ = updateCycle_ = (symbols_ + 6) >> 1;
  }

  void update() {
    totalCount_ += updateCycle_;
    if (totalCount_ > kDmMaxCount) {
      totalCount_ = 0;
      for (uint32_t n = 0; n < symbols_; ++n) totalCount_ += (counts_[n] = (counts_[n] + 1) >> 1);
    }
    const uint32_t scale = 0x80000000u / totalCount_;
    uint32_t sum = 0;
    if (tableSize_ == 0) {
      for (uint32_t k = 0; k < symbols_; ++k) {
        distribution_[k] = (scale * sum) >> (31 - kDmLengthShift);
        sum += counts_[k];
      }
    } else {
      uint32_t s = 0;
      for (uint32_t k = 0; k < symbols_; ++k) {
        distribution_[k] = (scale * sum) >> (31 - kDmLengthShift);
        sum += counts_[k];
        const uint32_t w = distribution_[k] >> tableShift_;
        while (s < w) table_[++s] = k - 1;
      }
      table_[0] = 0;
      while (s <= tableSize_) table_[++s] = symbols_ - 1;
    }
    updateCycle_ = (5 * updateCycle_) >> 2;
    const uint32_t maxCycle = (symbols_ + 6) << 3;
    if (updateCycle_ > maxCycle) updateCycle_ = maxCycle;
    symbolsUntilUpdate_ = updateCycle_;
  }

 private:
  friend class ArithmeticDecoder;
  std::vector<uint32_t> distribution_, counts_, table_;
  uint32_t symbols_ = 0, lastSymbol_ = 0, totalCount_ = 0, updateCycle_ = 0, symbolsUntilUpdate_ = 0;
  uint32_t tableSize_ = 0, tableShift_ = 0;
  bool pending_ = true;
};

class BitModel {
 public:
  BitModel() { init(); }
  void init() {
    bit0Count_ = 1;
    bitCount_ = 2;
    bit0Prob_ = 1u << (kBmLengthShift - 1);
    updateCycle_ = bitsUntilUpdate_ = 4;
  }
  void update() {
    bitCount_ += updateCycle_;
    if (bitCount_ > kBmMaxCount) {
      bitCount_ = (bitCount_ + 1) >> 1;
      bit0Count_ = (bit0Count_ + 1) >> 1;
      if (bit0Count_ == bitCount_) ++bitCount_;
    }
    const uint32_t scale = 0x80000000u / bitCount_;
    bit0Prob_ = (bit0Count_ * scale) >> (31 - kBmLengthShift);
    updateCycle_ = (5 * updateCycle_) >> 2;
    if (updateCycle_ > 64) updateCycle_ = 64;
    bitsUntilUpdate_ = updateCycle_;
  }

 private:
  friend class ArithmeticDecoder;
  uint32_t bit0Count_, bitCount_, bit0Prob_, updateCycle_, bitsUntilUpdate_;
};

class ArithmeticDecoder {
 public:
  // Starts decoding [begin, end). Reads past the end yield zero bytes and are counted, so
  // corrupt input can be recognised without ever touching memory outside the range.
  void init(const uint8_t* begin, const uint8_t* end) {
    p_ = begin;
    end_ = end;
    overrun_ = 0;
    length_ = kAcMaxLength;
    value_ = (uint32_t{byte()} << 24) | (uint32_t{byte()} << 16) | (uint32_t{byte()} << 8) | byte();
  }

  uint32_t overrun() const { return overrun_; }
  const uint8_t* position() const { return p_; }

  VELDRA_LAS_INLINE uint32_t decodeBit(BitModel& m) {
    const uint32_t x = m.bit0Prob_ * (length_ >> kBmLengthShift);
    uint32_t sym;
    if (value_ < x) {
      sym = 0;
      length_ = x;
      ++m.bit0Count_;
    } else {
      sym = 1;
      value_ -= x;
      length_ -= x;
    }
    if (length_ < kAcMinLength) renorm();
    if (--m.bitsUntilUpdate_ == 0) m.update();
    return sym;
  }

  VELDRA_LAS_INLINE uint32_t decodeSymbol(SymbolModel& m) {
    if (m.pending_) m.setup();
    uint32_t n, sym, x, y = length_;
    if (m.tableSize_ != 0) {
      const uint32_t dv = value_ / (length_ >>= kDmLengthShift);
      uint32_t t = dv >> m.tableShift_;
      if (t > m.tableSize_) t = m.tableSize_;  // only corrupt input gets here
      sym = m.table_[t];
      n = m.table_[t + 1] + 1;
      while (n > sym + 1) {
        const uint32_t k = (sym + n) >> 1;
        if (m.distribution_[k] > dv)
          n = k;
        else
          sym = k;
      }
      x = m.distribution_[sym] * length_;
      if (sym != m.lastSymbol_) y = m.distribution_[sym + 1] * length_;
    } else {
      x = sym = 0;
      length_ >>= kDmLengthShift;
      n = m.symbols_;
      uint32_t k = n >> 1;
      do {
        const uint32_t z = length_ * m.distribution_[k];
        if (z > value_) {
          n = k;
          y = z;
        } else {
          sym = k;
          x = z;
        }
      } while ((k = (sym + n) >> 1) != sym);
    }
    value_ -= x;
    length_ = y - x;
    if (length_ < kAcMinLength) renorm();
    ++m.counts_[sym];
    if (--m.symbolsUntilUpdate_ == 0) m.update();
    return sym;
  }

  uint32_t readBits(uint32_t bits) {
    if (bits > 19) {
      const uint32_t low = readShort();
      return (readBits(bits - 16) << 16) | low;
    }
    const uint32_t sym = value_ / (length_ >>= bits);
    value_ -= length_ * sym;
    if (length_ < kAcMinLength) renorm();
    return sym;
  }

  uint32_t readShort() {
    const uint32_t sym = value_ / (length_ >>= 16);
    value_ -= length_ * sym;
    renorm();
    return sym & 0xFFFFu;
  }

  uint32_t readInt() {
    const uint32_t low = readShort();
    return (readShort() << 16) | low;
  }

 private:
  uint8_t byte() {
    if (p_ < end_) return *p_++;
    ++overrun_;
    return 0;
  }
  void renorm() {
    do {
      value_ = (value_ << 8) | byte();
    } while ((length_ <<= 8) < kAcMinLength);
  }

  const uint8_t* p_ = nullptr;
  const uint8_t* end_ = nullptr;
  uint32_t value_ = 0, length_ = 0, overrun_ = 0;
};

// Decompresses integers coded as a difference to a prediction: the difference's bit length k
// is an arithmetic symbol (per context), the low bits follow.
class IntegerDecompressor {
 public:
  IntegerDecompressor(uint32_t bits = 16, uint32_t contexts = 1, uint32_t bitsHigh = 8, uint32_t range = 0)
      : contexts_(contexts), bitsHigh_(bitsHigh) {
    if (range != 0) {
      corrBits_ = 0;
      corrRange_ = range;
      while (range) {
        range >>= 1;
        ++corrBits_;
      }
      if (corrRange_ == (1u << (corrBits_ - 1))) --corrBits_;
      corrMin_ = -static_cast<int32_t>(corrRange_ / 2);
    } else if (bits != 0 && bits < 32) {
      corrBits_ = bits;
      corrRange_ = 1u << bits;
      corrMin_ = -static_cast<int32_t>(corrRange_ / 2);
    } else {
      corrBits_ = 32;
      corrRange_ = 0;
      corrMin_ = INT32_MIN;
    }
    init();
  }

  void init() {
    if (bitsModels_.size() != contexts_) {
      bitsModels_.assign(contexts_, SymbolModel(corrBits_ + 1));
      correctors_.clear();
      correctors_.reserve(corrBits_ + 1);
      correctors_.emplace_back(2);  // slot 0 unused: k == 0 goes to the bit model
      for (uint32_t i = 1; i <= corrBits_; ++i)
        correctors_.emplace_back(i <= bitsHigh_ ? (1u << i) : (1u << bitsHigh_));
    } else {
      for (auto& m : bitsModels_) m.init(corrBits_ + 1);
      for (uint32_t i = 1; i <= corrBits_; ++i) correctors_[i].init(i <= bitsHigh_ ? (1u << i) : (1u << bitsHigh_));
    }
    corrector0_.init();
  }

  int32_t decompress(ArithmeticDecoder& dec, int32_t pred, uint32_t context = 0) {
    uint32_t real = static_cast<uint32_t>(pred) + static_cast<uint32_t>(readCorrector(dec, bitsModels_[context]));
    if (static_cast<int32_t>(real) < 0)
      real += corrRange_;
    else if (real >= corrRange_)
      real -= corrRange_;
    return static_cast<int32_t>(real);
  }

  uint32_t k() const { return k_; }

 private:
  int32_t readCorrector(ArithmeticDecoder& dec, SymbolModel& bitsModel) {
    k_ = dec.decodeSymbol(bitsModel);
    if (k_ == 0) return static_cast<int32_t>(dec.decodeBit(corrector0_));
    if (k_ >= 32) return corrMin_;
    uint32_t c;
    if (k_ <= bitsHigh_) {
      c = dec.decodeSymbol(correctors_[k_]);
    } else {
      const uint32_t k1 = k_ - bitsHigh_;
      c = dec.decodeSymbol(correctors_[k_]);
      c = (c << k1) | dec.readBits(k1);
    }
    // c lies in [0, 2^k): the upper half are positive differences, the lower half negative.
    if (c >= (1u << (k_ - 1)))
      c += 1;
    else
      c -= (1u << k_) - 1;
    return static_cast<int32_t>(c);
  }

  uint32_t contexts_, bitsHigh_;
  uint32_t corrBits_ = 0, corrRange_ = 0;
  int32_t corrMin_ = 0;
  uint32_t k_ = 0;
  std::vector<SymbolModel> bitsModels_;
  BitModel corrector0_;
  std::vector<SymbolModel> correctors_;
};

}  // namespace veldra::las
