#include "net/BuildingPackages.h"

#include <zip.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>

#include "net/Endpoints.h"
#include "platform/AtomicFile.h"

namespace veldra {

namespace {

constexpr const char* kIndexMarker = "B3DIDX1";
constexpr const char* kPrefixLod1 = "Modele 3D: ";
constexpr const char* kPrefixLod2 = "Budynki LOD2: ";

bool isCountyCode(const std::string& c) {
  return c.size() == 4 && std::all_of(c.begin(), c.end(), [](unsigned char ch) { return std::isdigit(ch); });
}

zip_t* z(void* p) { return static_cast<zip_t*>(p); }

std::string megabytes(std::uint64_t bytes) { return std::to_string(bytes >> 20); }

}  // namespace

std::string packageUrlLod1(const std::string& county, int year) {
  if (!isCountyCode(county)) return {};
  return endpoints::url(endpoints::Service::OpendataDownload) + "/InneDane/Budynki3D/LOD1/" + std::to_string(year) + "/" +
         county.substr(0, 2) + "/" + county + ".zip";
}

std::string packageUrlLod2(const std::string& county) {
  if (!isCountyCode(county)) return {};
  return endpoints::url(endpoints::Service::OpendataDownload) + "/InneDane/Budynki3D/LOD2/" + county + "_gml.zip";
}

std::unique_ptr<ZipPackage> ZipPackage::open(const std::string& path, std::string& error) {
  int code = 0;
  zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
  if (!archive) {
    zip_error_t e;
    zip_error_init_with_code(&e, code);
    error = zip_error_strerror(&e);
    zip_error_fini(&e);
    return nullptr;
  }
  return std::unique_ptr<ZipPackage>(new ZipPackage(archive));
}

ZipPackage::~ZipPackage() { zip_discard(z(zip_)); }

std::vector<std::string> ZipPackage::fileNames() const {
  std::vector<std::string> out;
  const zip_int64_t n = zip_get_num_entries(z(zip_), 0);
  for (zip_int64_t i = 0; i < n; ++i) {
    const char* name = zip_get_name(z(zip_), static_cast<zip_uint64_t>(i), ZIP_FL_ENC_RAW);
    if (!name || !*name) continue;
    const std::string s(name);
    if (s.back() == '/') continue;
    out.push_back(s);
  }
  return out;
}

ZipPackage::Read ZipPackage::read(const std::string& name, std::uint64_t limit, Extent extent) const {
  Read r;
  const zip_int64_t idx = zip_name_locate(z(zip_), name.c_str(), ZIP_FL_ENC_RAW);
  if (idx < 0) {
    r.error = "brak pozycji " + name;
    return r;
  }
  zip_stat_t st;
  zip_stat_init(&st);
  if (extent == Extent::Whole && zip_stat_index(z(zip_), static_cast<zip_uint64_t>(idx), 0, &st) == 0 &&
      (st.valid & ZIP_STAT_SIZE) && st.size > limit) {
    r.status = ReadStatus::TooLarge;
    return r;
  }
  zip_file_t* f = zip_fopen_index(z(zip_), static_cast<zip_uint64_t>(idx), 0);
  if (!f) {
    r.error = zip_strerror(z(zip_));
    return r;
  }
  // The announced size is not trusted: reading goes by chunks and stops one
  // byte past the bound. It only sizes the buffer (within the bound), so a
  // sheet is held once instead of in a doubling string.
  // Deflate expands at most about 1032:1, which caps a lying header further.
  if (extent == Extent::Whole && (st.valid & ZIP_STAT_SIZE) && (st.valid & ZIP_STAT_COMP_SIZE))
    r.bytes.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(st.size, st.comp_size * 1032 + 65536)) + 1);
  char buf[65536];
  const std::uint64_t want = extent == Extent::Whole ? limit + 1 : limit;
  while (r.bytes.size() < want) {
    const std::uint64_t n = std::min<std::uint64_t>(sizeof buf, want - r.bytes.size());
    const zip_int64_t got = zip_fread(f, buf, n);
    if (got < 0) {
      r.error = zip_file_strerror(f);
      zip_fclose(f);
      r.bytes.clear();
      return r;
    }
    if (got == 0) break;
    r.bytes.append(buf, static_cast<std::size_t>(got));
  }
  zip_fclose(f);
  if (extent == Extent::Whole && r.bytes.size() > limit) {
    r.bytes.clear();
    r.bytes.shrink_to_fit();
    r.status = ReadStatus::TooLarge;
    return r;
  }
  r.status = ReadStatus::Ok;
  return r;
}

SheetIndexBuild buildSheetIndex(const ZipPackage& package, const PackageLimits& limits) {
  SheetIndexBuild out;
  for (const std::string& name : package.fileNames()) {
    // The index is tab- and line-separated: such a name could not be read back.
    if (name.find_first_of("\t\r\n") != std::string::npos) {
      out.skipped.push_back(name + ": niedozwolony znak w nazwie");
      continue;
    }
    auto head = package.read(name, limits.headBytes, ZipPackage::Extent::Head);
    Bbox env;
    bool found = head.status == ZipPackage::ReadStatus::Ok && scanEnvelope(head.bytes, env);
    if (head.status == ZipPackage::ReadStatus::Failed) {
      out.corrupt = true;
      out.message = "Uszkodzony arkusz " + name + " (" + head.error + ").";
      return out;
    }
    if (!found) {
      auto whole = package.read(name, limits.maxEntryBytes, ZipPackage::Extent::Whole);
      if (whole.status == ZipPackage::ReadStatus::Failed) {
        out.corrupt = true;
        out.message = "Uszkodzony arkusz " + name + " (" + whole.error + ").";
        return out;
      }
      if (whole.status == ZipPackage::ReadStatus::TooLarge) {
        out.skipped.push_back(name + ": ponad " + megabytes(limits.maxEntryBytes) + " MB po rozpakowaniu");
        continue;
      }
      found = scanEnvelope(whole.bytes, env);
    }
    if (!found || !std::isfinite(env.minX) || !std::isfinite(env.minY) || !std::isfinite(env.maxX) ||
        !std::isfinite(env.maxY))
      continue;
    out.entries.push_back({name, env});
  }
  if (out.entries.empty()) out.message = "Paczka modeli 3D nie zawiera czytelnych arkuszy.";
  return out;
}

std::optional<std::vector<SheetEntry>> readSheetIndex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::string line;
  if (!std::getline(in, line) || line.rfind(kIndexMarker, 0) != 0) return std::nullopt;
  std::vector<SheetEntry> out;
  while (std::getline(in, line)) {
    if (line.empty()) continue;
    const auto tab = line.find('\t');
    if (tab == std::string::npos || tab == 0) return std::nullopt;
    SheetEntry e;
    e.name = line.substr(0, tab);
    char extra = 0;
    const int n = std::sscanf(line.c_str() + tab + 1, "%lf\t%lf\t%lf\t%lf %c", &e.envelope.minX, &e.envelope.minY,
                              &e.envelope.maxX, &e.envelope.maxY, &extra);
    if (n != 4) return std::nullopt;
    for (double v : {e.envelope.minX, e.envelope.minY, e.envelope.maxX, e.envelope.maxY})
      if (!std::isfinite(v)) return std::nullopt;
    out.push_back(std::move(e));
  }
  return out;
}

std::string writeSheetIndex(const std::string& path, const std::vector<SheetEntry>& entries) {
  platform::AtomicFile f(path);
  f.append(std::string(kIndexMarker) + "\n");
  char buf[512];
  for (const auto& e : entries) {
    std::snprintf(buf, sizeof buf, "\t%.3f\t%.3f\t%.3f\t%.3f\n", e.envelope.minX, e.envelope.minY, e.envelope.maxX,
                  e.envelope.maxY);
    f.append(e.name);
    f.append(buf);
  }
  if (!f.error().empty()) return f.error();
  return f.commit();
}

std::vector<SheetEntry> sheetsInFrame(const std::vector<SheetEntry>& entries, const Bbox& frame) {
  std::vector<SheetEntry> out;
  for (const auto& e : entries)
    if (e.envelope.minX <= frame.maxX && frame.minX <= e.envelope.maxX && e.envelope.minY <= frame.maxY &&
        frame.minY <= e.envelope.maxY)
      out.push_back(e);
  return out;
}

namespace {

struct SheetsOutcome {
  std::string error;              // the package could not be used
  bool removeFromCache = false;
  bool cancelled = false;
  std::vector<std::string> notes; // sheets left out
};

void removeQuietly(const std::string& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
}

// Opens the package, reads or rebuilds its index, and hands every sheet of
// the frame to `onSheet`, one at a time.
SheetsOutcome readPackageSheets(const std::string& path, const Bbox& frame, const PackageLimits& limits,
                                const PackageProgress& progress,
                                const std::function<void(std::string_view)>& onSheet) {
  SheetsOutcome out;
  std::string why;
  const auto package = ZipPackage::open(path, why);
  if (!package) {
    out.error = "Nie mozna otworzyc paczki modeli 3D: " + path;
    out.removeFromCache = true;
    return out;
  }
  const std::string indexPath = path + ".idx";
  auto entries = readSheetIndex(indexPath);
  if (entries) {
    // An index that names an entry the package lacks belongs to another package.
    const auto names = package->fileNames();
    const std::set<std::string> have(names.begin(), names.end());
    for (const auto& e : *entries)
      if (!have.count(e.name)) {
        entries.reset();
        break;
      }
  }
  if (!entries || entries->empty()) {
    SheetIndexBuild built = buildSheetIndex(*package, limits);
    for (const auto& s : built.skipped) out.notes.push_back("pominieto arkusz " + s + ".");
    if (built.corrupt || built.entries.empty()) {
      out.error = built.message;
      out.removeFromCache = true;
      return out;
    }
    writeSheetIndex(indexPath, built.entries);   // a failure only costs a rebuild next time
    entries = std::move(built.entries);
  }
  const auto inFrame = sheetsInFrame(*entries, frame);
  const int total = static_cast<int>(inFrame.size());
  for (int i = 0; i < total; ++i) {
    if (progress.sheets && !progress.sheets(i, total)) {
      out.cancelled = true;
      return out;
    }
    const auto& sheet = inFrame[static_cast<std::size_t>(i)];
    auto r = package->read(sheet.name, limits.maxEntryBytes, ZipPackage::Extent::Whole);
    if (r.status == ZipPackage::ReadStatus::TooLarge) {
      out.notes.push_back("pominieto arkusz " + sheet.name + ": ponad " + megabytes(limits.maxEntryBytes) +
                          " MB po rozpakowaniu.");
      continue;
    }
    if (r.status == ZipPackage::ReadStatus::Failed) {
      out.error = "Uszkodzony arkusz " + sheet.name + " (" + r.error + ").";
      out.removeFromCache = true;
      return out;
    }
    onSheet(r.bytes);
  }
  if (progress.sheets) progress.sheets(total, total);
  return out;
}

// The failure notice; a corrupt package and its index leave the cache.
std::string failureNote(const char* prefix, const SheetsOutcome& o, const std::string& path) {
  std::string note = prefix + o.error;
  if (o.removeFromCache) {
    removeQuietly(path);
    removeQuietly(path + ".idx");
    note += " Uszkodzona paczka zostala usunieta z cache - sprobuj ponownie.";
  }
  return note;
}

std::string joinNotes(const char* prefix, const std::vector<std::string>& notes) {
  std::string s;
  for (const auto& n : notes) s += std::string(" ") + prefix + n;
  return s;
}

// Shared start of both fetches: the county notices.
std::string countyProblem(const char* prefix, const std::string& county) {
  if (county.empty()) return std::string(prefix) + "nie udalo sie ustalic powiatu dla tego kadru.";
  if (!isCountyCode(county)) return std::string(prefix) + "nieprawidlowy kod TERYT dla tego kadru.";
  return {};
}

// The buildings of the package's sheets in the frame, appended to `out`. A
// failure empties them and becomes the notice; otherwise the sheets' own notes
// come back for the summary.
struct BuildingSheets {
  bool cancelled = false;
  std::string failure, notes;
};

template <class Building>
BuildingSheets readBuildings(const std::string& path, const Bbox& frame, const PackageLimits& limits,
                             const PackageProgress& progress, const char* prefix,
                             std::vector<Building> (*parse)(std::string_view, const Bbox&),
                             std::vector<Building>& out) {
  const SheetsOutcome o = readPackageSheets(path, frame, limits, progress, [&](std::string_view gml) {
    auto part = parse(gml, frame);
    std::move(part.begin(), part.end(), std::back_inserter(out));
  });
  BuildingSheets r;
  r.cancelled = o.cancelled;
  if (!o.error.empty()) {
    out.clear();
    r.failure = failureNote(prefix, o, path);
  } else {
    r.notes = joinNotes(prefix, o.notes);
  }
  return r;
}

}  // namespace

Buildings3dFetch fetchBuildings3d(WfsClient& client, const std::string& county, const Bbox& frame,
                                  const PackageProgress& progress, const PackageLimits& limits) {
  Buildings3dFetch out;
  out.note = countyProblem(kPrefixLod1, county);
  if (!out.note.empty()) return out;
  std::string path;
  for (int year : kLod1Years) {
    std::string error;
    path = client.getCachedFile(packageUrlLod1(county, year), progress.download, 120000, error);
    if (error == "Pobieranie anulowane.") {
      out.cancelled = true;
      out.note = kPrefixLod1 + error;
      return out;
    }
    if (!path.empty()) {
      out.year = year;
      break;
    }
  }
  if (path.empty()) {
    out.note = std::string(kPrefixLod1) + "brak paczki dla powiatu " + county;
    return out;
  }
  const BuildingSheets s = readBuildings(path, frame, limits, progress, kPrefixLod1, &parseLod1Buildings, out.buildings);
  out.cancelled = s.cancelled;
  out.note = !s.failure.empty() ? s.failure
                                : "Modele 3D: LOD1 " + std::to_string(out.year) + ", powiat " + county +
                                      ", budynkow w kadrze: " + std::to_string(out.buildings.size()) + s.notes;
  return out;
}

BuildingsLod2Fetch fetchBuildingsLod2(WfsClient& client, const std::string& county, const Bbox& frame,
                                      const PackageProgress& progress, const PackageLimits& limits) {
  BuildingsLod2Fetch out;
  out.note = countyProblem(kPrefixLod2, county);
  if (!out.note.empty()) return out;
  std::string error;
  const std::string path = client.getCachedFile(packageUrlLod2(county), progress.download, 120000, error);
  if (path.empty()) {
    out.cancelled = error == "Pobieranie anulowane.";
    out.note = std::string(kPrefixLod2) + (out.cancelled ? error : "brak paczki dla powiatu " + county);
    return out;
  }
  const BuildingSheets s = readBuildings(path, frame, limits, progress, kPrefixLod2, &parseLod2Buildings, out.buildings);
  out.cancelled = s.cancelled;
  out.note = !s.failure.empty() ? s.failure
                                : "Budynki LOD2: powiat " + county + ", budynkow w kadrze: " +
                                      std::to_string(out.buildings.size()) + s.notes;
  return out;
}

}  // namespace veldra
