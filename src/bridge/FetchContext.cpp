#include "bridge/FetchContext.h"

#include <algorithm>
#include <utility>

#include "bridge/NdsmModelLoad.h"
#include "net/HttpTransport.h"
#include "net/NationalIndexes.h"
#include "place/FetchedData.h"

namespace veldra {

namespace {
constexpr long kSheetTimeoutMs = 240000;
}

bool FetchRequest::has(std::string_view key) const {
  return std::find(keys.begin(), keys.end(), key) != keys.end();
}

FetchContext::FetchContext(FetchRequest request, FetchServices services, FetchEvents events,
                           const std::atomic<bool>& cancel)
    : request_(std::move(request)), services_(services), events_(std::move(events)), cancel_(cancel),
      localServices_(loadLocalServices()) {
  for (const auto& problem : localServices_.problems) report("VELDRA: " + problem);
}

void FetchContext::note(const std::string& text) { appendNote(notes_, text); }

void FetchContext::noteOnce(const std::string& text) {
  if (std::find(notesGiven_.begin(), notesGiven_.end(), text) != notesGiven_.end()) return;
  notesGiven_.push_back(text);
  note(text);
}

void FetchContext::progress(int done, int total, const std::string& label) const {
  if (events_.progress) events_.progress(done, total, label);
}

void FetchContext::cancellableProgress(int done, int total, const std::string& label) const {
  if (events_.cancellableProgress) events_.cancellableProgress(done, total, label);
}

void FetchContext::report(const std::string& line) const {
  if (events_.report) events_.report(line);
}

TileProgressFn FetchContext::tileProgress(const std::string& label) const {
  return [this, label](int done, int total) { progress(done, total, label); };
}

const std::string& FetchContext::municipality() {
  if (!municipality_) municipality_ = resolveMunicipality(client(), services_.municipalities, frame());
  return *municipality_;
}

const FetchContext::NmtSheets& FetchContext::nmtSheets(const std::string& progressLabel) {
  if (nmt_) return *nmt_;
  NmtSheets sheets;
  const SheetSearch search = searchNmtIndex(client(), frame());
  // Said once, whichever phase loads the sheets: a year that failed is not
  // the same as a year without data.
  note(failedYearsNote("NMT", search));
  const std::vector<SheetRecord>& records = search.sheets;
  sheets.indexed = !records.empty();
  const int n = static_cast<int>(records.size());
  sheets.records = records;
  sheets.gridOfRecord.assign(records.size(), -1);
  for (int i = 0; i < n && !cancelled(); ++i) {
    progress(i, n, progressLabel);
    std::string error;
    const std::string path = client().getCachedFile(records[static_cast<std::size_t>(i)].url, {}, kSheetTimeoutMs, error);
    if (path.empty()) continue;
    ElevationGrid grid;
    if (!readAsciiGrid(path, grid)) continue;
    sheets.gridOfRecord[static_cast<std::size_t>(i)] = static_cast<int>(sheets.grids.size());
    sheets.grids.push_back(std::move(grid));
  }
  nmt_ = std::move(sheets);
  return *nmt_;
}

const NdsmModel& FetchContext::ndsmModel() {
  if (!ndsm_) ndsm_ = loadNdsmModel(client(), frame(), nmt_ ? &*nmt_ : nullptr);
  return *ndsm_;
}

}  // namespace veldra
