// The national sheet indexes ("Skorowidze") of the terrain model, the surface
// model and the LiDAR data: which sheets cover a frame and where to download
// them. One feature type per acquisition year; only the newest year that has
// any sheet for the frame is used.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "geo/LidarTile.h"
#include "geo/Bbox.h"
#include "net/WfsClient.h"

namespace veldra {

struct SheetRecord {
  std::string godlo;   // map sheet code
  std::string url;     // download address
};

enum class NationalIndex { Nmt, Nmpt, Lidar };

struct IndexInfo {
  std::string_view typePrefix;   // followed by the four-digit year
  int lowestYear;
};
IndexInfo indexInfo(NationalIndex index);

// Sheets returned per query.
inline constexpr int kIndexMaxSheets = 20;

// 2180 for PL-1992, 2176..2179 for PL-2000 zones 5..8 (the digit after the
// first "S" of the text), else 0.
int epsgFromUkladXy(std::string_view ukladXy);

// Plain text scan of one index answer; records in answer order, only those
// whose address starts with "http", at most kIndexMaxSheets.
std::vector<SheetRecord> scanSheetRecords(std::string_view body);
std::vector<LidarTile> scanLidarRecords(std::string_view body);

// Current UTC calendar year.
int currentUtcYear();

// The years are tried from `firstYear` down to the index's lowest year.
std::vector<SheetRecord> queryNmtIndex(WfsClient& client, const Bbox& frame);
std::vector<SheetRecord> queryNmtIndex(WfsClient& client, const Bbox& frame, int firstYear);
std::vector<SheetRecord> queryNmptIndex(WfsClient& client, const Bbox& frame);
std::vector<SheetRecord> queryNmptIndex(WfsClient& client, const Bbox& frame, int firstYear);
std::vector<LidarTile> queryLidarIndex(WfsClient& client, const Bbox& frame);
std::vector<LidarTile> queryLidarIndex(WfsClient& client, const Bbox& frame, int firstYear);

}  // namespace veldra
