// A plain LASzip encoder for tests: builds LAZ files from raw records so that the reader can be
// checked on data whose every value is known. It favours simplicity over compression (every
// attribute is always coded), which the format allows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "LasBuilder.h"
#include "cloud/las/LazItems10.h"

namespace veldra::test {

// Adaptive symbol model, encoder side (no lookup table needed).
class EncSymbolModel {
 public:
  explicit EncSymbolModel(uint32_t symbols = 2) : n_(symbols), dist_(symbols), counts_(symbols, 1) {
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
    cycle_ = (5 * cycle_) >> 2;
    cycle_ = std::min(cycle_, (n_ + 6) << 3);
    untilUpdate_ = cycle_;
  }
  uint32_t n_, total_ = 0, cycle_ = 0, untilUpdate_ = 0;
  std::vector<uint32_t> dist_, counts_;
};

struct EncBitModel {
  uint32_t zeros = 1, count = 2, prob = 1u << 12, cycle = 4, until = 4;
  void update() {
    count += cycle;
    if (count > (1u << 13)) {
      count = (count + 1) >> 1;
      zeros = (zeros + 1) >> 1;
      if (zeros == count) ++count;
    }
    prob = (zeros * (0x80000000u / count)) >> 18;
    cycle = std::min((5 * cycle) >> 2, 64u);
    until = cycle;
  }
};

class ArithmeticEncoder {
 public:
  void symbol(EncSymbolModel& m, uint32_t sym) {
    const uint32_t initBase = base_;
    if (sym == m.n_ - 1) {
      const uint32_t x = m.dist_[sym] * (length_ >> 15);
      base_ += x;
      length_ -= x;
    } else {
      const uint32_t x = m.dist_[sym] * (length_ >>= 15);
      base_ += x;
      length_ = m.dist_[sym + 1] * length_ - x;
    }
    if (initBase > base_) carry();
    if (length_ < (1u << 24)) renorm();
    ++m.counts_[sym];
    if (--m.untilUpdate_ == 0) m.update();
  }
  void bit(EncBitModel& m, uint32_t b) {
    const uint32_t x = m.prob * (length_ >> 13);
    if (b == 0) {
      length_ = x;
      ++m.zeros;
    } else {
      const uint32_t initBase = base_;
      base_ += x;
      length_ -= x;
      if (initBase > base_) carry();
    }
    if (length_ < (1u << 24)) renorm();
    if (--m.until == 0) m.update();
  }
  void bits(uint32_t n, uint32_t v) {
    if (n > 19) {
      shortValue(v & 0xFFFF);
      v >>= 16;
      n -= 16;
    }
    const uint32_t initBase = base_;
    base_ += v * (length_ >>= n);
    if (initBase > base_) carry();
    if (length_ < (1u << 24)) renorm();
  }
  void shortValue(uint32_t v) {
    const uint32_t initBase = base_;
    base_ += v * (length_ >>= 16);
    if (initBase > base_) carry();
    renorm();
  }
  void intValue(uint32_t v) {
    shortValue(v & 0xFFFF);
    shortValue(v >> 16);
  }
  std::string finish() {
    const uint32_t initBase = base_;
    const bool anotherByte = length_ > 2 * (1u << 24);
    if (anotherByte) {
      base_ += 1u << 24;
      length_ = 1u << 23;
    } else {
      base_ += 1u << 23;
      length_ = 1u << 15;
    }
    if (initBase > base_) carry();
    renorm();
    // Pad so that a decoder reading ahead ends exactly at the end of this stream; sequential
    // readers that ignore the chunk table depend on it.
    out_.append(anotherByte ? 3 : 2, '\0');
    return out_;
  }

 private:
  void carry() {
    for (size_t i = out_.size(); i-- > 0;) {
      if (static_cast<uint8_t>(out_[i]) == 0xFF) {
        out_[i] = 0;
      } else {
        out_[i] = static_cast<char>(static_cast<uint8_t>(out_[i]) + 1);
        break;
      }
    }
  }
  void renorm() {
    do {
      out_.push_back(static_cast<char>(base_ >> 24));
      base_ <<= 8;
    } while ((length_ <<= 8) < (1u << 24));
  }
  uint32_t base_ = 0, length_ = 0xFFFFFFFFu;
  std::string out_;
};

class IntegerCompressor {
 public:
  IntegerCompressor(uint32_t bits = 16, uint32_t contexts = 1, uint32_t bitsHigh = 8) : bitsHigh_(bitsHigh) {
    if (bits && bits < 32) {
      corrBits_ = bits;
      corrRange_ = 1u << bits;
      corrMin_ = -static_cast<int32_t>(corrRange_ / 2);
      corrMax_ = corrMin_ + static_cast<int32_t>(corrRange_ - 1);
    } else {
      corrBits_ = 32;
      corrRange_ = 0;
      corrMin_ = INT32_MIN;
      corrMax_ = INT32_MAX;
    }
    for (uint32_t i = 0; i < contexts; ++i) bitsModels_.emplace_back(corrBits_ + 1);
    correctors_.emplace_back(2);
    for (uint32_t i = 1; i <= corrBits_; ++i) correctors_.emplace_back(i <= bitsHigh_ ? (1u << i) : (1u << bitsHigh_));
  }
  void compress(ArithmeticEncoder& enc, int32_t pred, int32_t real, uint32_t context = 0) {
    int64_t corr = static_cast<int64_t>(real) - pred;
    if (corrRange_) {
      if (corr < corrMin_) corr += corrRange_;
      else if (corr > corrMax_) corr -= corrRange_;
    } else {
      corr = static_cast<int32_t>(static_cast<uint32_t>(real) - static_cast<uint32_t>(pred));
    }
    const auto c = static_cast<int32_t>(corr);
    uint32_t c1 = c <= 0 ? static_cast<uint32_t>(-static_cast<int64_t>(c)) : static_cast<uint32_t>(c - 1);
    k_ = 0;
    while (c1) {
      c1 >>= 1;
      ++k_;
    }
    enc.symbol(bitsModels_[context], k_);
    if (k_ == 0) {
      enc.bit(corrector0_, static_cast<uint32_t>(c));
      return;
    }
    if (k_ >= 32) return;
    uint32_t v = c < 0 ? static_cast<uint32_t>(c + static_cast<int32_t>((1u << k_) - 1)) : static_cast<uint32_t>(c - 1);
    if (k_ <= bitsHigh_) {
      enc.symbol(correctors_[k_], v);
    } else {
      const uint32_t k1 = k_ - bitsHigh_;
      enc.symbol(correctors_[k_], v >> k1);
      enc.bits(k1, v & ((1u << k1) - 1));
    }
  }
  uint32_t k() const { return k_; }

 private:
  uint32_t bitsHigh_, corrBits_, corrRange_, k_ = 0;
  int32_t corrMin_, corrMax_;
  std::vector<EncSymbolModel> bitsModels_;
  EncBitModel corrector0_;
  std::vector<EncSymbolModel> correctors_;
};

class Median5 {
 public:
  int32_t get() const { return v_[2]; }
  void add(int32_t x) {
    // Same running median as the decoder: insert into the sorted five, dropping alternately
    // the smallest and the largest.
    auto& v = v_;
    if (high_) {
      if (x < v[2]) {
        v[4] = v[3];
        v[3] = v[2];
        if (x < v[0]) { v[2] = v[1]; v[1] = v[0]; v[0] = x; }
        else if (x < v[1]) { v[2] = v[1]; v[1] = x; }
        else v[2] = x;
      } else {
        if (x < v[3]) { v[4] = v[3]; v[3] = x; }
        else v[4] = x;
        high_ = false;
      }
    } else {
      if (v[2] < x) {
        v[0] = v[1];
        v[1] = v[2];
        if (v[4] < x) { v[2] = v[3]; v[3] = v[4]; v[4] = x; }
        else if (v[3] < x) { v[2] = v[3]; v[3] = x; }
        else v[2] = x;
      } else {
        if (v[1] < x) { v[0] = v[1]; v[1] = x; }
        else v[0] = x;
        high_ = true;
      }
    }
  }

 private:
  int32_t v_[5] = {};
  bool high_ = true;
};

template <typename T>
T rd(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

inline int32_t clampByte(int32_t v) { return v < 0 ? 0 : (v > 255 ? 255 : v); }

// RGB in the order the decoder reads it: always all six bytes and the "colours differ" flag.
inline void encodeRgb(ArithmeticEncoder& e, EncSymbolModel& used, std::vector<EncSymbolModel>& d, const uint16_t* last,
                      const uint16_t* cur) {
  e.symbol(used, 127);
  e.symbol(d[0], ((cur[0] & 255) - (last[0] & 255)) & 255);
  e.symbol(d[1], ((cur[0] >> 8) - (last[0] >> 8)) & 255);
  int32_t diff = (cur[0] & 0xFF) - (last[0] & 0xFF);
  e.symbol(d[2], ((cur[1] & 255) - clampByte(diff + (last[1] & 255))) & 255);
  int32_t diff2 = (diff + ((cur[1] & 0xFF) - (last[1] & 0xFF))) / 2;
  e.symbol(d[4], ((cur[2] & 255) - clampByte(diff2 + (last[2] & 255))) & 255);
  diff = (cur[0] >> 8) - (last[0] >> 8);
  e.symbol(d[3], ((cur[1] >> 8) - clampByte(diff + (last[1] >> 8))) & 255);
  diff2 = (diff + ((cur[1] >> 8) - (last[1] >> 8))) / 2;
  e.symbol(d[5], ((cur[2] >> 8) - clampByte(diff2 + (last[2] >> 8))) & 255);
}

inline std::vector<EncSymbolModel> models(size_t n, uint32_t symbols) { return std::vector<EncSymbolModel>(n, EncSymbolModel(symbols)); }

using las::kReturnMap;
using las::kReturnMap6;

// Pointwise coding of one chunk of formats 0-3 (records of `len` bytes, `extra` trailing bytes).
inline std::string encodePointwiseChunk(const uint8_t* recs, size_t count, size_t len, int format) {
  std::string out(reinterpret_cast<const char*>(recs), len);
  ArithmeticEncoder e;
  const bool gps = format == 1 || format == 3;
  const bool rgb = format == 2 || format == 3;
  const size_t rgbAt = format == 2 ? 20 : 28;
  const size_t base = format == 0 ? 20 : format == 1 ? 28 : format == 2 ? 26 : 34;
  // POINT10 state
  std::map<int, EncSymbolModel> bitByte, cls, user;
  auto lazy = [](std::map<int, EncSymbolModel>& m, int key) -> EncSymbolModel& {
    return m.try_emplace(key, EncSymbolModel(256)).first->second;
  };
  EncSymbolModel changed(64);
  std::vector<EncSymbolModel> scanAngle = models(2, 256);
  IntegerCompressor icInt(16, 4), icPs(16), icDx(32, 2), icDy(32, 22), icZ(32, 20);
  uint16_t lastInt[16] = {};
  Median5 medX[16], medY[16];
  int32_t lastH[8] = {};
  // GPS state
  EncSymbolModel gpsZero(6);
  IntegerCompressor icGps(32, 9);
  uint32_t gLast = 0, gNext = 0;
  int64_t gTime[4] = {gps ? rd<int64_t>(recs + 20) : 0, 0, 0, 0};   // formats 0 and 2 have no time
  // RGB / bytes
  EncSymbolModel rgbUsed(128);
  std::vector<EncSymbolModel> rgbDiff = models(6, 256);
  std::vector<EncSymbolModel> byteModels = models(len - base, 256);

  for (size_t i = 1; i < count; ++i) {
    const uint8_t* last = recs + (i - 1) * len;
    const uint8_t* cur = recs + i * len;
    e.symbol(changed, 63);
    e.symbol(lazy(bitByte, last[14]), cur[14]);
    const uint32_t r = cur[14] & 7, n = (cur[14] >> 3) & 7;
    const uint32_t m = kReturnMap[n][r], l = n > r ? n - r : r - n;
    icInt.compress(e, lastInt[m], rd<uint16_t>(cur + 12), m < 3 ? m : 3);
    lastInt[m] = rd<uint16_t>(cur + 12);
    e.symbol(lazy(cls, last[15]), cur[15]);
    e.symbol(scanAngle[(cur[14] >> 6) & 1], static_cast<uint8_t>(cur[16] - last[16]));
    e.symbol(lazy(user, last[17]), cur[17]);
    icPs.compress(e, rd<uint16_t>(last + 18), rd<uint16_t>(cur + 18));
    const int32_t dx = static_cast<int32_t>(rd<uint32_t>(cur) - rd<uint32_t>(last));
    icDx.compress(e, medX[m].get(), dx, n == 1);
    medX[m].add(dx);
    uint32_t kb = icDx.k();
    const int32_t dy = static_cast<int32_t>(rd<uint32_t>(cur + 4) - rd<uint32_t>(last + 4));
    icDy.compress(e, medY[m].get(), dy, (n == 1) + (kb < 20 ? (kb & ~1u) : 20));
    medY[m].add(dy);
    kb = (icDx.k() + icDy.k()) / 2;
    icZ.compress(e, lastH[l], rd<int32_t>(cur + 8), (n == 1) + (kb < 18 ? (kb & ~1u) : 18));
    lastH[l] = rd<int32_t>(cur + 8);
    if (gps) {
      const int64_t t = rd<int64_t>(cur + 20);
      if (t == gTime[gLast]) {
        e.symbol(gpsZero, 0);
      } else {
        e.symbol(gpsZero, 2);  // full value; the difference predictor stays at zero
        icGps.compress(e, static_cast<int32_t>(static_cast<uint64_t>(gTime[gLast]) >> 32),
                       static_cast<int32_t>(static_cast<uint64_t>(t) >> 32), 8);
        e.intValue(static_cast<uint32_t>(t));
        gNext = (gNext + 1) & 3;
        gTime[gNext] = t;
        gLast = gNext;
      }
    }
    if (rgb) {
      uint16_t lc[3], cc[3];
      std::memcpy(lc, last + rgbAt, 6);
      std::memcpy(cc, cur + rgbAt, 6);
      encodeRgb(e, rgbUsed, rgbDiff, lc, cc);
    }
    for (size_t b = base; b < len; ++b) e.symbol(byteModels[b - base], static_cast<uint8_t>(cur[b] - last[b]));
  }
  return out + e.finish();
}

// Layered coding of one chunk of formats 6-8. Every scanner channel keeps its own models and
// previous point; a channel met for the first time in the chunk starts from the previous
// point. The colour and extra-byte items are told the channel only on the point where it
// changes (0 on all others): a change of what they are told selects their models, and the
// previous values of the channel they had before, unless the new one is met for the first time.
// A layer whose values never change within the chunk is left empty, as writers do.
inline std::string encodeLayeredChunk(const uint8_t* recs, size_t count, size_t len, int format) {
  const size_t base = format == 6 ? 30 : format == 7 ? 36 : 38;
  const size_t nExtra = len - base;
  ArithmeticEncoder xy, z, cl, fl, in, sa, ud, ps, gt, rgbE, nirE;
  std::vector<ArithmeticEncoder> byteE(nExtra);
  auto differs = [&](size_t off, size_t n) {
    for (size_t i = 1; i < count; ++i)
      if (std::memcmp(recs + i * len + off, recs + off, n) != 0) return true;
    return false;
  };
  const bool zOn = differs(8, 4), clOn = differs(16, 1), inOn = differs(12, 2), saOn = differs(18, 2),
             udOn = differs(17, 1), psOn = differs(20, 2), gtOn = differs(22, 8);
  bool flOn = false;
  for (size_t i = 1; i < count; ++i) flOn |= ((recs[i * len + 15] ^ recs[15]) & 0xCF) != 0;
  const bool rgbOn = format >= 7 && differs(30, 6), nirOn = format == 8 && differs(36, 2);
  std::vector<bool> byteOn(nExtra);
  for (size_t b = 0; b < nExtra; ++b) byteOn[b] = differs(base + b, 1);

  auto lazy = [](std::map<int, EncSymbolModel>& m, int key, uint32_t n) -> EncSymbolModel& {
    return m.try_emplace(key, EncSymbolModel(n)).first->second;
  };
  struct Channel {
    std::vector<uint8_t> last;  // previous point of this channel, 30 bytes
    bool lastGpsChanged = false;
    std::vector<EncSymbolModel> changed = models(8, 128);
    EncSymbolModel channel{3}, gpsSame{13}, gpsZero{5};
    std::map<int, EncSymbolModel> nret, rnum, cls, flags, user;
    IntegerCompressor dX{32, 2}, dY{32, 22}, icZ{32, 20}, icInt{16, 4}, icSa{16, 2}, icPs{16}, icGps{32, 9};
    Median5 medX[12], medY[12];
    int32_t lastZ[8];
    uint16_t lastInt[8];
    uint32_t gLast = 0, gNext = 0;
    int64_t gTime[4] = {};
    explicit Channel(const uint8_t* from) : last(from, from + 30) {
      for (int i = 0; i < 8; ++i) {
        lastZ[i] = rd<int32_t>(from + 8);
        lastInt[i] = rd<uint16_t>(from + 12);
      }
      gTime[0] = rd<int64_t>(from + 22);
    }
  };
  struct Extra {
    uint16_t rgb[4] = {};
    std::vector<uint8_t> bytes;
    EncSymbolModel rgbUsed{128}, nirUsed{4};
    std::vector<EncSymbolModel> rgbDiff = models(6, 256), nirDiff = models(2, 256), byteModels;
    Extra(const uint16_t* colour, const uint8_t* b, size_t n) : bytes(b, b + n), byteModels(models(n, 256)) {
      std::memcpy(rgb, colour, sizeof rgb);
    }
  };
  std::unique_ptr<Channel> ch[4];
  std::unique_ptr<Extra> ex[4];
  uint32_t current = (recs[15] >> 4) & 3, extraCurrent = current;
  ch[current] = std::make_unique<Channel>(recs);
  {
    uint16_t colour[4] = {};
    if (format >= 7) std::memcpy(colour, recs + 30, format == 8 ? 8 : 6);
    ex[current] = std::make_unique<Extra>(colour, recs + base, nExtra);
  }

  for (size_t i = 1; i < count; ++i) {
    const uint8_t* cur = recs + i * len;
    Channel& previous = *ch[current];
    const uint32_t plr = previous.last[14] & 15, pln = previous.last[14] >> 4;
    const uint32_t lpr = (plr == 1 ? 1 : 0) + (plr >= pln ? 2 : 0) + (previous.lastGpsChanged ? 4 : 0);
    const uint32_t channel = (cur[15] >> 4) & 3;
    const bool switched = channel != current;
    if (switched && !ch[channel]) ch[channel] = std::make_unique<Channel>(previous.last.data());
    Channel& c = *ch[channel];
    const uint8_t* last = c.last.data();

    const uint32_t lr = last[14] & 15, ln = last[14] >> 4, r = cur[14] & 15, n = cur[14] >> 4;
    const bool psChange = rd<uint16_t>(cur + 20) != rd<uint16_t>(last + 20);
    const bool gpsChange = rd<int64_t>(cur + 22) != rd<int64_t>(last + 22);
    const bool saChange = rd<int16_t>(cur + 18) != rd<int16_t>(last + 18);
    uint32_t rcase = r == lr ? 0 : r == ((lr + 1) & 15) ? 1 : r == ((lr + 15) & 15) ? 2 : 3;
    const uint32_t cv =
        (switched << 6) | (psChange << 5) | (gpsChange << 4) | (saChange << 3) | ((n != ln) << 2) | rcase;
    xy.symbol(previous.changed[lpr], cv);
    if (switched) xy.symbol(previous.channel, (channel - current - 1) & 3);
    if (n != ln) xy.symbol(lazy(c.nret, ln, 16), n);
    if (rcase == 3) {
      if (gpsChange) xy.symbol(lazy(c.rnum, lr, 16), r);
      else xy.symbol(c.gpsSame, (r - lr - 2) & 15);
    }
    const uint32_t m = kReturnMap6[n][r];
    const uint32_t l = std::min<uint32_t>(n > r ? n - r : r - n, 7);
    const uint32_t cpr = (r == 1 ? 2 : 0) + (r >= n ? 1 : 0);
    const uint32_t idx = (m << 1) | gpsChange;
    const int32_t ddx = static_cast<int32_t>(rd<uint32_t>(cur) - rd<uint32_t>(last));
    c.dX.compress(xy, c.medX[idx].get(), ddx, n == 1);
    c.medX[idx].add(ddx);
    uint32_t kb = c.dX.k();
    const int32_t ddy = static_cast<int32_t>(rd<uint32_t>(cur + 4) - rd<uint32_t>(last + 4));
    c.dY.compress(xy, c.medY[idx].get(), ddy, (n == 1) + (kb < 20 ? (kb & ~1u) : 20));
    c.medY[idx].add(ddy);
    if (zOn) {
      kb = (c.dX.k() + c.dY.k()) / 2;
      c.icZ.compress(z, c.lastZ[l], rd<int32_t>(cur + 8), (n == 1) + (kb < 18 ? (kb & ~1u) : 18));
      c.lastZ[l] = rd<int32_t>(cur + 8);
    }
    if (clOn) cl.symbol(lazy(c.cls, ((last[16] & 0x1F) << 1) + (cpr == 3 ? 1 : 0), 256), cur[16]);
    if (flOn) {
      auto f = [](uint8_t b) { return ((b >> 7) << 5) | (((b >> 6) & 1) << 4) | (b & 15); };
      fl.symbol(lazy(c.flags, f(last[15]), 64), f(cur[15]));
    }
    if (inOn) {
      const uint32_t ii = (cpr << 1) | gpsChange;
      c.icInt.compress(in, c.lastInt[ii], rd<uint16_t>(cur + 12), cpr);
      c.lastInt[ii] = rd<uint16_t>(cur + 12);
    }
    if (saOn && saChange) c.icSa.compress(sa, rd<int16_t>(last + 18), rd<int16_t>(cur + 18), gpsChange);
    if (udOn) ud.symbol(lazy(c.user, last[17] / 4, 256), cur[17]);
    if (psOn && psChange) c.icPs.compress(ps, rd<uint16_t>(last + 20), rd<uint16_t>(cur + 20));
    if (gtOn && gpsChange) {
      const int64_t t = rd<int64_t>(cur + 22);
      gt.symbol(c.gpsZero, 1);  // full value
      c.icGps.compress(gt, static_cast<int32_t>(static_cast<uint64_t>(c.gTime[c.gLast]) >> 32),
                       static_cast<int32_t>(static_cast<uint64_t>(t) >> 32), 8);
      gt.intValue(static_cast<uint32_t>(t));
      c.gNext = (c.gNext + 1) & 3;
      c.gTime[c.gNext] = t;
      c.gLast = c.gNext;
    }
    c.lastGpsChanged = gpsChange;
    c.last.assign(cur, cur + 30);
    current = channel;

    const uint32_t told = switched ? channel : 0;
    uint32_t from = extraCurrent;
    if (told != extraCurrent) {
      extraCurrent = told;
      if (!ex[told]) {
        ex[told] = std::make_unique<Extra>(ex[from]->rgb, ex[from]->bytes.data(), nExtra);
        from = told;
      }
    }
    Extra& em = *ex[extraCurrent];
    Extra& el = *ex[from];
    if (rgbOn) {
      uint16_t cc[3];
      std::memcpy(cc, cur + 30, 6);
      encodeRgb(rgbE, em.rgbUsed, em.rgbDiff, el.rgb, cc);
      std::memcpy(el.rgb, cc, 6);
    }
    if (nirOn) {
      const auto nir = rd<uint16_t>(cur + 36);
      nirE.symbol(em.nirUsed, 3);
      nirE.symbol(em.nirDiff[0], ((nir & 255) - (el.rgb[3] & 255)) & 255);
      nirE.symbol(em.nirDiff[1], ((nir >> 8) - (el.rgb[3] >> 8)) & 255);
      em.rgb[3] = nir;
    }
    for (size_t b = 0; b < nExtra; ++b)
      if (byteOn[b]) {
        byteE[b].symbol(em.byteModels[b], static_cast<uint8_t>(cur[base + b] - el.bytes[b]));
        el.bytes[b] = cur[base + b];
      }
  }
  std::vector<std::string> layers;
  auto layer = [&](ArithmeticEncoder& e, bool on) { layers.push_back(on && count > 1 ? e.finish() : std::string()); };
  layer(xy, true);
  layer(z, zOn);
  layer(cl, clOn);
  layer(fl, flOn);
  layer(in, inOn);
  layer(sa, saOn);
  layer(ud, udOn);
  layer(ps, psOn);
  layer(gt, gtOn);
  if (format >= 7) layer(rgbE, rgbOn);
  if (format == 8) layer(nirE, nirOn);
  for (size_t b = 0; b < nExtra; ++b) layer(byteE[b], byteOn[b]);

  std::string out(reinterpret_cast<const char*>(recs), len);
  std::string u(4, '\0');
  const auto c32 = static_cast<uint32_t>(count);
  std::memcpy(u.data(), &c32, 4);
  out += u;
  for (const auto& s : layers) {
    const auto sz = static_cast<uint32_t>(s.size());
    std::memcpy(u.data(), &sz, 4);
    out += u;
  }
  for (const auto& s : layers) out += s;
  return out;
}

struct LazOptions {
  uint32_t chunkSize = 50000;
  std::vector<uint32_t> variableChunks;  // point counts per chunk; non-empty selects variable chunks
  bool tableOffsetAtEnd = false;         // the -1 marker with the offset in the last 8 bytes
};

inline std::string laszipVlrPayload(int format, size_t len, uint32_t chunkSize) {
  struct Item {
    uint16_t type, size, version;
  };
  std::vector<Item> items;
  const bool wide = format >= 6;
  const uint16_t v = wide ? 3 : 2;
  size_t used = 0;
  auto add = [&](uint16_t type, uint16_t size) {
    items.push_back({type, size, v});
    used += size;
  };
  if (!wide) {
    add(6, 20);
    if (format == 1 || format == 3) add(7, 8);
    if (format == 2 || format == 3) add(8, 6);
    if (len > used) add(0, static_cast<uint16_t>(len - used));
  } else {
    add(10, 30);
    if (format == 7) add(11, 6);
    if (format == 8) add(12, 8);
    if (len > used) add(14, static_cast<uint16_t>(len - used));
  }
  std::string p(34 + 6 * items.size(), '\0');
  const uint16_t compressor = wide ? 3 : 2;
  std::memcpy(p.data(), &compressor, 2);
  p[4] = 3;
  p[5] = 4;
  std::memcpy(p.data() + 12, &chunkSize, 4);
  const int64_t minus1 = -1;
  std::memcpy(p.data() + 16, &minus1, 8);
  std::memcpy(p.data() + 24, &minus1, 8);
  const auto n = static_cast<uint16_t>(items.size());
  std::memcpy(p.data() + 32, &n, 2);
  for (size_t i = 0; i < items.size(); ++i) std::memcpy(p.data() + 34 + 6 * i, &items[i], 6);
  return p;
}

// A complete LAZ file holding `records` (count * recordLength bytes) in point format `format`.
inline std::string buildLaz(LasBuilder b, const std::string& records, const LazOptions& opt = {}) {
  const int format = b.pointFormat;
  const size_t len = b.recordLength;
  const size_t count = records.size() / len;
  b.pointCount = count;
  const bool variable = !opt.variableChunks.empty();
  const uint32_t chunkSize = variable ? 0xFFFFFFFFu : opt.chunkSize;
  b.vlrs.push_back({"laszip encoded", 22204, laszipVlrPayload(format, len, chunkSize)});
  b.pointFormat = static_cast<uint8_t>(format | 0x80);
  b.points.clear();
  std::string head = b.build();
  std::string data(8, '\0');
  std::vector<std::pair<uint32_t, uint32_t>> table;
  size_t done = 0, ci = 0;
  while (done < count) {
    size_t n = variable ? opt.variableChunks.at(ci++) : std::min<size_t>(chunkSize, count - done);
    const auto* p = reinterpret_cast<const uint8_t*>(records.data()) + done * len;
    std::string chunk = format >= 6 ? encodeLayeredChunk(p, n, len, format) : encodePointwiseChunk(p, n, len, format);
    table.emplace_back(static_cast<uint32_t>(n), static_cast<uint32_t>(chunk.size()));
    data += chunk;
    done += n;
  }
  const int64_t tableAt = static_cast<int64_t>(head.size() + data.size());
  const int64_t marker = opt.tableOffsetAtEnd ? -1 : tableAt;
  std::memcpy(data.data(), &marker, 8);
  std::string t(8, '\0');
  const auto nChunks = static_cast<uint32_t>(table.size());
  std::memcpy(t.data() + 4, &nChunks, 4);
  ArithmeticEncoder e;
  IntegerCompressor ic(32, 2);
  int32_t lastN = 0, lastB = 0;
  for (auto [n, bytes] : table) {
    if (variable) ic.compress(e, lastN, static_cast<int32_t>(n), 0);
    ic.compress(e, lastB, static_cast<int32_t>(bytes), 1);
    lastN = static_cast<int32_t>(n);
    lastB = static_cast<int32_t>(bytes);
  }
  if (!table.empty()) t += e.finish();
  std::string out = head + data + t;
  if (opt.tableOffsetAtEnd) out.append(reinterpret_cast<const char*>(&tableAt), 8);
  return out;
}

}  // namespace veldra::test
