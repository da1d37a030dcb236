#include "cloud/las/RecordBytes.h"
#include "cloud/las/LazItems14.h"

#include <algorithm>
#include <cstring>

namespace veldra::las {
namespace {


inline int32_t wrapAdd(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t mul(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}
inline int64_t add64(int64_t a, int64_t b) {
  return static_cast<int64_t>(static_cast<uint64_t>(a) + static_cast<uint64_t>(b));
}

SymbolModel& lazy(std::unique_ptr<SymbolModel>& m, uint32_t symbols) {
  if (!m) m = std::make_unique<SymbolModel>(symbols);
  return *m;
}

constexpr int32_t kMulti = 500;
constexpr int32_t kMultiMinus = -10;
constexpr uint32_t kMultiCodeFull = kMulti - kMultiMinus + 1;  // 511
constexpr uint32_t kMultiTotal = kMulti - kMultiMinus + 5;     // 515

enum LayerIndex { kXY, kZ, kClass, kFlags, kIntensity, kScanAngle, kUserData, kPointSource, kGpsTime };

}  // namespace

// Unpacked LAS 1.4 base record (30 bytes).
struct Point14Item::Point {
  int32_t x = 0, y = 0, z = 0;
  uint16_t intensity = 0;
  uint8_t returnNumber = 0, numberOfReturns = 0;
  uint8_t classFlags = 0, channel = 0, scanDirection = 0, edge = 0;
  uint8_t classification = 0, userData = 0;
  int16_t scanAngle = 0;
  uint16_t pointSource = 0;
  int64_t gpsBits = 0;
  bool gpsChanged = false;

  void unpack(const uint8_t* p) {
    x = load<int32_t>(p);
    y = load<int32_t>(p + 4);
    z = load<int32_t>(p + 8);
    intensity = load<uint16_t>(p + 12);
    returnNumber = p[14] & 0x0F;
    numberOfReturns = p[14] >> 4;
    classFlags = p[15] & 0x0F;
    channel = (p[15] >> 4) & 3;
    scanDirection = (p[15] >> 6) & 1;
    edge = p[15] >> 7;
    classification = p[16];
    userData = p[17];
    scanAngle = load<int16_t>(p + 18);
    pointSource = load<uint16_t>(p + 20);
    gpsBits = load<int64_t>(p + 22);
  }
  void pack(uint8_t* p) const {
    store(p, x);
    store(p + 4, y);
    store(p + 8, z);
    store(p + 12, intensity);
    p[14] = static_cast<uint8_t>(returnNumber | (numberOfReturns << 4));
    p[15] = static_cast<uint8_t>(classFlags | (channel << 4) | (scanDirection << 6) | (edge << 7));
    p[16] = classification;
    p[17] = userData;
    store(p + 18, scanAngle);
    store(p + 20, pointSource);
    store(p + 22, gpsBits);
  }
};

struct Point14Item::Context {
  bool used = false;
  Point last;
  SymbolModel changed[8] = {SymbolModel(128), SymbolModel(128), SymbolModel(128), SymbolModel(128),
                            SymbolModel(128), SymbolModel(128), SymbolModel(128), SymbolModel(128)};
  SymbolModel scannerChannel{3};
  SymbolModel returnNumberGpsSame{13};
  std::unique_ptr<SymbolModel> numberOfReturns[16], returnNumber[16];
  std::unique_ptr<SymbolModel> classification[64], flags[64], userData[64];
  IntegerDecompressor dX{32, 2}, dY{32, 22}, z{32, 20};
  IntegerDecompressor intensity{16, 4}, scanAngle{16, 2}, pointSource{16};
  SymbolModel gpsMulti{kMultiTotal}, gpsZeroDiff{5};
  IntegerDecompressor gps{32, 9};
  uint16_t lastIntensity[8] = {};
  Median5 medX[12], medY[12];
  int32_t lastZ[8] = {};
  uint32_t gpsLast = 0, gpsNext = 0;
  int64_t gpsTime[4] = {};
  int32_t gpsDiff[4] = {};
  int32_t gpsExtreme[4] = {};

  // Models and the coordinate layer's state. A context started on a channel switch takes its
  // values from the previous point, each layer when it reaches that point (start* below).
  void resetModels() {
    for (auto& m : changed) m.init(128);
    scannerChannel.init(3);
    returnNumberGpsSame.init(13);
    for (auto& m : numberOfReturns)
      if (m) m->init(16);
    for (auto& m : returnNumber)
      if (m) m->init(16);
    for (auto& m : classification)
      if (m) m->init(256);
    for (auto& m : flags)
      if (m) m->init(64);
    for (auto& m : userData)
      if (m) m->init(256);
    dX.init();
    dY.init();
    z.init();
    intensity.init();
    scanAngle.init();
    pointSource.init();
    gpsMulti.init(kMultiTotal);
    gpsZeroDiff.init(5);
    gps.init();
    for (auto& m : medX) m.reset();
    for (auto& m : medY) m.reset();
    used = true;
  }

  void startCoordinates(const Point& from) {
    last.x = from.x;
    last.y = from.y;
    last.returnNumber = from.returnNumber;
    last.numberOfReturns = from.numberOfReturns;
    last.gpsChanged = false;
  }
  void startHeight(const Point& from) {
    last.z = from.z;
    for (auto& v : lastZ) v = from.z;
  }
  void startIntensity(const Point& from) {
    last.intensity = from.intensity;
    for (auto& v : lastIntensity) v = from.intensity;
  }
  void startGpsTime(const Point& from) {
    gpsLast = gpsNext = 0;
    for (int i = 0; i < 4; ++i) {
      gpsTime[i] = 0;
      gpsDiff[i] = 0;
      gpsExtreme[i] = 0;
    }
    gpsTime[0] = from.gpsBits;
    last.gpsBits = from.gpsBits;
  }
  void startFlags(const Point& from) {
    last.classification = from.classification;
    last.classFlags = from.classFlags;
    last.scanDirection = from.scanDirection;
    last.edge = from.edge;
    last.userData = from.userData;
  }
  void startOthers(const Point& from) {
    last.scanAngle = from.scanAngle;
    last.pointSource = from.pointSource;
  }
};

namespace {

constexpr uint8_t kChannelChange = 1u << 6;
constexpr uint8_t kPointSourceChange = 1u << 5;
constexpr uint8_t kGpsTimeChange = 1u << 4;
constexpr uint8_t kScanAngleChange = 1u << 3;

// One GPS time in the sequences of `c`, read from `dec`.
VELDRA_LAS_INLINE void decodeGpsTime(Point14Item::Context& c, ArithmeticDecoder& dec) {
  for (int guard = 0; guard < 8; ++guard) {
    uint32_t& last = c.gpsLast;
    if (c.gpsDiff[last] == 0) {
      const uint32_t multi = dec.decodeSymbol(c.gpsZeroDiff);
      if (multi == 0) {
        c.gpsDiff[last] = c.gps.decompress(dec, 0, 0);
        c.gpsTime[last] = add64(c.gpsTime[last], c.gpsDiff[last]);
        c.gpsExtreme[last] = 0;
      } else if (multi == 1) {
        c.gpsNext = (c.gpsNext + 1) & 3;
        const auto high = static_cast<uint32_t>(
            c.gps.decompress(dec, static_cast<int32_t>(static_cast<uint64_t>(c.gpsTime[last]) >> 32), 8));
        c.gpsTime[c.gpsNext] = static_cast<int64_t>((uint64_t{high} << 32) | dec.readInt());
        last = c.gpsNext;
        c.gpsDiff[last] = 0;
        c.gpsExtreme[last] = 0;
      } else {
        last = (last + multi - 1) & 3;
        continue;
      }
    } else {
      const uint32_t multi = dec.decodeSymbol(c.gpsMulti);
      if (multi == 1) {
        c.gpsTime[last] = add64(c.gpsTime[last], c.gps.decompress(dec, c.gpsDiff[last], 1));
        c.gpsExtreme[last] = 0;
      } else if (multi < kMultiCodeFull) {
        int32_t d;
        if (multi == 0) {
          d = c.gps.decompress(dec, 0, 7);
          if (++c.gpsExtreme[last] > 3) {
            c.gpsDiff[last] = d;
            c.gpsExtreme[last] = 0;
          }
        } else if (multi < static_cast<uint32_t>(kMulti)) {
          d = c.gps.decompress(dec, mul(static_cast<int32_t>(multi), c.gpsDiff[last]), multi < 10 ? 2 : 3);
        } else if (multi == static_cast<uint32_t>(kMulti)) {
          d = c.gps.decompress(dec, mul(kMulti, c.gpsDiff[last]), 4);
          if (++c.gpsExtreme[last] > 3) {
            c.gpsDiff[last] = d;
            c.gpsExtreme[last] = 0;
          }
        } else {
          const int32_t mm = kMulti - static_cast<int32_t>(multi);
          if (mm > kMultiMinus) {
            d = c.gps.decompress(dec, mul(mm, c.gpsDiff[last]), 5);
          } else {
            d = c.gps.decompress(dec, mul(kMultiMinus, c.gpsDiff[last]), 6);
            if (++c.gpsExtreme[last] > 3) {
              c.gpsDiff[last] = d;
              c.gpsExtreme[last] = 0;
            }
          }
        }
        c.gpsTime[last] = add64(c.gpsTime[last], d);
      } else if (multi == kMultiCodeFull) {
        c.gpsNext = (c.gpsNext + 1) & 3;
        const auto high = static_cast<uint32_t>(
            c.gps.decompress(dec, static_cast<int32_t>(static_cast<uint64_t>(c.gpsTime[last]) >> 32), 8));
        c.gpsTime[c.gpsNext] = static_cast<int64_t>((uint64_t{high} << 32) | dec.readInt());
        last = c.gpsNext;
        c.gpsDiff[last] = 0;
        c.gpsExtreme[last] = 0;
      } else {
        last = (last + multi - kMultiCodeFull) & 3;
        continue;
      }
    }
    break;
  }
}


}  // namespace

Point14Item::Point14Item() = default;
Point14Item::~Point14Item() = default;

void Point14Item::init(const uint8_t* first, const Layer* layers, uint32_t& context) {
  for (auto& c : ctx_)
    if (c) c->used = false;
  Point p;
  p.unpack(first);
  current_ = p.channel;
  context = current_;
  if (!ctx_[current_]) ctx_[current_] = std::make_unique<Context>();
  Context& c = *ctx_[current_];
  c.resetModels();
  c.last = p;
  c.startCoordinates(p);
  c.startHeight(p);
  c.startIntensity(p);
  c.startGpsTime(p);
  for (int i = 0; i < 9; ++i) {
    active_[i] = layers[i].size > 0;
    if (active_[i]) dec_[i].init(layers[i].data, layers[i].data + layers[i].size);
  }
  // The coordinate layer carries the change flags; it has to be decoded for every point.
  active_[kXY] = true;
  if (layers[kXY].size == 0) dec_[kXY].init(layers[kXY].data, layers[kXY].data);
}

uint32_t Point14Item::overrun() const {
  uint32_t m = 0;
  for (int i = 0; i < 9; ++i)
    if (active_[i]) m = std::max(m, dec_[i].overrun());
  return m;
}

void Point14Item::decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) {
  if (steps_.size() < count) steps_.resize(count);
  decodeCoordinates(out, stride, contexts, count);
  decodeHeightAndIntensity(out, stride, count);
  decodeClassFlagsAndUserData(out, stride, count);
  decodeScanAngleAndPointSource(out, stride, count);
  decodeGpsTimes(out, stride, count);
}

// The coordinate layer decides everything the other layers need: the point's channel, its
// change flags and its return numbers.
void Point14Item::decodeCoordinates(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) {
  // A local copy keeps the coder state in registers (the compiler cannot rule out aliasing).
  ArithmeticDecoder xy = dec_[kXY];
  Context* c = ctx_[current_].get();
  for (uint32_t i = 0; i < count; ++i, out += stride) {
    Step& step = steps_[i];
    step.startedFrom = 0;
    const uint32_t lpr = (c->last.returnNumber == 1 ? 1 : 0) +
                         (c->last.returnNumber >= c->last.numberOfReturns ? 2 : 0) + (c->last.gpsChanged ? 4 : 0);
    const uint32_t changed = xy.decodeSymbol(c->changed[lpr]);
    // The other items learn the channel only on the point where it changes; on all other
    // points they are handed context 0. Writers do the same, so this is what the data needs.
    contexts[i] = 0;
    if (changed & kChannelChange) {
      const uint32_t diff = xy.decodeSymbol(c->scannerChannel);
      const uint32_t channel = (current_ + diff + 1) & 3;
      if (!ctx_[channel] || !ctx_[channel]->used) {
        // A channel met for the first time in the chunk starts from the previous point's
        // values; each layer copies its own when it reaches this point.
        if (!ctx_[channel]) ctx_[channel] = std::make_unique<Context>();
        Context& started = *ctx_[channel];
        started.resetModels();
        started.startCoordinates(c->last);
        step.startedFrom = static_cast<uint8_t>(current_ + 1);
      }
      current_ = channel;
      c = ctx_[current_].get();
      c->last.channel = static_cast<uint8_t>(channel);
      contexts[i] = static_cast<uint8_t>(channel);
    }
    step.context = static_cast<uint8_t>(current_);
    step.changed = static_cast<uint8_t>(changed);
    Point& last = c->last;
    const bool gpsChange = changed & kGpsTimeChange;

    const uint32_t lastN = last.numberOfReturns;
    const uint32_t lastR = last.returnNumber;
    uint32_t n = lastN;
    if (changed & (1u << 2)) {
      n = xy.decodeSymbol(lazy(c->numberOfReturns[lastN], 16));
      last.numberOfReturns = static_cast<uint8_t>(n);
    }
    uint32_t r;
    switch (changed & 3) {
      case 0:
        r = lastR;
        break;
      case 1:
        r = (lastR + 1) & 15;
        break;
      case 2:
        r = (lastR + 15) & 15;
        break;
      default:
        if (gpsChange)
          r = xy.decodeSymbol(lazy(c->returnNumber[lastR], 16));
        else
          r = (lastR + xy.decodeSymbol(c->returnNumberGpsSame) + 2) & 15;
        break;
    }
    last.returnNumber = static_cast<uint8_t>(r);

    const uint32_t m = kReturnMap6[n][r];
    step.returnLevel = static_cast<uint8_t>(std::min<uint32_t>(n > r ? n - r : r - n, 7));
    step.returnKind = static_cast<uint8_t>((r == 1 ? 2 : 0) + (r >= n ? 1 : 0));
    const uint32_t mIdx = (m << 1) | (gpsChange ? 1 : 0);

    int32_t diff = c->dX.decompress(xy, c->medX[mIdx].get(), n == 1);
    last.x = wrapAdd(last.x, diff);
    c->medX[mIdx].add(diff);

    uint32_t kBits = c->dX.k();
    diff = c->dY.decompress(xy, c->medY[mIdx].get(), (n == 1) + (kBits < 20 ? (kBits & ~1u) : 20));
    last.y = wrapAdd(last.y, diff);
    c->medY[mIdx].add(diff);

    kBits = (c->dX.k() + c->dY.k()) / 2;
    step.zContext = static_cast<uint8_t>((n == 1) + (kBits < 18 ? (kBits & ~1u) : 18));
    last.gpsChanged = gpsChange;
    store(out, last.x);
    store(out + 4, last.y);
    out[14] = static_cast<uint8_t>(r | (n << 4));
  }
  dec_[kXY] = xy;
}

// Every layer after the coordinates walks the batch the same way: the point's context, its
// record, and on a channel met for the first time the layer's own values from the previous
// point (`start`) before the point is decoded (`body`).
template <typename Start, typename Body>
VELDRA_LAS_INLINE void Point14Item::eachPoint(uint8_t* out, size_t stride, uint32_t count, Start start, Body body) {
  for (uint32_t i = 0; i < count; ++i, out += stride) {
    const Step& step = steps_[i];
    Context& c = context(step.context);
    if (step.startedFrom) [[unlikely]]
      start(c, context(step.startedFrom - 1u).last);
    body(step, c, out);
  }
}

void Point14Item::decodeHeightAndIntensity(uint8_t* out, size_t stride, uint32_t count) {
  ArithmeticDecoder dz = dec_[kZ], di = dec_[kIntensity];
  const bool zActive = active_[kZ], intensityActive = active_[kIntensity];
  eachPoint(
      out, stride, count,
      [](Context& c, const Point& from) {
        c.startHeight(from);
        c.startIntensity(from);
      },
      [&](const Step& step, Context& c, uint8_t* rec) {
        if (zActive) {
          c.last.z = c.z.decompress(dz, c.lastZ[step.returnLevel], step.zContext);
          c.lastZ[step.returnLevel] = c.last.z;
        }
        if (intensityActive) {
          const uint32_t idx = (uint32_t{step.returnKind} << 1) | ((step.changed & kGpsTimeChange) ? 1 : 0);
          const auto v = static_cast<uint16_t>(c.intensity.decompress(di, c.lastIntensity[idx], step.returnKind));
          c.lastIntensity[idx] = v;
          c.last.intensity = v;
        }
        store(rec + 8, c.last.z);
        store(rec + 12, c.last.intensity);
      });
  dec_[kZ] = dz;
  dec_[kIntensity] = di;
}

void Point14Item::decodeClassFlagsAndUserData(uint8_t* out, size_t stride, uint32_t count) {
  ArithmeticDecoder dc = dec_[kClass], df = dec_[kFlags], du = dec_[kUserData];
  const bool classActive = active_[kClass], flagsActive = active_[kFlags], userActive = active_[kUserData];
  eachPoint(
      out, stride, count, [](Context& c, const Point& from) { c.startFlags(from); },
      [&](const Step& step, Context& c, uint8_t* rec) {
        Point& last = c.last;
        if (classActive) {
          const uint32_t ccc = ((last.classification & 0x1Fu) << 1) + (step.returnKind == 3 ? 1 : 0);
          last.classification = static_cast<uint8_t>(dc.decodeSymbol(lazy(c.classification[ccc], 256)));
        }
        if (flagsActive) {
          const uint32_t lastFlags =
              (uint32_t{last.edge} << 5) | (uint32_t{last.scanDirection} << 4) | last.classFlags;
          const uint32_t flags = df.decodeSymbol(lazy(c.flags[lastFlags], 64));
          last.edge = (flags >> 5) & 1;
          last.scanDirection = (flags >> 4) & 1;
          last.classFlags = flags & 0x0F;
        }
        if (userActive)
          last.userData = static_cast<uint8_t>(du.decodeSymbol(lazy(c.userData[last.userData / 4], 256)));
        rec[15] = static_cast<uint8_t>(last.classFlags | (step.context << 4) | (last.scanDirection << 6) |
                                       (last.edge << 7));
        rec[16] = last.classification;
        rec[17] = last.userData;
      });
  dec_[kClass] = dc;
  dec_[kFlags] = df;
  dec_[kUserData] = du;
}

void Point14Item::decodeScanAngleAndPointSource(uint8_t* out, size_t stride, uint32_t count) {
  ArithmeticDecoder ds = dec_[kScanAngle], dp = dec_[kPointSource];
  const bool scanActive = active_[kScanAngle], sourceActive = active_[kPointSource];
  eachPoint(
      out, stride, count, [](Context& c, const Point& from) { c.startOthers(from); },
      [&](const Step& step, Context& c, uint8_t* rec) {
        Point& last = c.last;
        if (scanActive && (step.changed & kScanAngleChange))
          last.scanAngle = static_cast<int16_t>(
              c.scanAngle.decompress(ds, last.scanAngle, (step.changed & kGpsTimeChange) ? 1 : 0));
        if (sourceActive && (step.changed & kPointSourceChange))
          last.pointSource = static_cast<uint16_t>(c.pointSource.decompress(dp, last.pointSource));
        store(rec + 18, last.scanAngle);
        store(rec + 20, last.pointSource);
      });
  dec_[kScanAngle] = ds;
  dec_[kPointSource] = dp;
}

void Point14Item::decodeGpsTimes(uint8_t* out, size_t stride, uint32_t count) {
  ArithmeticDecoder dg = dec_[kGpsTime];
  const bool active = active_[kGpsTime];
  eachPoint(
      out, stride, count, [](Context& c, const Point& from) { c.startGpsTime(from); },
      [&](const Step& step, Context& c, uint8_t* rec) {
        if (active && (step.changed & kGpsTimeChange)) {
          decodeGpsTime(c, dg);
          c.last.gpsBits = c.gpsTime[c.gpsLast];
        }
        store(rec + 22, c.last.gpsBits);
      });
  dec_[kGpsTime] = dg;
}

// ---- RGB14 / RGBNIR14 ----

void Rgb14Item::startContext(uint32_t c, const uint16_t* from) {
  if (!ctx_[c]) ctx_[c] = std::make_unique<Context>();
  Context& x = *ctx_[c];
  x.rgbUsed.init(128);
  for (auto& m : x.rgbDiff) m.init(256);
  x.nirUsed.init(4);
  for (auto& m : x.nirDiff) m.init(256);
  std::memcpy(x.last, from, sizeof x.last);
  x.used = true;
}

void Rgb14Item::init(const uint8_t* first, const Layer* layers, uint32_t& context) {
  for (auto& c : ctx_)
    if (c) c->used = false;
  uint16_t from[4] = {};
  std::memcpy(from, first, nir_ ? 8 : 6);
  current_ = context;
  startContext(current_, from);
  rgbActive_ = layers[0].size > 0;
  if (rgbActive_) rgbDec_.init(layers[0].data, layers[0].data + layers[0].size);
  nirActive_ = nir_ && layers[1].size > 0;
  if (nirActive_) nirDec_.init(layers[1].data, layers[1].data + layers[1].size);
}

uint32_t Rgb14Item::overrun() const {
  return std::max(rgbActive_ ? rgbDec_.overrun() : 0u, nirActive_ ? nirDec_.overrun() : 0u);
}

void Rgb14Item::decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) {
  ArithmeticDecoder rgb = rgbDec_, nir = nirDec_;
  for (uint32_t i = 0; i < count; ++i, out += stride) {
    // Switching back to a channel seen before keeps predicting from (and updating) the previous
    // channel's colour for this one point; files are written that way, so decoding must match.
    uint16_t* last = ctx_[current_]->last;
    const uint32_t context = contexts[i];
    if (context != current_) {
      current_ = context;
      if (!ctx_[current_] || !ctx_[current_]->used) {
        uint16_t copy[4];
        std::memcpy(copy, last, sizeof copy);
        startContext(current_, copy);
        last = ctx_[current_]->last;
      }
    }
    Context& c = *ctx_[current_];
    uint16_t item[4];
    if (rgbActive_) {
      decodeRgbDiff(rgb, rgb.decodeSymbol(c.rgbUsed), c.rgbDiff, last, item);
      std::memcpy(last, item, 6);
    } else {
      std::memcpy(item, last, 6);
    }
    if (nir_) {
      if (nirActive_) {
        const uint32_t sym = nir.decodeSymbol(c.nirUsed);
        uint16_t v;
        // Predicted from the same (possibly previous channel's) value as RGB, but stored in the
        // current channel.
        if (sym & 1)
          v = static_cast<uint16_t>((nir.decodeSymbol(c.nirDiff[0]) + (last[3] & 255)) & 255);
        else
          v = last[3] & 0xFF;
        if (sym & 2)
          v |= static_cast<uint16_t>(((nir.decodeSymbol(c.nirDiff[1]) + (last[3] >> 8)) & 255) << 8);
        else
          v |= last[3] & 0xFF00;
        c.last[3] = v;
      }
      item[3] = c.last[3];
    }
    std::memcpy(out, item, nir_ ? 8 : 6);
  }
  rgbDec_ = rgb;
  nirDec_ = nir;
}

// ---- BYTE14 ----

void Byte14Item::startContext(uint32_t c, const uint8_t* from) {
  if (!ctx_[c]) ctx_[c] = std::make_unique<Context>();
  Context& x = *ctx_[c];
  // Without `from` the values are left for the caller to fill.
  if (from)
    x.last.assign(from, from + count_);
  else
    x.last.resize(count_);
  if (x.models.size() != count_) x.models.assign(count_, SymbolModel(256));
  else
    for (auto& m : x.models) m.init(256);
  x.used = true;
}

void Byte14Item::init(const uint8_t* first, const Layer* layers, uint32_t& context) {
  for (auto& c : ctx_)
    if (c) c->used = false;
  current_ = context;
  startContext(current_, first);
  for (uint32_t i = 0; i < count_; ++i) {
    active_[i] = layers[i].size > 0;
    if (active_[i]) dec_[i].init(layers[i].data, layers[i].data + layers[i].size);
  }
}

uint32_t Byte14Item::overrun() const {
  uint32_t m = 0;
  for (uint32_t i = 0; i < count_; ++i)
    if (active_[i]) m = std::max(m, dec_[i].overrun());
  return m;
}

void Byte14Item::decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) {
  // Same channel switching rule as the colour item. The switches are worked out first, then
  // every byte is decoded over the whole batch with its coder held in registers.
  if (steps_.size() < count) steps_.resize(count);
  for (uint32_t i = 0; i < count; ++i) {
    Step& step = steps_[i];
    step.lastFrom = static_cast<uint8_t>(current_);
    step.startedFrom = 0;
    const uint32_t context = contexts[i];
    if (context != current_) {
      const uint32_t previous = current_;
      current_ = context;
      if (!ctx_[current_] || !ctx_[current_]->used) {
        startContext(current_, nullptr);
        step.startedFrom = static_cast<uint8_t>(previous + 1);
        step.lastFrom = static_cast<uint8_t>(current_);
      }
    }
    step.models = static_cast<uint8_t>(current_);
  }
  for (uint32_t k = 0; k < count_; ++k) {
    ArithmeticDecoder d = dec_[k];
    const bool active = active_[k];
    uint8_t* o = out + k;
    for (uint32_t i = 0; i < count; ++i, o += stride) {
      const Step& step = steps_[i];
      if (step.startedFrom) [[unlikely]]
        ctx_[step.models]->last[k] = ctx_[step.startedFrom - 1u]->last[k];
      uint8_t& last = ctx_[step.lastFrom]->last[k];
      if (active) last = static_cast<uint8_t>(last + d.decodeSymbol(ctx_[step.models]->models[k]));
      *o = last;
    }
    if (active) dec_[k] = d;
  }
}

}  // namespace veldra::las
