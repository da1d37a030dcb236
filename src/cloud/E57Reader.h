// Reads the first scan of an ASTM E57 file: its Cartesian points (single or double precision,
// or scaled integers), colour and intensity when the scan has them, with the scan's pose
// applied. Made for the files our writer produces and for plain files of the same shape
// (bit-packed streams, no codecs). Every page's CRC-32C is checked as it is read.
//
// Reading is streamed: at most `maxPoints` points are kept (every k-th record, k chosen from
// the record count), and apart from them only one page and one packet are held, so a cloud of
// any size is shown thinned without being loaded. Every size the file announces (lengths,
// offsets, record count, packet and stream lengths) is checked before it is used: a damaged or
// hostile file ends in `error`, never in a crash, a hang or an unbounded allocation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace veldra {

struct E57Point {
  double x = 0, y = 0, z = 0;  // metres, pose applied
  float intensity = 0;         // 0..1 when the scan has intensity
  uint8_t red = 0, green = 0, blue = 0;
};

struct E57ReadOptions {
  std::size_t maxPoints = 300000;  // at most this many come out (0: none, only the facts)
};

struct E57Cloud {
  std::vector<E57Point> points;
  uint64_t recordCount = 0;  // records in the scan
  uint64_t stride = 1;       // every stride-th record was kept
  bool hasColor = false;
  bool hasIntensity = false;
  std::string error;         // empty on success; Polish text for the user
};

E57Cloud readE57File(const std::filesystem::path& path, const E57ReadOptions& options = {});
E57Cloud readE57Bytes(std::string_view bytes, const E57ReadOptions& options = {});

}  // namespace veldra
