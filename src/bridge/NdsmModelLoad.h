// Reads the normalised surface model of a frame: the first sheet the NMPT
// index and the NMT index name for it, through the download cache.
#pragma once

#include "bridge/FetchContext.h"
#include "terrain/NdsmModel.h"

namespace veldra {

// Sheets are read within this time without data (they are large).
inline constexpr long kNdsmSheetTimeoutMs = 240000;

// `nmt`: the NMT sheets an earlier phase of the same fetch already read, or
// null. Their index answer and their first grid are used instead of asking
// and reading again; a first sheet that did not load there is not retried.
NdsmModel loadNdsmModel(WfsClient& client, const Bbox& frame, const FetchContext::NmtSheets* nmt);

// The note of a phase (its `prefix`, e.g. "Mosty/drogi: ") about a model it
// cannot use; empty when the model is usable.
std::string ndsmModelNote(const NdsmModel& model, const std::string& prefix);

}  // namespace veldra
