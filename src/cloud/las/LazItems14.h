#pragma once

// Item decoders of LASzip's layered coding (version 3) for LAS 1.4 point formats 6-8:
// POINT14, RGB14, RGBNIR14, BYTE14. Every attribute group is a separately coded layer and
// models are kept per scanner channel ("context"), chosen by the POINT14 item.
//
// Points are decoded in batches, one layer at a time over the whole batch: a layer's coder
// state then stays in registers, and layers decoded in the same loop run side by side.

#include <cstdint>
#include <memory>
#include <vector>

#include "cloud/las/ArithmeticDecoder.h"
#include "cloud/las/LazItems10.h"

namespace veldra::las {

struct Layer {
  const uint8_t* data = nullptr;
  uint32_t size = 0;
};

class LayeredItem {
 public:
  virtual ~LayeredItem() = default;
  virtual uint32_t layerCount() const = 0;
  // Starts a chunk: `first` is this item's raw first record, `layers` its layerCount() layers.
  // POINT14 sets `context`; the others take it.
  virtual void init(const uint8_t* first, const Layer* layers, uint32_t& context) = 0;
  // Decodes the chunk's next `count` points into out, out + stride, ... `contexts[i]` is the
  // context handed on at point i: POINT14 fills it, the others read it.
  virtual void decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) = 0;
  // Largest number of bytes any layer decoder read past its layer.
  virtual uint32_t overrun() const = 0;
};

class Point14Item final : public LayeredItem {
 public:
  Point14Item();
  ~Point14Item() override;
  uint32_t layerCount() const override { return 9; }
  void init(const uint8_t* first, const Layer* layers, uint32_t& context) override;
  void decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) override;
  uint32_t overrun() const override;

  struct Point;
  struct Context;
  // What the coordinate layer tells the other layers about one point.
  struct Step {
    uint8_t context;      // channel whose models and values the point uses
    uint8_t startedFrom;  // 1 + the channel a context started here copies its values from, else 0
    uint8_t changed;      // the point's change flags
    uint8_t returnLevel;  // distance between return number and number of returns, at most 7
    uint8_t returnKind;   // 2 for a first return, plus 1 for a last one
    uint8_t zContext;     // context of the height difference
  };

 private:
  Context& context(uint32_t c) { return *ctx_[c]; }
  template <typename Start, typename Body>
  void eachPoint(uint8_t* out, size_t stride, uint32_t count, Start start, Body body);
  void decodeCoordinates(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count);
  void decodeHeightAndIntensity(uint8_t* out, size_t stride, uint32_t count);
  void decodeClassFlagsAndUserData(uint8_t* out, size_t stride, uint32_t count);
  void decodeScanAngleAndPointSource(uint8_t* out, size_t stride, uint32_t count);
  void decodeGpsTimes(uint8_t* out, size_t stride, uint32_t count);

  ArithmeticDecoder dec_[9];
  bool active_[9] = {};
  std::unique_ptr<Context> ctx_[4];
  uint32_t current_ = 0;
  std::vector<Step> steps_;
};

class Rgb14Item final : public LayeredItem {
 public:
  explicit Rgb14Item(bool nir) : nir_(nir) {}
  uint32_t layerCount() const override { return nir_ ? 2 : 1; }
  void init(const uint8_t* first, const Layer* layers, uint32_t& context) override;
  void decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) override;
  uint32_t overrun() const override;

 private:
  struct Context {
    bool used = false;
    uint16_t last[4] = {};
    SymbolModel rgbUsed{128};
    SymbolModel rgbDiff[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                              SymbolModel(256), SymbolModel(256), SymbolModel(256)};
    SymbolModel nirUsed{4};
    SymbolModel nirDiff[2] = {SymbolModel(256), SymbolModel(256)};
  };
  void startContext(uint32_t c, const uint16_t* from);

  bool nir_;
  ArithmeticDecoder rgbDec_, nirDec_;
  bool rgbActive_ = false, nirActive_ = false;
  std::unique_ptr<Context> ctx_[4];
  uint32_t current_ = 0;
};

class Byte14Item final : public LayeredItem {
 public:
  explicit Byte14Item(uint32_t count) : count_(count), dec_(count), active_(count) {}
  uint32_t layerCount() const override { return count_; }
  void init(const uint8_t* first, const Layer* layers, uint32_t& context) override;
  void decode(uint8_t* out, size_t stride, uint8_t* contexts, uint32_t count) override;
  uint32_t overrun() const override;

 private:
  struct Context {
    bool used = false;
    std::vector<uint8_t> last;
    std::vector<SymbolModel> models;
  };
  void startContext(uint32_t c, const uint8_t* from);
  // Per point of a batch: the context whose previous values predict it and the context whose
  // models decode it (they differ on a switch back to a channel seen before), and 1 + the
  // channel a context started at this point copies its values from, else 0.
  struct Step {
    uint8_t lastFrom, models, startedFrom;
  };

  uint32_t count_;
  std::vector<ArithmeticDecoder> dec_;
  std::vector<uint8_t> active_;
  std::unique_ptr<Context> ctx_[4];
  uint32_t current_ = 0;
  std::vector<Step> steps_;
};

}  // namespace veldra::las
