// County packages of 3D buildings: their addresses, the ZIP reading, the sheet
// index kept beside a package in the cache, and the fetch of a frame's LOD1
// and LOD2 buildings.
//
// Entry names inside a package are only ever keys into the archive: nothing is
// extracted to a path. Every entry is read with a size bound, whatever the
// archive announces.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/CityGml.h"
#include "geo/Bbox.h"
#include "net/WfsClient.h"

namespace veldra {

// LOD1 years, tried in this order; the first package that downloads is used.
inline constexpr int kLod1Years[] = {2024, 2022, 2021, 2019};

// Empty unless `county` is exactly four decimal digits.
std::string packageUrlLod1(const std::string& county, int year);
std::string packageUrlLod2(const std::string& county);

struct SheetEntry {
  std::string name;   // entry name inside the ZIP
  Bbox envelope;      // the package's coordinate system
};

struct PackageLimits {
  std::size_t headBytes = 8192;                          // read first for the envelope
  std::uint64_t maxEntryBytes = std::uint64_t{1} << 30;  // larger entries are refused (zip bombs)
};

class ZipPackage {
 public:
  // Null with `error` set when the file is not a readable ZIP (truncated,
  // inconsistent central directory...).
  static std::unique_ptr<ZipPackage> open(const std::string& path, std::string& error);
  ~ZipPackage();
  ZipPackage(const ZipPackage&) = delete;
  ZipPackage& operator=(const ZipPackage&) = delete;

  // Names of the file entries, archive order (folders left out).
  std::vector<std::string> fileNames() const;

  enum class ReadStatus { Ok, TooLarge, Failed };
  struct Read {
    ReadStatus status = ReadStatus::Failed;
    std::string bytes;
    std::string error;
  };
  // At most `limit` bytes of an entry. Whole: more than `limit` is TooLarge
  // (reading stops there); a head read just stops.
  enum class Extent { Head, Whole };
  Read read(const std::string& name, std::uint64_t limit, Extent extent) const;

 private:
  explicit ZipPackage(void* archive) : zip_(archive) {}
  void* zip_;
};

struct SheetIndexBuild {
  std::vector<SheetEntry> entries;
  std::string message;              // empty, or why nothing could be indexed
  std::vector<std::string> skipped; // entries left out: name and reason
  bool corrupt = false;             // an entry failed to decompress
};

// Each file entry's first GML envelope, from its head and, when the head has
// none, from the whole entry. Entries without one are left out.
SheetIndexBuild buildSheetIndex(const ZipPackage& package, const PackageLimits& limits = {});

// Index file: "B3DIDX1" line, then name TAB minX TAB minY TAB maxX TAB maxY.
// Nothing when the file is missing, its first line does not begin with the
// marker, or any row does not read back as a name and four finite numbers.
std::optional<std::vector<SheetEntry>> readSheetIndex(const std::string& path);
// Written through a temporary file; empty or the reason.
std::string writeSheetIndex(const std::string& path, const std::vector<SheetEntry>& entries);

// Entries whose envelope meets the frame; touching edges count.
std::vector<SheetEntry> sheetsInFrame(const std::vector<SheetEntry>& entries, const Bbox& frame);

// (sheets done, sheets in the frame); the download reports bytes through the
// client's ProgressFn. Either may cancel by answering false.
struct PackageProgress {
  ProgressFn download;
  std::function<bool(int done, int total)> sheets;
};

struct Buildings3dFetch {
  std::vector<Building3D> buildings;
  int year = 0;
  std::string note;   // the summary or the failure, prefixed for the notices
  bool cancelled = false;
};

struct BuildingsLod2Fetch {
  std::vector<BuildingLod2> buildings;
  std::string note;
  bool cancelled = false;
};

// `county` is the frame's county TERYT code, empty when it could not be
// found. A package that cannot be opened, indexed or read is removed from the
// cache with its index, so that the next fetch downloads it again.
Buildings3dFetch fetchBuildings3d(WfsClient& client, const std::string& county, const Bbox& frame,
                                  const PackageProgress& progress = {}, const PackageLimits& limits = {});
BuildingsLod2Fetch fetchBuildingsLod2(WfsClient& client, const std::string& county, const Bbox& frame,
                                      const PackageProgress& progress = {}, const PackageLimits& limits = {});

}  // namespace veldra
