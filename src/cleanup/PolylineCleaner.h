// The menu command that deletes duplicate polylines and texts in one undoable
// step. Runs on the host's main thread; every question and answer goes through
// the host's modal alerts.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "hostapi/Host.h"

namespace veldra::PolylineCleaner {

struct Outcome {
  enum class Result { Cancelled, NothingToCheck, NoDuplicates, Refused, Removed };
  Result result = Result::Cancelled;
  std::size_t deletedPolylines = 0;
  std::size_t deletedTexts = 0;
  HostErr error = kHostOk;   // the host's answer when the deletion was refused
};

// Asks first, then works on the selection or, when nothing is selected, on the
// active floor.
Outcome RunRemoveDuplicatesCommand(Host& host);

// The command after its question, on the given elements.
Outcome removeDuplicatesAmong(Host& host, const std::vector<std::string>& polylines,
                              const std::vector<std::string>& texts);

}  // namespace veldra::PolylineCleaner
