#include "cloud/LazTileReader.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <tuple>

#include "cloud/las/LasReader.h"

namespace veldra {
namespace {

constexpr int32_t kMinRecordLength = 20;  // X, Y, Z, intensity and the bytes up to the classification

int32_t readI32(const uint8_t* p) {
  uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
  int32_t r;
  std::memcpy(&r, &v, 4);
  return r;
}

bool isPl2000(int epsg) { return epsg >= kEpsgPl2000First && epsg <= kEpsgPl2000Last; }

bool inside(const Bbox& f, double x, double y) { return x >= f.minX && x <= f.maxX && y >= f.minY && y <= f.maxY; }

// floor(v) as a 64-bit key, saturated so that absurd heights cannot overflow the conversion.
int64_t voxelIndex(double v) {
  const double f = std::floor(v);
  if (f <= -9.2e18) return std::numeric_limits<int64_t>::min();
  if (f >= 9.2e18) return std::numeric_limits<int64_t>::max();
  return int64_t(f);
}

}  // namespace

CloudRecordLayout cloudRecordLayout(uint32_t pointFormat, uint32_t recordLength) {
  CloudRecordLayout l;
  switch (pointFormat) {
    case 0: case 1: case 4: l = {-1, 15}; break;
    case 2: l = {20, 15}; break;
    case 3: case 5: l = {28, 15}; break;
    case 6: case 9: case 10: l = {-1, 16}; break;
    case 7: case 8: l = {30, 16}; break;
    default: break;
  }
  if (l.rgbOffset >= 0 && uint64_t(l.rgbOffset) + 6 > recordLength) l.rgbOffset = -1;
  if (l.classOffset >= 0 && uint64_t(l.classOffset) >= recordLength) l.classOffset = -1;
  return l;
}

CloudPoint decodeCloudPoint(const uint8_t* rec, const CloudRecordLayout& layout, const double scale[3],
                            const double offset[3]) {
  CloudPoint p;
  p.x = readI32(rec) * scale[0] + offset[0];
  p.y = readI32(rec + 4) * scale[1] + offset[1];
  p.z = readI32(rec + 8) * scale[2] + offset[2];
  if (layout.rgbOffset >= 0) {
    // High bytes of the 16-bit little-endian channels.
    p.red = rec[layout.rgbOffset + 1];
    p.green = rec[layout.rgbOffset + 3];
    p.blue = rec[layout.rgbOffset + 5];
  } else {
    p.red = p.green = p.blue = rec[13];  // high byte of the intensity
  }
  p.classification = layout.classOffset >= 0 ? rec[layout.classOffset] : 0;
  return p;
}

// ---- LazTileReader ----

LazTileReader::LazTileReader() = default;
LazTileReader::~LazTileReader() = default;
LazTileReader::LazTileReader(LazTileReader&&) noexcept = default;
LazTileReader& LazTileReader::operator=(LazTileReader&&) noexcept = default;

LazTileReader LazTileReader::open(const std::string& path) {
  LazTileReader r;
  try {
    std::string err;
    r.reader_ = las::LasReader::open(path, &err);
    if (!r.reader_) {
      r.error_ = err.empty() ? "cannot open " + path : err;
      return r;
    }
    const las::LasHeader& h = r.reader_->header();
    r.pointCount_ = int64_t(std::min<uint64_t>(h.pointCount, uint64_t(std::numeric_limits<int64_t>::max())));
    for (int a = 0; a < 3; ++a) {
      r.scale_[a] = h.scale[a];
      r.offset_[a] = h.offset[a];
    }
    r.pointFormat_ = h.pointFormat;
    r.recordLength_ = h.recordLength;
    r.layout_ = cloudRecordLayout(uint32_t(r.pointFormat_), uint32_t(r.recordLength_));
    r.buffer_.assign(std::max<std::size_t>(1, std::size_t(r.recordLength_)), 0);
    if (r.recordLength_ < kMinRecordLength) r.error_ = "point records shorter than 20 bytes";
    r.ok_ = r.recordLength_ >= kMinRecordLength && r.pointCount_ > 0;
  } catch (const std::exception& e) {
    r.reader_.reset();
    r.ok_ = false;
    r.error_ = e.what();
  }
  return r;
}

void LazTileReader::setDecodeThreads(int threads) {
  if (reader_) reader_->setDecodeThreads(threads);
}

void LazTileReader::close() {
  reader_.reset();
  buffer_.clear();
  buffer_.shrink_to_fit();
  ok_ = false;
}

bool readCloudPoint(LazTileReader& r, CloudPoint& out) {
  if (!r.ok_ || !r.reader_) return false;
  try {
    if (!r.reader_->readPoint(r.buffer_.data())) return false;
  } catch (const std::exception&) {
    return false;
  }
  out = decodeCloudPoint(r.buffer_.data(), r.layout_, r.scale_, r.offset_);
  return true;
}

// ---- loaders ----

void loadGroundAndWater(LazTileReader& reader, GroundWaterContext& ctx) {
  const bool convert = ctx.tile.epsg != 0 && ctx.tile.epsg != kEpsgPl1992;
  CloudPoint p;
  for (int64_t i = 0; i < reader.pointCount() && readCloudPoint(reader, p); ++i) {
    ++ctx.total;
    if (p.classification == kClassGround) {
      ++ctx.groundTotal;
    } else if (p.classification != kClassWater) {
      continue;
    }
    if (convert) std::tie(p.x, p.y) = pl2000ToPl1992(p.x, p.y, ctx.tile.epsg);
    if (!inside(ctx.frame, p.x, p.y)) continue;
    (p.classification == kClassGround ? ctx.ground : ctx.water).push_back(p);
  }
}

std::vector<CloudPoint> loadPointsInFrame(const std::vector<std::string>& paths, const Bbox& frame) {
  std::vector<CloudPoint> out;
  for (const std::string& path : paths) {
    LazTileReader reader = LazTileReader::open(path);
    CloudPoint p;
    for (int64_t i = 0; i < reader.pointCount() && readCloudPoint(reader, p); ++i)
      if (inside(frame, p.x, p.y)) out.push_back(p);
    reader.close();
  }
  return out;
}

// ---- CloudAccumulator ----

std::size_t CloudAccumulator::VoxelHash::operator()(const VoxelKey& key) const noexcept {
  auto fnv1a = [](int64_t word) {
    uint64_t v = uint64_t(word);
    uint64_t h = 0xcbf29ce484222325ull;
    for (int i = 0; i < 8; ++i) {
      h ^= (v >> (8 * i)) & 0xFF;
      h *= 0x100000001b3ull;
    }
    return h;
  };
  uint64_t seed = 0;
  for (int64_t w : {key.i, key.j, key.k}) seed ^= fnv1a(w) + 0x9e3779b97f4a7c15ull + (seed << 6) + (seed >> 2);
  return std::size_t(seed);
}

CloudAccumulator::CloudAccumulator(const Bbox& frame, int zoneEpsg, double voxelSize)
    : frame_(frame), zoneEpsg_(zoneEpsg), voxelSize_(voxelSize), voxels_(8) {
  voxels_.max_load_factor(1.0f);
  if (zoneEpsg_ != 0) affine_ = makeLocalAffine(frame.minX, frame.minY, frame.maxX, frame.maxY, zoneEpsg_);
  const std::pair<double, double> corners[4] = {
      applyLocalAffine(affine_, frame.minX, frame.minY), applyLocalAffine(affine_, frame.maxX, frame.minY),
      applyLocalAffine(affine_, frame.minX, frame.maxY), applyLocalAffine(affine_, frame.maxX, frame.maxY)};
  originX_ = corners[0].first;
  originY_ = corners[0].second;
  for (const auto& [e, n] : corners) {
    originX_ = std::min(originX_, e);
    originY_ = std::min(originY_, n);
  }
}

void CloudAccumulator::setOrigin(double x, double y, double z) {
  originX_ = x;
  originY_ = y;
  originZ_ = z;
}

void CloudAccumulator::addPoint(double x, double y, double z, uint8_t red, uint8_t green, uint8_t blue) {
  if (!inside(frame_, x, y) || !std::isfinite(z)) return;
  const auto [e, n] = applyLocalAffine(affine_, x, y);
  const double lx = e - originX_, ly = n - originY_, lz = z - originZ_;
  if (voxelSize_ > 0) {
    const VoxelKey key{voxelIndex(lx / voxelSize_), voxelIndex(ly / voxelSize_), voxelIndex(lz / voxelSize_)};
    if (!voxels_.insert(key).second) return;  // the first point to reach a voxel wins
  }
  points_.push_back(CloudPoint{lx, ly, lz, red, green, blue, 0});
}

void feedAccumulator(LazTileReader& reader, int tileEpsg, CloudAccumulator& acc, std::size_t limit) {
  const bool zoned = isPl2000(tileEpsg);
  Bbox clip;
  if (zoned) {
    clip = pl2000BoxOf(acc.frame(), tileEpsg);
    clip.minX -= 2.0;
    clip.minY -= 2.0;
    clip.maxX += 2.0;
    clip.maxY += 2.0;
  }
  CloudPoint p;
  for (int64_t i = 0; i < reader.pointCount() && readCloudPoint(reader, p); ++i) {
    if (zoned) {
      if (!inside(clip, p.x, p.y)) continue;
      std::tie(p.x, p.y) = pl2000ToPl1992(p.x, p.y, tileEpsg);
    }
    acc.addPoint(p.x, p.y, p.z, p.red, p.green, p.blue);
    if (acc.points().size() > limit) throw HardLimitExceeded();
  }
}

}  // namespace veldra
