// Uniform points from one LAS/LAZ tile, and the three ways the pipelines gather them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <exception>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "cloud/CloudPoint.h"
#include "geo/LidarTile.h"
#include "geo/Bbox.h"
#include "geo/Projections.h"

namespace veldra {

namespace las {
class LasReader;
}

// Where colour and classification sit in a record; -1 when the record does not carry them.
struct CloudRecordLayout {
  int rgbOffset = -1;
  int classOffset = -1;
};

CloudRecordLayout cloudRecordLayout(uint32_t pointFormat, uint32_t recordLength);

// Decodes one raw record of at least 20 bytes (and at least layout's offsets + their widths).
CloudPoint decodeCloudPoint(const uint8_t* record, const CloudRecordLayout& layout, const double scale[3],
                            const double offset[3]);

// One open tile. Opening never throws; a tile that cannot be used has ok() false.
class LazTileReader {
 public:
  static LazTileReader open(const std::string& path);

  LazTileReader();
  ~LazTileReader();
  LazTileReader(LazTileReader&&) noexcept;
  LazTileReader& operator=(LazTileReader&&) noexcept;

  void close();
  // Threads that decode the chunks of a compressed tile (default: las::decodeThreads()); before
  // the first point only.
  void setDecodeThreads(int threads);

  // True when the file opened, its records are at least 20 bytes and it announces points.
  bool ok() const { return ok_; }
  int64_t pointCount() const { return pointCount_; }
  int32_t pointFormat() const { return pointFormat_; }
  int32_t recordLength() const { return recordLength_; }
  const CloudRecordLayout& layout() const { return layout_; }
  const double* scale() const { return scale_; }
  const double* offset() const { return offset_; }
  // Why the file could not be used; empty when ok() or when it merely holds no points.
  const std::string& error() const { return error_; }
  // The decoder, for header facts; null when the file did not open.
  const las::LasReader* lasReader() const { return reader_.get(); }

 private:
  friend bool readCloudPoint(LazTileReader& reader, CloudPoint& out);

  std::unique_ptr<las::LasReader> reader_;
  bool ok_ = false;
  int64_t pointCount_ = 0;
  double scale_[3] = {1.0, 1.0, 1.0};
  double offset_[3] = {0.0, 0.0, 0.0};
  int32_t pointFormat_ = 0;
  int32_t recordLength_ = 0;
  CloudRecordLayout layout_;
  std::vector<uint8_t> buffer_;
  std::string error_;
};

// Next point of the tile; false at the end of the data, on a corrupt record or when the tile is not ok.
bool readCloudPoint(LazTileReader& reader, CloudPoint& out);

// Terrain from the cloud: ground (class 2) and water (class 9) points inside a PL-1992 frame.
struct GroundWaterContext {
  LidarTile tile;
  Bbox frame;                     // PL-1992, bounds inclusive
  std::vector<CloudPoint> ground; // PL-1992 coordinates
  std::vector<CloudPoint> water;
  int64_t total = 0;              // points read
  int64_t groundTotal = 0;        // class 2 points read, inside the frame or not
};

// Reads the whole tile; PL-2000 tiles are converted to PL-1992 point by point.
void loadGroundAndWater(LazTileReader& reader, GroundWaterContext& context);

// Every point inside the frame (tile coordinates, bounds inclusive) of each tile in turn.
std::vector<CloudPoint> loadPointsInFrame(const std::vector<std::string>& paths, const Bbox& frame);

// Thrown when a collection outgrows the point limit; carries no data.
struct HardLimitExceeded : std::exception {
  const char* what() const noexcept override { return "point limit exceeded"; }
};

inline constexpr std::size_t kCloudPointLimit = 8'000'000;  // 256,000,000 bytes of points

// Frame-clipped, voxel-thinned points in local coordinates of a PL-2000 zone.
class CloudAccumulator {
 public:
  // frame in PL-1992. zoneEpsg 2176..2179 maps the points into that zone; 0 keeps the input
  // coordinates as they are (the origin then starts at the frame's minimum corner).
  CloudAccumulator(const Bbox& frame, int zoneEpsg, double voxelSize);

  void setOrigin(double x, double y, double z);
  // x and y in PL-1992 (or in the input system when zoneEpsg is 0).
  void addPoint(double x, double y, double z, uint8_t red, uint8_t green, uint8_t blue);

  const std::vector<CloudPoint>& points() const { return points_; }
  std::vector<CloudPoint> takePoints() { return std::move(points_); }
  const Bbox& frame() const { return frame_; }
  int zoneEpsg() const { return zoneEpsg_; }
  double originX() const { return originX_; }
  double originY() const { return originY_; }
  double originZ() const { return originZ_; }

  struct VoxelKey {
    int64_t i, j, k;
    bool operator==(const VoxelKey&) const = default;
  };
  struct VoxelHash {
    std::size_t operator()(const VoxelKey& key) const noexcept;
  };

 private:
  Bbox frame_;
  int zoneEpsg_;
  LocalAffine affine_;
  double voxelSize_;
  double originX_ = 0, originY_ = 0, originZ_ = 0;
  std::unordered_set<VoxelKey, VoxelHash> voxels_;
  std::vector<CloudPoint> points_;
};

// Feeds every point of one tile into the accumulator. Tiles in a PL-2000 zone are first clipped
// to the accumulator's frame expressed in that zone (widened by 2 m) and then converted to PL-1992.
// Throws HardLimitExceeded as soon as the accumulator holds more than `limit` points.
void feedAccumulator(LazTileReader& reader, int tileEpsg, CloudAccumulator& accumulator,
                     std::size_t limit = kCloudPointLimit);

}  // namespace veldra
