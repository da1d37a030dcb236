#include "net/NationalIndexes.h"

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <utility>

#include "net/Endpoints.h"
#include "net/OgcClient.h"

namespace veldra {

namespace {

constexpr std::string_view kUrlTag = "gugik:url_do_pobrania>";
constexpr std::string_view kMemberTag = "<wfs:member";

std::string_view trimBlanks(std::string_view s) {
  auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (!s.empty() && blank(s.front())) s.remove_prefix(1);
  while (!s.empty() && blank(s.back())) s.remove_suffix(1);
  return s;
}

// Text between "gugik:<name>>" (first at or after `from`, starting before
// `limit`) and the next "</gugik:".
std::string fieldValue(std::string_view body, std::string_view name, std::size_t from,
                       std::size_t limit = std::string_view::npos) {
  const std::string open = "gugik:" + std::string(name) + ">";
  const std::size_t at = body.find(open, from);
  if (at == std::string_view::npos || at >= limit) return {};
  const std::size_t start = at + open.size();
  const std::size_t end = body.find("</gugik:", start);
  if (end == std::string_view::npos) return {};
  return std::string(trimBlanks(body.substr(start, end - start)));
}

// Calls `take(memberStart, memberEnd, urlPos)` for every url field until it
// answers false. A member's other fields are looked for only up to the next
// member, so a member lacking one never takes its neighbour's.
template <typename Take>
void scanMembers(std::string_view body, Take take) {
  std::size_t pos = 0;
  while (true) {
    const std::size_t hit = body.find(kUrlTag, pos);
    if (hit == std::string_view::npos) return;
    const std::size_t member = body.rfind(kMemberTag, hit);
    const std::size_t memberStart = member == std::string_view::npos ? 0 : member;
    const std::size_t memberEnd = body.find(kMemberTag, hit);
    if (!take(memberStart, memberEnd, hit == 0 ? 0 : hit - 1)) return;
    pos = hit + 20;
  }
}

bool isHttp(const std::string& url) { return url.rfind("http", 0) == 0; }

const std::string& serviceOf(NationalIndex index) {
  switch (index) {
    case NationalIndex::Nmt: return endpoints::url(endpoints::Service::NmtIndexWfs);
    case NationalIndex::Nmpt: return endpoints::url(endpoints::Service::NmptIndexWfs);
    case NationalIndex::Lidar: break;
  }
  return endpoints::url(endpoints::Service::LidarIndexWfs);
}

template <typename Record>
struct YearWalk {
  std::vector<Record> records;
  int year = 0;
  std::vector<int> failedYears;
};

// No answer at all, or a server error that the retry did not cure.
bool requestFailed(const HttpResponse& r) { return r.status == 0 || r.status >= 500; }

template <typename Record, typename Scan>
YearWalk<Record> queryYears(WfsClient& client, NationalIndex index, const Bbox& frame, int firstYear, Scan scan) {
  const IndexInfo info = indexInfo(index);
  const std::string& service = serviceOf(index);
  YearWalk<Record> walk;
  for (int year = firstYear; year >= info.lowestYear; --year) {
    const std::string type = std::string(info.typePrefix) + std::to_string(year);
    const std::string url = buildGetFeatureUrl(service, type, frame, kIndexMaxSheets, 0, true, false, 2180);
    HttpResponse r = client.get(url);
    if (requestFailed(r)) walk.failedYears.push_back(year);
    if (r.status != 200) continue;
    walk.records = scan(r.body);
    if (!walk.records.empty()) {
      walk.year = year;
      return walk;
    }
  }
  return walk;
}

}  // namespace

IndexInfo indexInfo(NationalIndex index) {
  switch (index) {
    case NationalIndex::Nmt: return {"gugik:SkorowidzNMT", 2018};
    case NationalIndex::Nmpt: return {"gugik:SkorowidzNMPT", 2019};
    case NationalIndex::Lidar: break;
  }
  return {"gugik:SkorowidzDanychPomiarowychLIDAR", 2018};
}

int epsgFromUkladXy(std::string_view text) {
  if (text.find("PL-1992") != std::string_view::npos) return 2180;
  if (text.find("PL-2000") == std::string_view::npos) return 0;
  const std::size_t s = text.find('S');
  if (s == std::string_view::npos || s + 1 >= text.size()) return 0;
  const char d = text[s + 1];
  if (d < '5' || d > '8') return 0;
  return 2171 + (d - '0');
}

std::vector<SheetRecord> scanSheetRecords(std::string_view body) {
  std::vector<SheetRecord> out;
  scanMembers(body, [&](std::size_t memberStart, std::size_t memberEnd, std::size_t urlFrom) {
    SheetRecord rec{fieldValue(body, "godlo", memberStart, memberEnd), fieldValue(body, "url_do_pobrania", urlFrom)};
    if (isHttp(rec.url)) out.push_back(std::move(rec));
    return out.size() < static_cast<std::size_t>(kIndexMaxSheets);
  });
  return out;
}

std::vector<LidarTile> scanLidarRecords(std::string_view body) {
  std::vector<LidarTile> out;
  scanMembers(body, [&](std::size_t memberStart, std::size_t memberEnd, std::size_t urlFrom) {
    LidarTile tile;
    tile.url = fieldValue(body, "url_do_pobrania", urlFrom);
    if (isHttp(tile.url)) {
      tile.godlo = fieldValue(body, "godlo", memberStart, memberEnd);
      const std::string density = fieldValue(body, "char_przestrz", memberStart, memberEnd);
      // strtod rather than stod: a text that is not a number reads as 0, never throws.
      tile.density = density.empty() ? 0.0 : std::strtod(density.c_str(), nullptr);
      tile.epsg = epsgFromUkladXy(fieldValue(body, "uklad_xy", memberStart, memberEnd));
      out.push_back(std::move(tile));
    }
    return out.size() < static_cast<std::size_t>(kIndexMaxSheets);
  });
  return out;
}

int currentUtcYear() {
  const std::time_t now = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
  std::tm utc{};
  gmtime_r(&now, &utc);
  return utc.tm_year + 1900;
}

SheetSearch searchNmtIndex(WfsClient& client, const Bbox& frame, int firstYear) {
  auto walk = queryYears<SheetRecord>(client, NationalIndex::Nmt, frame, firstYear, scanSheetRecords);
  return SheetSearch{std::move(walk.records), walk.year, std::move(walk.failedYears)};
}
SheetSearch searchNmtIndex(WfsClient& client, const Bbox& frame) {
  return searchNmtIndex(client, frame, currentUtcYear() + 1);
}

std::string failedYearsNote(std::string_view indexName, const SheetSearch& search) {
  if (search.failedYears.empty()) return {};
  std::string years;
  for (int y : search.failedYears) years += (years.empty() ? "" : ", ") + std::to_string(y);
  const bool one = search.failedYears.size() == 1;
  std::string note = "Skorowidz " + std::string(indexName) + (one ? ": zapytanie o rok " : ": zapytania o lata ") +
                     years + (one ? " nie powiodlo sie" : " nie powiodly sie");
  if (search.year != 0 && search.year < search.failedYears.front())
    return note + " - uzyto starszych danych (" + std::to_string(search.year) + ").";
  return note + ".";
}

std::vector<SheetRecord> queryNmtIndex(WfsClient& client, const Bbox& frame, int firstYear) {
  return searchNmtIndex(client, frame, firstYear).sheets;
}
std::vector<SheetRecord> queryNmtIndex(WfsClient& client, const Bbox& frame) {
  return queryNmtIndex(client, frame, currentUtcYear() + 1);
}
std::vector<SheetRecord> queryNmptIndex(WfsClient& client, const Bbox& frame, int firstYear) {
  return queryYears<SheetRecord>(client, NationalIndex::Nmpt, frame, firstYear, scanSheetRecords).records;
}
std::vector<SheetRecord> queryNmptIndex(WfsClient& client, const Bbox& frame) {
  return queryNmptIndex(client, frame, currentUtcYear() + 1);
}
std::vector<LidarTile> queryLidarIndex(WfsClient& client, const Bbox& frame, int firstYear) {
  return queryYears<LidarTile>(client, NationalIndex::Lidar, frame, firstYear, scanLidarRecords).records;
}
std::vector<LidarTile> queryLidarIndex(WfsClient& client, const Bbox& frame) {
  return queryLidarIndex(client, frame, currentUtcYear() + 1);
}

}  // namespace veldra
