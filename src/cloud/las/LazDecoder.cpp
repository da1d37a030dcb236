#include "cloud/las/LazDecoder.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "cloud/las/ArithmeticDecoder.h"
#include "cloud/las/ByteSource.h"
#include "cloud/las/LazItems10.h"
#include "cloud/las/LazItems14.h"

namespace veldra::las {
namespace {

// Decoders may legitimately look a few bytes ahead of the last symbol; beyond this the data
// is corrupt.
constexpr uint32_t kOverrunSlack = 8;
// Even perfectly predictable points cost a few thousandths of a bit each; a header announcing
// more points per compressed byte than this cannot be genuine.
constexpr uint64_t kMaxPointsPerByte = 4096;
// Real files carry a few dozen extra bytes per point at most.
constexpr uint16_t kMaxExtraBytes = 2048;

bool fail(std::string* error, std::string msg) {
  if (error) *error = std::move(msg);
  return false;
}

std::string itemName(uint16_t type) {
  switch (static_cast<LazItemType>(type)) {
    case LazItemType::Byte: return "BYTE";
    case LazItemType::Point10: return "POINT10";
    case LazItemType::GpsTime11: return "GPSTIME11";
    case LazItemType::Rgb12: return "RGB12";
    case LazItemType::Wavepacket13: return "WAVEPACKET13";
    case LazItemType::Point14: return "POINT14";
    case LazItemType::Rgb14: return "RGB14";
    case LazItemType::RgbNir14: return "RGBNIR14";
    case LazItemType::Wavepacket14: return "WAVEPACKET14";
    case LazItemType::Byte14: return "BYTE14";
  }
  return "item type " + std::to_string(type);
}

struct Chunk {
  uint64_t offset = 0;
  uint64_t bytes = 0;
  uint64_t points = 0;
};

class ChunkedDecoder : public LazDecoder {
 public:
  ChunkedDecoder(ByteSource& src, const LasHeader& h) : src_(src), recordLength_(h.recordLength) {}

  bool readChunkTable(const LasHeader& h, const LaszipVlr& vlr, std::string* error);

  bool next(uint8_t* record, std::string* error) override {
    if (left_ == 0) {
      if (chunkIndex_ >= chunks_.size()) return fail(error, "chunk table holds fewer points than the header");
      if (!startChunk(chunks_[chunkIndex_], record, error)) return false;
      ++chunkIndex_;
      return true;
    }
    --left_;
    decodePoint(record);
    // Checked every 64 points and at the chunk's last point: corrupt data still ends the
    // chunk promptly, and the many layer decoders are not polled for every point.
    if ((left_ & 63) == 0 && overrun() > kOverrunSlack) return overrunError(error);
    return true;
  }

  std::size_t chunkCount() const override { return chunks_.size(); }
  uint64_t chunkPoints(std::size_t chunk) const override { return chunks_[chunk].points; }

  // The same steps and checks as next(), over one chunk.
  uint64_t decodeChunk(std::size_t chunk, uint64_t limit, uint8_t* records, std::string* error) override {
    limit = std::min(limit, chunks_[chunk].points);
    if (limit == 0) return 0;
    chunkIndex_ = chunk + 1;
    if (!startChunk(chunks_[chunk], records, error)) return 0;
    return decodeRest(records, limit, error);
  }

 protected:
  bool loadChunk(const Chunk& c, std::string* error) {
    buf_.resize(c.bytes);
    if (!src_.read(c.offset, buf_.data(), buf_.size()))
      return fail(error, "cannot read compressed chunk at offset " + std::to_string(c.offset));
    return true;
  }
  // Reads the chunk, hands out its first point, sets left_ to the points still to decode.
  virtual bool startChunk(const Chunk& c, uint8_t* record, std::string* error) = 0;
  virtual void decodePoint(uint8_t* record) = 0;
  // After startChunk: records 1 .. limit - 1 of the chunk into records + i * recordLength_, with
  // no call per point. Returns how many records are good, as many as next() would hand out.
  virtual uint64_t decodeRest(uint8_t* records, uint64_t limit, std::string* error) = 0;
  virtual uint32_t overrun() const = 0;
  bool overrunError(std::string* error) const {
    return fail(error, "corrupt compressed data in chunk " + std::to_string(chunkIndex_ - 1) +
                           " (decoder ran past its end)");
  }

  ByteSource& src_;
  uint16_t recordLength_;
  std::vector<Chunk> chunks_;
  size_t chunkIndex_ = 0;
  uint64_t left_ = 0;
  std::vector<uint8_t> buf_;
};

bool ChunkedDecoder::readChunkTable(const LasHeader& h, const LaszipVlr& vlr, std::string* error) {
  const uint64_t fileSize = src_.size();
  const uint64_t dataStart = uint64_t{h.offsetToPoints} + 8;
  if (h.pointCount == 0) return true;  // nothing to find; writers may leave the table out
  if (dataStart > fileSize) return fail(error, "file truncated before the compressed points");
  int64_t tableAt = 0;
  if (!src_.read(h.offsetToPoints, &tableAt, 8)) return fail(error, "cannot read the chunk table offset");
  if (tableAt == -1) {
    // Written by streaming encoders: the real offset is in the last eight bytes.
    if (fileSize < 8 || !src_.read(fileSize - 8, &tableAt, 8)) return fail(error, "cannot read the chunk table offset");
  }
  if (tableAt < static_cast<int64_t>(dataStart) || static_cast<uint64_t>(tableAt) > fileSize - 8)
    return fail(error, "bad chunk table offset " + std::to_string(tableAt));
  uint32_t head[2];
  if (!src_.read(static_cast<uint64_t>(tableAt), head, 8)) return fail(error, "cannot read the chunk table");
  if (head[0] != 0) return fail(error, "unknown chunk table version " + std::to_string(head[0]));
  const uint32_t count = head[1];
  const uint64_t region = static_cast<uint64_t>(tableAt) - dataStart;
  // A chunk holds at least one raw record.
  if (count > region / std::max<uint16_t>(recordLength_, 1))
    return fail(error, "bad chunk table: " + std::to_string(count) + " chunks in " + std::to_string(region) + " bytes");
  const uint64_t tableBytesAt = static_cast<uint64_t>(tableAt) + 8;
  const uint64_t tableBytes = std::min<uint64_t>(fileSize - tableBytesAt, uint64_t{count} * 16 + 64);
  std::vector<uint8_t> table(tableBytes);
  if (tableBytes && !src_.read(tableBytesAt, table.data(), table.size()))
    return fail(error, "cannot read the chunk table");

  const bool variable = vlr.chunkSize == kVariableChunkSize;
  ArithmeticDecoder dec;
  dec.init(table.data(), table.data() + table.size());
  IntegerDecompressor ic(32, 2);
  chunks_.reserve(count);
  int32_t lastPoints = 0, lastBytes = 0;
  uint64_t at = dataStart, points = 0;
  for (uint32_t i = 0; i < count; ++i) {
    Chunk c;
    if (variable) {
      lastPoints = ic.decompress(dec, lastPoints, 0);
      c.points = static_cast<uint32_t>(lastPoints);
    }
    lastBytes = ic.decompress(dec, lastBytes, 1);
    c.bytes = static_cast<uint32_t>(lastBytes);
    c.offset = at;
    if (dec.overrun() > kOverrunSlack) return fail(error, "bad chunk table: truncated");
    if (c.bytes < recordLength_ || c.bytes > static_cast<uint64_t>(tableAt) - at)
      return fail(error, "bad chunk table: chunk " + std::to_string(i) + " of " + std::to_string(c.bytes) +
                             " bytes does not fit");
    if (!variable) c.points = std::min<uint64_t>(vlr.chunkSize, h.pointCount - std::min(points, h.pointCount));
    if (variable && c.points == 0) return fail(error, "bad chunk table: empty chunk");
    // Chunk sizes decide buffer sizes: a count its bytes cannot hold is not believed.
    if (c.points / kMaxPointsPerByte > c.bytes)
      return fail(error, "bad chunk table: chunk " + std::to_string(i) + " announces " + std::to_string(c.points) +
                             " points in " + std::to_string(c.bytes) + " bytes");
    at += c.bytes;
    points += c.points;
    chunks_.push_back(c);
  }
  if (points < h.pointCount)
    return fail(error, "bad chunk table: " + std::to_string(points) + " points in chunks, header announces " +
                           std::to_string(h.pointCount));
  if (h.pointCount / kMaxPointsPerByte > region)
    return fail(error, "header announces " + std::to_string(h.pointCount) + " points for " + std::to_string(region) +
                           " compressed bytes");
  return true;
}

// Formats 0-3: one arithmetic stream per chunk, items interleaved point by point.
class PointwiseDecoder final : public ChunkedDecoder {
 public:
  using ChunkedDecoder::ChunkedDecoder;
  std::unique_ptr<PointwiseRecordDecoder> records;

 private:
  bool startChunk(const Chunk& c, uint8_t* record, std::string* error) override {
    if (!loadChunk(c, error)) return false;
    std::memcpy(record, buf_.data(), recordLength_);  // chunk bytes >= record length, checked
    records->init(buf_.data());
    dec_.init(buf_.data() + recordLength_, buf_.data() + buf_.size());
    left_ = c.points - 1;
    return true;
  }
  void decodePoint(uint8_t* record) override { records->decode(dec_, record); }
  uint64_t decodeRest(uint8_t* out, uint64_t limit, std::string* error) override {
    for (uint64_t done = 1; done < limit; ++done) {
      --left_;
      records->decode(dec_, out + done * recordLength_);
      if ((left_ & 63) == 0 && dec_.overrun() > kOverrunSlack) {
        overrunError(error);
        return done;
      }
    }
    return limit;
  }
  uint32_t overrun() const override { return dec_.overrun(); }

  ArithmeticDecoder dec_;
};

// Formats 6-8: per chunk a raw first point, the point count, layer sizes, then the layers.
class LayeredDecoder final : public ChunkedDecoder {
 public:
  using ChunkedDecoder::ChunkedDecoder;
  std::vector<std::unique_ptr<LayeredItem>> items;
  std::vector<uint32_t> offsets;

 private:
  bool startChunk(const Chunk& c, uint8_t* record, std::string* error) override {
    if (!loadChunk(c, error)) return false;
    const uint8_t* p = buf_.data();
    const uint8_t* end = p + buf_.size();
    std::memcpy(record, p, recordLength_);
    p += recordLength_;
    if (end - p < 4) return fail(error, "corrupt chunk: no point count");
    uint32_t count;
    std::memcpy(&count, p, 4);
    p += 4;
    if (count != c.points)
      return fail(error, "corrupt chunk: holds " + std::to_string(count) + " points, chunk table says " +
                             std::to_string(c.points));
    size_t layerTotal = 0;
    for (auto& it : items) layerTotal += it->layerCount();
    if (static_cast<uint64_t>(end - p) < layerTotal * 4) return fail(error, "corrupt chunk: layer sizes cut off");
    layers_.resize(layerTotal);
    for (auto& l : layers_) {
      std::memcpy(&l.size, p, 4);
      p += 4;
    }
    for (auto& l : layers_) {
      if (static_cast<uint64_t>(end - p) < l.size) return fail(error, "corrupt chunk: layer larger than the chunk");
      l.data = p;
      p += l.size;
    }
    uint32_t context = 0;
    size_t li = 0;
    for (size_t i = 0; i < items.size(); ++i) {
      items[i]->init(buf_.data() + offsets[i], layers_.data() + li, context);
      li += items[i]->layerCount();
    }
    left_ = c.points - 1;
    batchAt_ = batchSize_ = 0;
    return true;
  }
  // Points are decoded a batch ahead and handed out from there. With the batch used up, the
  // points still to decode are this one and the left_ after it.
  void decodePoint(uint8_t* record) override {
    if (batchAt_ == batchSize_) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(left_ + 1, kBatchPoints));
      batch_.resize(size_t{n} * recordLength_);
      decodeBatch(batch_.data(), n);
      batchAt_ = 0;
      batchSize_ = n;
    }
    std::memcpy(record, batch_.data() + size_t{batchAt_} * recordLength_, recordLength_);
    ++batchAt_;
  }
  // The batches next() would decode, straight into place; only a batch reaching past `limit`
  // goes through batch_. next() checks the overrun at every point leaving a multiple of 64
  // behind it, after the batch holding that point; overruns only grow, so the first such point
  // of the first batch found overrun is where next() would stop.
  uint64_t decodeRest(uint8_t* out, uint64_t limit, std::string* error) override {
    const uint64_t points = left_ + 1;
    for (uint64_t i = 1; i < limit;) {
      const auto n = static_cast<uint32_t>(std::min<uint64_t>(points - i, kBatchPoints));
      const uint64_t end = std::min<uint64_t>(i + n, limit);
      uint8_t* at = out + i * recordLength_;
      if (end < i + n) {
        batch_.resize(size_t{n} * recordLength_);
        decodeBatch(batch_.data(), n);
        std::memcpy(at, batch_.data(), static_cast<size_t>(end - i) * recordLength_);
      } else {
        decodeBatch(at, n);
      }
      if (overrun() > kOverrunSlack) {
        const uint64_t check = i + (points - 1 - i) % 64;
        if (check < end) {
          overrunError(error);
          return check;
        }
      }
      i += n;
    }
    return limit;
  }
  void decodeBatch(uint8_t* to, uint32_t n) {
    contexts_.resize(n);
    for (size_t i = 0; i < items.size(); ++i) items[i]->decode(to + offsets[i], recordLength_, contexts_.data(), n);
  }
  uint32_t overrun() const override {
    uint32_t m = 0;
    for (auto& it : items) m = std::max(m, it->overrun());
    return m;
  }

  static constexpr uint32_t kBatchPoints = 1024;
  std::vector<Layer> layers_;
  std::vector<uint8_t> batch_, contexts_;
  uint32_t batchAt_ = 0, batchSize_ = 0;
};

bool checkItem(const LazItem& it, LazItemType type, uint16_t size, uint16_t version, std::string* error) {
  if (it.type != static_cast<uint16_t>(type)) return true;
  if (it.size != size) return fail(error, itemName(it.type) + " item of size " + std::to_string(it.size));
  if (it.version != version)
    return fail(error, itemName(it.type) + " item version " + std::to_string(it.version) + " is not supported");
  return true;
}

}  // namespace

std::unique_ptr<LazDecoder> LazDecoder::create(ByteSource& src, const LasHeader& h, const LaszipVlr& vlr,
                                               std::string* error) {
  if (vlr.coder != 0) {
    fail(error, "unknown LASzip coder " + std::to_string(vlr.coder));
    return nullptr;
  }
  if (vlr.items.empty()) {
    fail(error, "LASzip record lists no items");
    return nullptr;
  }
  if (vlr.chunkSize == 0) {
    fail(error, "LASzip chunk size 0");
    return nullptr;
  }
  uint32_t total = 0;
  for (const auto& it : vlr.items) total += it.size;
  if (total != h.recordLength) {
    fail(error, "LASzip items cover " + std::to_string(total) + " bytes, records have " +
                    std::to_string(h.recordLength));
    return nullptr;
  }

  // Every extra byte gets its own adaptive model (per scanner channel for BYTE14); cap them so
  // that a header cannot make us set up hundreds of megabytes of models.
  for (const auto& it : vlr.items) {
    const bool extra = it.type == static_cast<uint16_t>(LazItemType::Byte) ||
                       it.type == static_cast<uint16_t>(LazItemType::Byte14);
    if (extra && it.size > kMaxExtraBytes) {
      fail(error, "LASzip extra bytes item of " + std::to_string(it.size) + " bytes exceeds the supported " +
                      std::to_string(kMaxExtraBytes));
      return nullptr;
    }
  }

  const uint8_t f = h.pointFormat;
  const bool legacy = f <= 3;
  std::vector<LazItemType> expected;
  if (legacy) {
    expected.push_back(LazItemType::Point10);
    if (f == 1 || f == 3) expected.push_back(LazItemType::GpsTime11);
    if (f == 2 || f == 3) expected.push_back(LazItemType::Rgb12);
  } else {
    expected.push_back(LazItemType::Point14);
    if (f == 7) expected.push_back(LazItemType::Rgb14);
    if (f == 8) expected.push_back(LazItemType::RgbNir14);
  }
  const LazItemType extra = legacy ? LazItemType::Byte : LazItemType::Byte14;
  for (size_t i = 0; i < vlr.items.size(); ++i) {
    const auto type = static_cast<LazItemType>(vlr.items[i].type);
    const bool ok = i < expected.size() ? type == expected[i] : (type == extra && i == expected.size());
    if (!ok) {
      fail(error, "LASzip item " + itemName(vlr.items[i].type) + " not supported for point format " +
                      std::to_string(f));
      return nullptr;
    }
  }
  if (vlr.items.size() < expected.size()) {
    fail(error, "LASzip items incomplete for point format " + std::to_string(f));
    return nullptr;
  }

  std::vector<uint32_t> offsets;
  uint32_t off = 0;
  for (const auto& it : vlr.items) {
    offsets.push_back(off);
    off += it.size;
  }

  if (legacy) {
    if (vlr.compressor != 2) {
      fail(error, "LASzip compressor " + std::to_string(vlr.compressor) + " not supported for point format " +
                      std::to_string(f));
      return nullptr;
    }
    auto d = std::make_unique<PointwiseDecoder>(src, h);
    uint32_t extraBytes = 0;
    for (const auto& it : vlr.items) {
      if (!checkItem(it, LazItemType::Point10, 20, 2, error) || !checkItem(it, LazItemType::GpsTime11, 8, 2, error) ||
          !checkItem(it, LazItemType::Rgb12, 6, 2, error))
        return nullptr;
      if (it.type == static_cast<uint16_t>(LazItemType::Byte)) {
        if (it.version != 2) {
          fail(error, "BYTE item version " + std::to_string(it.version) + " is not supported");
          return nullptr;
        }
        extraBytes = it.size;
      }
    }
    d->records = makePointwiseRecordDecoder(f == 1 || f == 3, f == 2 || f == 3, extraBytes);
    if (!d->readChunkTable(h, vlr, error)) return nullptr;
    return d;
  }

  if (vlr.compressor != 3) {
    fail(error, "LASzip compressor " + std::to_string(vlr.compressor) + " not supported for point format " +
                    std::to_string(f));
    return nullptr;
  }
  auto d = std::make_unique<LayeredDecoder>(src, h);
  for (const auto& it : vlr.items) {
    if (!checkItem(it, LazItemType::Point14, 30, 3, error) || !checkItem(it, LazItemType::Rgb14, 6, 3, error) ||
        !checkItem(it, LazItemType::RgbNir14, 8, 3, error))
      return nullptr;
    if (it.type == static_cast<uint16_t>(LazItemType::Byte14) && it.version != 3) {
      fail(error, "BYTE14 item version " + std::to_string(it.version) + " is not supported");
      return nullptr;
    }
    switch (static_cast<LazItemType>(it.type)) {
      case LazItemType::Point14: d->items.push_back(std::make_unique<Point14Item>()); break;
      case LazItemType::Rgb14: d->items.push_back(std::make_unique<Rgb14Item>(false)); break;
      case LazItemType::RgbNir14: d->items.push_back(std::make_unique<Rgb14Item>(true)); break;
      default: d->items.push_back(std::make_unique<Byte14Item>(it.size)); break;
    }
  }
  d->offsets = offsets;
  if (!d->readChunkTable(h, vlr, error)) return nullptr;
  return d;
}

}  // namespace veldra::las
