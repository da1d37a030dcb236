#include "cloud/las/RecordBytes.h"
#include "cloud/las/LazItems10.h"

#include <cstring>

namespace veldra::las {

const uint8_t kReturnMap[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},  {14, 0, 1, 3, 6, 10, 10, 9},   {13, 1, 2, 4, 7, 11, 11, 10},
    {12, 3, 4, 5, 8, 12, 12, 11},    {11, 6, 7, 8, 9, 13, 13, 12},  {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14}, {8, 9, 10, 11, 12, 13, 14, 15}};

const uint8_t kReturnLevel[8][8] = {{0, 1, 2, 3, 4, 5, 6, 7}, {1, 0, 1, 2, 3, 4, 5, 6}, {2, 1, 0, 1, 2, 3, 4, 5},
                                    {3, 2, 1, 0, 1, 2, 3, 4}, {4, 3, 2, 1, 0, 1, 2, 3}, {5, 4, 3, 2, 1, 0, 1, 2},
                                    {6, 5, 4, 3, 2, 1, 0, 1}, {7, 6, 5, 4, 3, 2, 1, 0}};

const uint8_t kReturnMap6[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3}, {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5}};

// ---- POINT10 ----

Point10Item::Point10Item() : bitByte_(256), classification_(256), userData_(256) {}

VELDRA_LAS_INLINE SymbolModel& Point10Item::lazyModel(std::vector<std::unique_ptr<SymbolModel>>& set, uint8_t key) {
  auto& m = set[key];
  if (!m) [[unlikely]] m = std::make_unique<SymbolModel>(256);
  return *m;
}

void Point10Item::init(const uint8_t* first) {
  changed_.init(64);
  scanAngle_[0].init(256);
  scanAngle_[1].init(256);
  for (auto* set : {&bitByte_, &classification_, &userData_})
    for (auto& m : *set)
      if (m) m->init(256);
  intensity_.init();
  pointSource_.init();
  dx_.init();
  dy_.init();
  z_.init();
  for (int i = 0; i < 16; ++i) {
    medX_[i].reset();
    medY_[i].reset();
    lastIntensity_[i] = 0;
  }
  for (auto& h : lastHeight_) h = 0;
  std::memcpy(last_, first, 20);
}

VELDRA_LAS_INLINE void Point10Item::decode(ArithmeticDecoder& dec, uint8_t* out) {
  const uint32_t changed = dec.decodeSymbol(changed_);
  uint32_t r, n, m, l;
  if (changed != 0) {
    if (changed & 32) last_[14] = static_cast<uint8_t>(dec.decodeSymbol(lazyModel(bitByte_, last_[14])));
    r = last_[14] & 7;
    n = (last_[14] >> 3) & 7;
    m = kReturnMap[n][r];
    l = kReturnLevel[n][r];
    if (changed & 16) {
      const auto intensity =
          static_cast<uint16_t>(intensity_.decompress(dec, lastIntensity_[m], m < 3 ? m : 3));
      lastIntensity_[m] = intensity;
    }
    store<uint16_t>(last_ + 12, lastIntensity_[m]);
    if (changed & 8) last_[15] = static_cast<uint8_t>(dec.decodeSymbol(lazyModel(classification_, last_[15])));
    if (changed & 4) {
      const uint32_t v = dec.decodeSymbol(scanAngle_[(last_[14] >> 6) & 1]);
      last_[16] = static_cast<uint8_t>(v + last_[16]);
    }
    if (changed & 2) last_[17] = static_cast<uint8_t>(dec.decodeSymbol(lazyModel(userData_, last_[17])));
    if (changed & 1)
      store<uint16_t>(last_ + 18, static_cast<uint16_t>(pointSource_.decompress(dec, load<uint16_t>(last_ + 18))));
  } else {
    r = last_[14] & 7;
    n = (last_[14] >> 3) & 7;
    m = kReturnMap[n][r];
    l = kReturnLevel[n][r];
    store<uint16_t>(last_ + 12, lastIntensity_[m]);
  }

  int32_t diff = dx_.decompress(dec, medX_[m].get(), n == 1);
  store<int32_t>(last_, static_cast<int32_t>(static_cast<uint32_t>(load<int32_t>(last_)) + static_cast<uint32_t>(diff)));
  medX_[m].add(diff);

  uint32_t kBits = dx_.k();
  diff = dy_.decompress(dec, medY_[m].get(), (n == 1) + (kBits < 20 ? (kBits & ~1u) : 20));
  store<int32_t>(last_ + 4,
                 static_cast<int32_t>(static_cast<uint32_t>(load<int32_t>(last_ + 4)) + static_cast<uint32_t>(diff)));
  medY_[m].add(diff);

  kBits = (dx_.k() + dy_.k()) / 2;
  const int32_t z = z_.decompress(dec, lastHeight_[l], (n == 1) + (kBits < 18 ? (kBits & ~1u) : 18));
  store<int32_t>(last_ + 8, z);
  lastHeight_[l] = z;

  std::memcpy(out, last_, 20);
}

// ---- GPSTIME11 ----

void GpsTime11Item::init(const uint8_t* first) {
  multi_.init(516);
  zeroDiff_.init(6);
  ic_.init();
  last_ = next_ = 0;
  for (int i = 0; i < 4; ++i) {
    time_[i] = 0;
    diff_[i] = 0;
    extreme_[i] = 0;
  }
  time_[0] = load<int64_t>(first);
}

namespace {
constexpr int32_t kMulti = 500;
constexpr int32_t kMultiMinus = -10;
constexpr uint32_t kMultiUnchanged = kMulti - kMultiMinus + 1;  // 511
constexpr uint32_t kMultiCodeFull = kMulti - kMultiMinus + 2;   // 512

inline int32_t mul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int64_t add64(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}
}  // namespace

VELDRA_LAS_INLINE void GpsTime11Item::decode(ArithmeticDecoder& dec, uint8_t* out) {
  // A sequence switch is followed by the value in the new sequence; writers never chain
  // switches, the bound only keeps corrupt data from looping.
  for (int guard = 0; guard < 8; ++guard) {
    if (diff_[last_] == 0) {
      const uint32_t multi = dec.decodeSymbol(zeroDiff_);
      if (multi == 1) {
        diff_[last_] = ic_.decompress(dec, 0, 0);
        time_[last_] = add64(time_[last_], diff_[last_]);
        extreme_[last_] = 0;
      } else if (multi == 2) {
        next_ = (next_ + 1) & 3;
        const auto high = static_cast<uint32_t>(
            ic_.decompress(dec, static_cast<int32_t>(static_cast<uint64_t>(time_[last_]) >> 32), 8));
        time_[next_] = static_cast<int64_t>((uint64_t{high} << 32) | dec.readInt());
        last_ = next_;
        diff_[last_] = 0;
        extreme_[last_] = 0;
      } else if (multi > 2) {
        last_ = (last_ + multi - 2) & 3;
        continue;
      }
    } else {
      const uint32_t multi = dec.decodeSymbol(multi_);
      if (multi == 1) {
        time_[last_] = add64(time_[last_], ic_.decompress(dec, diff_[last_], 1));
        extreme_[last_] = 0;
      } else if (multi < kMultiUnchanged) {
        int32_t d;
        if (multi == 0) {
          d = ic_.decompress(dec, 0, 7);
          if (++extreme_[last_] > 3) {
            diff_[last_] = d;
            extreme_[last_] = 0;
          }
        } else if (multi < static_cast<uint32_t>(kMulti)) {
          d = ic_.decompress(dec, mul(static_cast<int32_t>(multi), diff_[last_]), multi < 10 ? 2 : 3);
        } else if (multi == static_cast<uint32_t>(kMulti)) {
          d = ic_.decompress(dec, mul(kMulti, diff_[last_]), 4);
          if (++extreme_[last_] > 3) {
            diff_[last_] = d;
            extreme_[last_] = 0;
          }
        } else {
          const int32_t mm = kMulti - static_cast<int32_t>(multi);
          if (mm > kMultiMinus) {
            d = ic_.decompress(dec, mul(mm, diff_[last_]), 5);
          } else {
            d = ic_.decompress(dec, mul(kMultiMinus, diff_[last_]), 6);
            if (++extreme_[last_] > 3) {
              diff_[last_] = d;
              extreme_[last_] = 0;
            }
          }
        }
        time_[last_] = add64(time_[last_], d);
      } else if (multi == kMultiCodeFull) {
        next_ = (next_ + 1) & 3;
        const auto high = static_cast<uint32_t>(
            ic_.decompress(dec, static_cast<int32_t>(static_cast<uint64_t>(time_[last_]) >> 32), 8));
        time_[next_] = static_cast<int64_t>((uint64_t{high} << 32) | dec.readInt());
        last_ = next_;
        diff_[last_] = 0;
        extreme_[last_] = 0;
      } else if (multi > kMultiCodeFull) {
        last_ = (last_ + multi - kMultiCodeFull) & 3;
        continue;
      }
    }
    break;
  }
  store<int64_t>(out, time_[last_]);
}

// ---- RGB12 ----

void Rgb12Item::init(const uint8_t* first) {
  used_.init(128);
  for (auto& m : diff_) m.init(256);
  std::memcpy(last_, first, 6);
}

VELDRA_LAS_INLINE void Rgb12Item::decode(ArithmeticDecoder& dec, uint8_t* out) {
  uint16_t item[3];
  decodeRgbDiff(dec, dec.decodeSymbol(used_), diff_, last_, item);
  std::memcpy(last_, item, 6);
  std::memcpy(out, item, 6);
}

// ---- BYTE ----

void ByteItem::init(const uint8_t* first) {
  for (auto& m : models_) m.init(256);
  std::memcpy(last_.data(), first, count_);
}

VELDRA_LAS_INLINE void ByteItem::decode(ArithmeticDecoder& dec, uint8_t* out) {
  for (uint32_t i = 0; i < count_; ++i) {
    last_[i] = static_cast<uint8_t>(last_[i] + dec.decodeSymbol(models_[i]));
    out[i] = last_[i];
  }
}

// ---- whole records ----

namespace {

template <bool kGps, bool kRgb, bool kBytes>
class PointwiseRecords final : public PointwiseRecordDecoder {
 public:
  explicit PointwiseRecords(uint32_t extraBytes) : bytes_(kBytes ? extraBytes : 0) {}

  void init(const uint8_t* first) override {
    point_.init(first);
    first += 20;
    if constexpr (kGps) {
      gps_.init(first);
      first += 8;
    }
    if constexpr (kRgb) {
      rgb_.init(first);
      first += 6;
    }
    if constexpr (kBytes) bytes_.init(first);
  }

  void decode(ArithmeticDecoder& dec, uint8_t* record) override {
    // A local copy lets the compiler keep the coder state in registers for the whole record.
    ArithmeticDecoder d = dec;
    point_.decode(d, record);
    record += 20;
    if constexpr (kGps) {
      gps_.decode(d, record);
      record += 8;
    }
    if constexpr (kRgb) {
      rgb_.decode(d, record);
      record += 6;
    }
    if constexpr (kBytes) bytes_.decode(d, record);
    dec = d;
  }

 private:
  Point10Item point_;
  GpsTime11Item gps_;
  Rgb12Item rgb_;
  ByteItem bytes_;
};

template <bool kGps, bool kRgb>
std::unique_ptr<PointwiseRecordDecoder> makeWith(uint32_t extraBytes) {
  if (extraBytes > 0) return std::make_unique<PointwiseRecords<kGps, kRgb, true>>(extraBytes);
  return std::make_unique<PointwiseRecords<kGps, kRgb, false>>(0);
}

}  // namespace

std::unique_ptr<PointwiseRecordDecoder> makePointwiseRecordDecoder(bool gps, bool rgb, uint32_t extraBytes) {
  if (gps) return rgb ? makeWith<true, true>(extraBytes) : makeWith<true, false>(extraBytes);
  return rgb ? makeWith<false, true>(extraBytes) : makeWith<false, false>(extraBytes);
}

}  // namespace veldra::las
