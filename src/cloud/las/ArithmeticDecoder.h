#pragma once

// Adaptive binary arithmetic decoding as used by LASzip: 32-bit range decoder with byte-wise
// renormalisation, adaptive multi-symbol models (with a lookup table) and
// adaptive bit models.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#if defined(__GNUC__)
#define VELDRA_LAS_INLINE inline __attribute__((always_inline))
// Rare work kept out of the decoding loops, so that it does not crowd the coder state out of
// the registers there.
#define VELDRA_LAS_RARE __attribute__((noinline, cold))
#else
#define VELDRA_LAS_INLINE inline
#define VELDRA_LAS_RARE
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

  VELDRA_LAS_RARE void setup() {
    pending_ = false;
    lastSymbol_ = symbols_ - 1;
    // The lookup table only narrows the search. Every model has one, four times as fine as
    // the symbol count (at most 4096 slots), so most symbols resolve without search steps
    // (whose outcomes the CPU cannot predict); the decoded values are the same as with a plain
    // search. Twice as fine measured a few per cent slower on layered point data.
    uint32_t tableBits = 3;
    while (symbols_ > (1u << (tableBits - 2)) && tableBits < 12) ++tableBits;
    tableSize_ = 1u << tableBits;
    tableShift_ = kDmLengthShift - tableBits;
    table_.assign(paddedTableSize(), 0);
    // One spare entry past the last symbol: reading the next symbol's start is always in bounds.
    entries_.assign(symbols_ + 1, kOneCount);
    entries_[symbols_] = 0;
    totalCount_ = 0;
    updateCycle_ = symbols_;
    update();
    symbolsUntilUpdate_ = updateCycle_ = (symbols_ + 6) >> 1;
  }

  VELDRA_LAS_RARE void update() {
    totalCount_ += updateCycle_;
    uint32_t* e = entries_.data();
    if (totalCount_ > kDmMaxCount) {
      totalCount_ = 0;
      for (uint32_t n = 0; n < symbols_; ++n) {
        const uint32_t count = ((e[n] >> 16) + 1) >> 1;
        e[n] = count << 16;
        totalCount_ += count;
      }
    }
    const uint32_t scale = 0x80000000u / totalCount_;
    // table_[t] becomes the last symbol whose interval starts at or below t << tableShift_:
    // one less than the number of symbols starting in an earlier slot. Counted, then summed,
    // so that building it takes no data-dependent branches.
    uint16_t* table = table_.data();
    const uint32_t slots = paddedTableSize();
    std::fill(table, table + slots, uint16_t{0});
    uint32_t sum = 0;
    for (uint32_t k = 0; k < symbols_; ++k) {
      const uint32_t d = (scale * sum) >> (31 - kDmLengthShift);
      const uint32_t count = e[k] >> 16;
      e[k] = (count << 16) | d;
      sum += count;
      ++table[d >> tableShift_];
    }
    sumUp(table, slots);
    table[0] = 0;
    updateCycle_ = (5 * updateCycle_) >> 2;
    const uint32_t maxCycle = (symbols_ + 6) << 3;
    if (updateCycle_ > maxCycle) updateCycle_ = maxCycle;
    symbolsUntilUpdate_ = updateCycle_;
  }

 private:
  friend class ArithmeticDecoder;
  // Per symbol the start of its interval (low 16 bits, below 2^15) and its count (high 16
  // bits; counts are halved once they sum past 2^15, so a count stays below 2^15 plus one
  // update cycle). Kept together to halve the cache lines a decode touches.
  static constexpr uint32_t kOneCount = 1u << 16;
  // The decoder keeps value < length, so value / (length >> 15) stays below 2^15 + 2^6 and the
  // slot index (at least 3 bits shifted out) below tableSize_ + 8; the slots past the last
  // interval start all name the last symbol. With this padding the lookup needs no clamp.
  static constexpr uint32_t kTablePad = 10;
  // The table with its padding, in whole groups of eight slots.
  uint32_t paddedTableSize() const { return (tableSize_ + kTablePad + 7) & ~7u; }

  // Turns per-slot counts into "one less than the sum of the counts before the slot" (at most
  // the symbol count, so 16 bits never overflow). Rebuilding the table is most of the cost of
  // adapting a model, and models adapt often at the start of every chunk, so the sums run
  // eight slots at a time.
  static void sumUp(uint16_t* table, uint32_t slots) {
#if defined(__GNUC__)
    using Lanes = uint16_t __attribute__((vector_size(16)));
    const Lanes zero = {}, one = {1, 1, 1, 1, 1, 1, 1, 1};
    Lanes before = {};  // every lane: the sum of all earlier groups
    for (uint32_t t = 0; t < slots; t += 8) {
      Lanes count;
      std::memcpy(&count, table + t, sizeof count);
      Lanes sum = count + __builtin_shufflevector(zero, count, 0, 8, 9, 10, 11, 12, 13, 14);
      sum += __builtin_shufflevector(zero, sum, 0, 1, 8, 9, 10, 11, 12, 13);
      sum += __builtin_shufflevector(zero, sum, 0, 1, 2, 3, 8, 9, 10, 11);
      sum += before;
      const Lanes out = sum - count - one;
      std::memcpy(table + t, &out, sizeof out);
      before = __builtin_shufflevector(sum, sum, 7, 7, 7, 7, 7, 7, 7, 7);
    }
#else
    uint32_t below = 0;
    for (uint32_t t = 0; t < slots; ++t) {
      const uint32_t here = table[t];
      table[t] = static_cast<uint16_t>(below - 1);
      below += here;
    }
#endif
  }
  std::vector<uint32_t> entries_;
  std::vector<uint16_t> table_;
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
  VELDRA_LAS_RARE void update() {
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
    // Every later step keeps value_ < length_ (symbol lookup relies on it). A writer never
    // starts with all ones, so only corrupt input is changed by this.
    if (value_ >= length_) value_ = length_ - 1;
  }

  uint32_t overrun() const { return overrun_; }
  const uint8_t* position() const { return p_; }

  VELDRA_LAS_INLINE uint32_t decodeBit(BitModel& m) {
    const uint32_t x = m.bit0Prob_ * (length_ >> kBmLengthShift);
    // Selects instead of branches: the outcome is as unpredictable as the data.
    const uint32_t sym = value_ >= x ? 1u : 0u;
    const uint32_t one = 0u - sym;
    value_ -= x & one;
    length_ = x ^ ((x ^ (length_ - x)) & one);  // x for a zero, length_ - x for a one
    m.bit0Count_ += sym ^ 1u;
    normalize();
    if (--m.bitsUntilUpdate_ == 0) m.update();
    return sym;
  }

  VELDRA_LAS_INLINE uint32_t decodeSymbol(SymbolModel& m) {
    if (m.pending_) m.setup();
    const uint32_t l = length_ >> kDmLengthShift;
    const uint32_t dv = value_ / l;
    const uint32_t t = dv >> m.tableShift_;
    uint32_t sym = m.table_[t];
    const uint32_t* e = m.entries_.data();
    const uint32_t n0 = m.table_[t + 1] + 1u;
    if (n0 > sym + 1) [[unlikely]] {
      uint32_t n = n0;
      do {
        const uint32_t k = (sym + n) >> 1;
        if ((e[k] & 0xFFFFu) > dv)
          n = k;
        else
          sym = k;
      } while (n > sym + 1);
    }
    const uint32_t here = e[sym];
    const uint32_t x = (here & 0xFFFFu) * l;
    const uint32_t next = (e[sym + 1] & 0xFFFFu) * l;
    const uint32_t isLast = 0u - static_cast<uint32_t>(sym == m.lastSymbol_);
    const uint32_t y = next ^ ((next ^ length_) & isLast);
    value_ -= x;
    length_ = y - x;
    normalize();
    m.entries_[sym] = here + SymbolModel::kOneCount;
    if (--m.symbolsUntilUpdate_ == 0) m.update();
    return sym;
  }

  VELDRA_LAS_INLINE uint32_t readBits(uint32_t bits) {
    if (bits > 19) [[unlikely]] {
      const uint32_t low = readShort();
      return (readBitsUpTo19(bits - 16) << 16) | low;
    }
    return readBitsUpTo19(bits);
  }

  VELDRA_LAS_INLINE uint32_t readShort() {
    const uint32_t sym = value_ / (length_ >>= 16);
    value_ -= length_ * sym;
    normalize();
    return sym & 0xFFFFu;
  }

  uint32_t readInt() {
    const uint32_t low = readShort();
    return (readShort() << 16) | low;
  }

 private:
  VELDRA_LAS_INLINE uint32_t readBitsUpTo19(uint32_t bits) {
    const uint32_t sym = value_ / (length_ >>= bits);
    value_ -= length_ * sym;
    normalize();
    return sym;
  }

  VELDRA_LAS_INLINE uint8_t byte() {
    if (p_ < end_) return *p_++;
    ++overrun_;
    return 0;
  }
  // Brings length_ back to at least kAcMinLength. Away from the end of the input this takes
  // no data-dependent branch: how many bytes to shift in follows from the leading zeros.
  VELDRA_LAS_INLINE void normalize() {
    if (end_ - p_ >= 4) [[likely]] {
      const uint32_t bits = (static_cast<uint32_t>(__builtin_clz(length_)) >> 3) << 3;
      uint32_t next;
      std::memcpy(&next, p_, 4);
      next = __builtin_bswap32(next);
      value_ = static_cast<uint32_t>(((uint64_t{value_} << 32) | next) >> (32 - bits));
      length_ <<= bits;
      p_ += bits >> 3;
    } else if (length_ < kAcMinLength) {
      renorm();
    }
  }
  VELDRA_LAS_INLINE void renorm() {
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

  VELDRA_LAS_INLINE int32_t decompress(ArithmeticDecoder& dec, int32_t pred, uint32_t context = 0) {
    uint32_t real = static_cast<uint32_t>(pred) + static_cast<uint32_t>(readCorrector(dec, bitsModels_[context]));
    const uint32_t under = 0u - static_cast<uint32_t>(static_cast<int32_t>(real) < 0);
    const uint32_t over = 0u - static_cast<uint32_t>(real >= corrRange_);
    real += (corrRange_ & under) - (corrRange_ & over & ~under);
    return static_cast<int32_t>(real);
  }

  uint32_t k() const { return k_; }

 private:
  VELDRA_LAS_INLINE int32_t readCorrector(ArithmeticDecoder& dec, SymbolModel& bitsModel) {
    const uint32_t k = k_ = dec.decodeSymbol(bitsModel);
    if (k == 0) return static_cast<int32_t>(dec.decodeBit(corrector0_));
    if (k >= 32) return corrMin_;
    uint32_t c = dec.decodeSymbol(correctors_[k]);
    if (k > bitsHigh_) {
      const uint32_t k1 = k - bitsHigh_;
      c = (c << k1) | dec.readBits(k1);
    }
    // c lies in [0, 2^k): the upper half are positive differences, the lower half negative.
    const uint32_t negative = 0u - static_cast<uint32_t>(c < (1u << (k - 1)));
    c = c + 1 - ((1u << k) & negative);
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
