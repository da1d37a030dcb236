// The point-cloud palette's quality levels and its estimate of the points a frame holds.
#pragma once

#include <cstdint>
#include <string>

namespace veldra {

namespace cloudui {

enum class Detail : int { Lekki = 0, Standard = 1, Full = 2 };

// "lekki", "full"; any other text is "standard".
Detail parseDetail(const std::string& text);
// Edge of the thinning voxel in metres; 0 keeps every point.
double voxelSize(Detail detail);

}  // namespace cloudui

// Points the download may keep: it holds at most this many (the accumulator's hard limit).
inline constexpr std::int64_t kCloudEstimateLimit = 8'000'000;

struct CloudEstimate {
  std::int64_t points = 0;
  std::int64_t bytes = 0;   // 16 bytes a point, as the page shows it
  bool overLimit = false;
};

// Points of a frame of `areaM2` at `density` points per m², capped at one point per voxel of
// the detail's thinning.
CloudEstimate estimateCloud(double areaM2, double density, cloudui::Detail detail,
                            std::int64_t limit = kCloudEstimateLimit);

}  // namespace veldra
