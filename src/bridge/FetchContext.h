// What the phases of one fetch read and share: the request, the service
// clients, the notes, progress and report posting, the cancel flag, and what
// one phase leaves for later ones (the parsed NMT sheets). A phase reads the
// context and writes only its own results into FetchedData.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "geo/Bbox.h"
#include "net/LocalServices.h"
#include "net/NationalIndexes.h"
#include "net/OgcClient.h"
#include "net/ServiceDirectory.h"
#include "net/WfsClient.h"
#include "terrain/ElevationGrid.h"
#include "terrain/NdsmModel.h"

namespace veldra {

// The page's "fetch" message, read and checked.
struct FetchRequest {
  Bbox frame{};
  std::vector<std::string> keys;
  int rasterScale = 1000;
  int terrainStep = 1;
  double contourCut = 1.0;
  bool smoothContours = false;
  double cloudTerrainStep = 1.0;
  int zone = 2180;   // EPSG of the project's PL-2000 zone

  bool has(std::string_view key) const;
};

// How the fetch reaches the page and the report window; each may be empty.
struct FetchEvents {
  std::function<void(int done, int total, const std::string& label)> progress;
  std::function<void(int done, int total, const std::string& label)> cancellableProgress;
  std::function<void(const std::string& line)> report;
};

// The controller's long-lived service state, used by the fetch worker alone
// while a fetch runs.
struct FetchServices {
  WfsClient& client;
  OgcClient& ogc;
  MunicipalityCache& municipalities;
};

class FetchContext {
 public:
  FetchContext(FetchRequest request, FetchServices services, FetchEvents events, const std::atomic<bool>& cancel);

  const FetchRequest& request() const { return request_; }
  const Bbox& frame() const { return request_.frame; }
  bool has(std::string_view key) const { return request_.has(key); }
  WfsClient& client() { return services_.client; }
  OgcClient& ogc() { return services_.ogc; }

  void note(const std::string& text);
  // A note that several phases may give (the shared municipality failure).
  void noteOnce(const std::string& text);
  std::string takeNotes() { return std::move(notes_); }
  // Notes of a phase the user cancelled describe a partial state; the
  // pipeline drops them (see runFetchPhases).
  std::size_t notesSize() const { return notes_.size(); }
  void dropNotesAfter(std::size_t size) { notes_.resize(std::min(size, notes_.size())); }

  void progress(int done, int total, const std::string& label) const;
  // progress() as a callable, for the steps a phase hands its progress to.
  std::function<void(int done, int total, const std::string& label)> progressFn() const {
    return [this](int done, int total, const std::string& label) { progress(done, total, label); };
  }
  void cancellableProgress(int done, int total, const std::string& label) const;
  void report(const std::string& line) const;
  TileProgressFn tileProgress(const std::string& label) const;

  bool cancelled() const { return cancel_.load(); }
  const std::atomic<bool>& cancelFlag() const { return cancel_; }

  // The municipality code of the frame, resolved once; empty when unknown.
  const std::string& municipality();
  // The user's own service addresses, read at the start of the fetch.
  const LocalServiceFile& localServices() const { return localServices_; }

  // The NMT sheets of the frame, downloaded and parsed by the first phase
  // that asks; later phases get the same grids without a second download.
  struct NmtSheets {
    bool indexed = false;   // the index named at least one sheet
    std::vector<ElevationGrid> grids;
    std::vector<SheetRecord> records;   // as the index named them
    std::vector<int> gridOfRecord;      // per record: its grid, or -1 when it did not load
  };
  const NmtSheets& nmtSheets(const std::string& progressLabel);

  // The surface model of the frame, loaded by the first phase that asks
  // (reusing the NMT sheets read so far); later calls give the same outcome.
  const NdsmModel& ndsmModel();

 private:
  FetchRequest request_;
  FetchServices services_;
  FetchEvents events_;
  const std::atomic<bool>& cancel_;
  std::string notes_;
  std::vector<std::string> notesGiven_;
  std::optional<std::string> municipality_;
  LocalServiceFile localServices_;
  std::optional<NmtSheets> nmt_;
  std::optional<NdsmModel> ndsm_;
};

}  // namespace veldra
