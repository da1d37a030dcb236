#include "bridge/NdsmModelLoad.h"

#include "net/NationalIndexes.h"

namespace veldra {

namespace {

bool readSheet(WfsClient& client, const SheetRecord& sheet, ElevationGrid& out) {
  const std::string text = client.getTextCached(sheet.url, kNdsmSheetTimeoutMs);
  return !text.empty() && parseAsciiGrid(text, out);
}

}  // namespace

NdsmModel loadNdsmModel(WfsClient& client, const Bbox& frame, const FetchContext::NmtSheets* nmt) {
  NdsmModel model;
  model.tried = true;
  const std::vector<SheetRecord> groundSheets = nmt ? nmt->records : queryNmtIndex(client, frame);
  if (groundSheets.empty()) return model;
  const std::vector<SheetRecord> surfaceSheets = queryNmptIndex(client, frame);
  if (surfaceSheets.empty()) return model;
  model.covered = true;

  bool ground = false;
  if (nmt) {
    const int first = nmt->gridOfRecord.empty() ? -1 : nmt->gridOfRecord.front();
    if (first >= 0) {
      model.ground = nmt->grids[static_cast<std::size_t>(first)];
      ground = true;
    }
  } else {
    ground = readSheet(client, groundSheets.front(), model.ground);
  }
  // Both or nothing: a model with one grid would sample as if it had none.
  if (!ground || !readSheet(client, surfaceSheets.front(), model.surface)) {
    model.ground = {};
    model.surface = {};
    return model;
  }
  model.parsed = true;
  return model;
}

std::string ndsmModelNote(const NdsmModel& model, const std::string& prefix) {
  if (!model.covered) return prefix + "brak pokrycia nMPT lub NMT dla tego kadru.";
  if (!model.parsed) return prefix + "nie udalo sie sparsowac kafli nMPT/NMT.";
  return {};
}

}  // namespace veldra
