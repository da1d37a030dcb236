// The arithmetic decoder against the independent test encoder, value by value: every kind of
// coded value, model sizes on both sides of the lookup-table and search boundaries, long runs
// that force count rescaling, streams cut short anywhere, and arbitrary bytes.
#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>
#include <vector>

#include "LazTestEncoder.h"
#include "cloud/las/ArithmeticDecoder.h"
#include "cloud/las/LazItems10.h"

namespace veldra::las {
namespace {

enum class Kind { Symbol, Bit, Bits, Short, Int };

struct Step {
  Kind kind;
  uint32_t model;  // index into kSizes for symbols, into the bit models for bits
  uint32_t bits;   // raw bit count for Kind::Bits
  uint32_t value;
};

constexpr uint32_t kSizes[] = {2, 3, 6, 16, 17, 33, 64, 128, 256, 516};
constexpr size_t kModels = sizeof kSizes / sizeof kSizes[0];
constexpr size_t kBitModels = 3;

// Symbols are mostly skewed (many rare symbols crowd into few table slots, which is where the
// search runs), sometimes uniform; one long run repeats a single symbol of the largest model so
// that its count climbs as high as the rescaling allows.
std::vector<Step> mixedSteps(uint32_t seed) {
  std::mt19937 rng(seed);
  std::vector<Step> steps;
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  for (int i = 0; i < 40000; ++i) {
    const uint32_t r = pick(100);
    if (r < 70) {
      const uint32_t m = pick(kModels);
      const uint32_t n = kSizes[m];
      uint32_t v = pick(4) == 0 ? pick(n) : std::min<uint32_t>(n - 1, static_cast<uint32_t>(std::geometric_distribution<int>(0.3)(rng)));
      if (pick(50) == 0) v = n - 1;  // the last symbol takes the whole remaining range
      steps.push_back({Kind::Symbol, m, 0, v});
    } else if (r < 85) {
      const uint32_t m = pick(kBitModels);
      steps.push_back({Kind::Bit, m, 0, pick(10) < 2 + 3 * m ? 1u : 0u});
    } else if (r < 95) {
      const uint32_t bits = 1 + pick(32);
      const uint32_t v = bits == 32 ? static_cast<uint32_t>(rng()) : static_cast<uint32_t>(rng()) & ((1u << bits) - 1);
      steps.push_back({Kind::Bits, 0, bits, v});
    } else if (r < 98) {
      steps.push_back({Kind::Short, 0, 0, static_cast<uint32_t>(rng()) & 0xFFFF});
    } else {
      steps.push_back({Kind::Int, 0, 0, static_cast<uint32_t>(rng())});
    }
  }
  for (int i = 0; i < 70000; ++i) steps.push_back({Kind::Symbol, kModels - 1, 0, 7});
  for (int i = 0; i < 2000; ++i) steps.push_back({Kind::Symbol, kModels - 1, 0, pick(516)});
  return steps;
}

std::string encode(const std::vector<Step>& steps) {
  test::ArithmeticEncoder enc;
  std::vector<test::EncSymbolModel> models;
  for (uint32_t n : kSizes) models.emplace_back(n);
  std::vector<test::EncBitModel> bitModels(kBitModels);
  for (const Step& s : steps) {
    switch (s.kind) {
      case Kind::Symbol: enc.symbol(models[s.model], s.value); break;
      case Kind::Bit: enc.bit(bitModels[s.model], s.value); break;
      case Kind::Bits: enc.bits(s.bits, s.value); break;
      case Kind::Short: enc.shortValue(s.value); break;
      case Kind::Int: enc.intValue(s.value); break;
    }
  }
  return enc.finish();
}

// Decodes all steps from exactly `bytes` (a heap block of that size, so that sanitizers see any
// read beyond it).
std::vector<uint32_t> decode(const std::vector<Step>& steps, const std::string& bytes, uint32_t* overrun) {
  std::vector<uint8_t> buf(bytes.begin(), bytes.end());
  ArithmeticDecoder dec;
  dec.init(buf.data(), buf.data() + buf.size());
  std::vector<SymbolModel> models;
  for (uint32_t n : kSizes) models.emplace_back(n);
  std::vector<BitModel> bitModels(kBitModels);
  std::vector<uint32_t> out;
  out.reserve(steps.size());
  for (const Step& s : steps) {
    switch (s.kind) {
      case Kind::Symbol: out.push_back(dec.decodeSymbol(models[s.model])); break;
      case Kind::Bit: out.push_back(dec.decodeBit(bitModels[s.model])); break;
      case Kind::Bits: out.push_back(dec.readBits(s.bits)); break;
      case Kind::Short: out.push_back(dec.readShort()); break;
      case Kind::Int: out.push_back(dec.readInt()); break;
    }
  }
  *overrun = dec.overrun();
  return out;
}

TEST(LazCoder, EveryKindOfValueDecodesAsEncoded) {
  for (uint32_t seed : {1u, 2u, 3u}) {
    const auto steps = mixedSteps(seed);
    const std::string bytes = encode(steps);
    uint32_t overrun = 1;
    const auto got = decode(steps, bytes, &overrun);
    ASSERT_EQ(got.size(), steps.size());
    for (size_t i = 0; i < steps.size(); ++i)
      ASSERT_EQ(got[i], steps[i].value) << "seed " << seed << ", step " << i << " of kind " << static_cast<int>(steps[i].kind);
    // The encoder's closing bytes cover every read the decoder makes.
    EXPECT_EQ(overrun, 0u) << "seed " << seed;
  }
}

TEST(LazCoder, CutStreamReadsAsIfZeroPaddedAndCountsTheMissingBytes) {
  const auto steps = mixedSteps(7);
  const std::string full = encode(steps);
  for (size_t cut : {size_t{0}, size_t{1}, size_t{3}, size_t{4}, size_t{5}, size_t{100}, full.size() / 2, full.size() - 4,
                     full.size() - 3, full.size() - 1}) {
    std::string padded = full.substr(0, cut);
    padded.append(full.size() + 4096 - cut, '\0');
    uint32_t overrunCut = 0, overrunPadded = 0;
    const auto fromCut = decode(steps, full.substr(0, cut), &overrunCut);
    const auto fromPadded = decode(steps, padded, &overrunPadded);
    EXPECT_EQ(fromCut, fromPadded) << "cut at " << cut;
    EXPECT_GT(overrunCut, 0u) << "cut at " << cut;
    EXPECT_EQ(overrunPadded, 0u) << "cut at " << cut;
  }
}

// Straightforward decoding (no lookup table, linear search, byte-at-a-time renormalisation) over
// the encoder's models, to hold the fast decoder to on arbitrary bytes.
class PlainDecoder {
 public:
  explicit PlainDecoder(const std::vector<uint8_t>& bytes) : bytes_(bytes) {
    for (int i = 0; i < 4; ++i) value_ = (value_ << 8) | next();
    if (value_ >= length_) value_ = length_ - 1;  // no writer starts with all ones
  }
  uint32_t symbol(test::EncSymbolModel& m) {
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
    std::vector<test::EncSymbolModel> refModels;
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

TEST(LazCoder, RunningMedianMatchesTheReferenceIncludingExtremes) {
  std::mt19937 rng(11);
  const int32_t extremes[] = {INT32_MIN, INT32_MIN + 1, -1, 0, 1, INT32_MAX - 1, INT32_MAX};
  for (int run = 0; run < 200; ++run) {
    Median5 ours;
    ours.reset();
    test::Median5 reference;
    for (int i = 0; i < 300; ++i) {
      int32_t x;
      switch (rng() % 4) {
        case 0: x = extremes[rng() % 7]; break;
        case 1: x = static_cast<int32_t>(rng() % 5) - 2; break;  // many ties
        default: x = static_cast<int32_t>(rng()); break;
      }
      ours.add(x);
      reference.add(x);
      ASSERT_EQ(ours.get(), reference.get()) << "run " << run << ", value " << i;
    }
  }
}

}  // namespace
}  // namespace veldra::las
