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

// What the walk over the years found: the records of the newest year that had
// any, and the years whose request failed (no answer, or a server error after
// the retry) on the way. A year the service does not know (a client error) or
// that has no sheet for the frame is not a failure.
struct SheetSearch {
  std::vector<SheetRecord> sheets;
  int year = 0;                    // where the sheets come from; 0 when none
  std::vector<int> failedYears;    // newest first
};
SheetSearch searchNmtIndex(WfsClient& client, const Bbox& frame);
SheetSearch searchNmtIndex(WfsClient& client, const Bbox& frame, int firstYear);

// The note for a search in which a year's request failed, e.g. "Skorowidz NMT:
// zapytanie o rok 2023 nie powiodlo sie - uzyto starszych danych (2019)."; empty
// when no year failed. `indexName` is the index as users know it ("NMT").
std::string failedYearsNote(std::string_view indexName, const SheetSearch& search);

// The years are tried from `firstYear` down to the index's lowest year.
std::vector<SheetRecord> queryNmtIndex(WfsClient& client, const Bbox& frame);
std::vector<SheetRecord> queryNmtIndex(WfsClient& client, const Bbox& frame, int firstYear);
std::vector<SheetRecord> queryNmptIndex(WfsClient& client, const Bbox& frame);
std::vector<SheetRecord> queryNmptIndex(WfsClient& client, const Bbox& frame, int firstYear);
std::vector<LidarTile> queryLidarIndex(WfsClient& client, const Bbox& frame);
std::vector<LidarTile> queryLidarIndex(WfsClient& client, const Bbox& frame, int firstYear);

}  // namespace veldra
