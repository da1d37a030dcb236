#include "cleanup/PolylineCleaner.h"

#include <cstdio>

#include "cleanup/DuplicateScan.h"
#include "cleanup/ElementReading.h"

namespace veldra::PolylineCleaner {

namespace {

constexpr const char* kRun = "Uruchom";
constexpr const char* kUndoTitle = "Usun duplikaty (polilinie + teksty)";

void inform(Host& host, std::string text) {
  host.showAlert(AlertRequest{AlertKind::Information, "", std::move(text), {"OK"}});
}

}  // namespace

Outcome RunRemoveDuplicatesCommand(Host& host) {
  AlertRequest ask;
  ask.kind = AlertKind::Warning;
  ask.title = "Czyszczenie duplikatow";
  ask.text =
      "Usuwa zduplikowane POLILINIE i TEKSTY (ta sama geometria/tresc, pozycja i warstwa). Z kazdej grupy duplikatow "
      "zostaje jeden element, reszta jest kasowana.\n\nDziala na ZAZNACZENIU; gdy nic nie zaznaczono - na wszystkich "
      "poliliniach i tekstach aktywnego rzutu. Operacja cofalna (Undo).";
  ask.buttons = {kRun, "Anuluj"};
  const int answer = host.showAlert(ask);
  if (answer < 1 || static_cast<std::size_t>(answer) > ask.buttons.size() || ask.buttons[answer - 1] != kRun)
    return Outcome{};

  std::vector<std::string> selected;
  const bool useSelection = host.getSelection(selected) == kHostOk && !selected.empty();
  const auto source = useSelection ? cleanup::ElementSource::Selection : cleanup::ElementSource::ActiveFloor;
  const auto polylines = cleanup::collectElements(host, ElementType::Polyline, source);
  const auto texts = cleanup::collectElements(host, ElementType::Text, source);
  return removeDuplicatesAmong(host, polylines, texts);
}

Outcome removeDuplicatesAmong(Host& host, const std::vector<std::string>& polylines,
                              const std::vector<std::string>& texts) {
  Outcome out;
  if (polylines.empty() && texts.empty()) {
    inform(host, "Brak polilinii i tekstow do sprawdzenia.");
    out.result = Outcome::Result::NothingToCheck;
    return out;
  }
  const cleanup::DuplicateScan scan = cleanup::scanDuplicates(host, polylines, texts);
  if (scan.duplicatePolylines.empty() && scan.duplicateTexts.empty()) {
    inform(host, "Nie znaleziono zduplikowanych polilinii ani tekstow.");
    out.result = Outcome::Result::NoDuplicates;
    return out;
  }
  std::vector<std::string> doomed = scan.duplicatePolylines;
  doomed.insert(doomed.end(), scan.duplicateTexts.begin(), scan.duplicateTexts.end());
  const HostErr rc = host.runUndoableCommand(kUndoTitle, [&] { return host.deleteElements(doomed); });
  if (rc != kHostOk) {
    inform(host,
           "Nie udalo sie usunac duplikatow - sprawdz, czy elementy nie leza na zablokowanej warstwie lub nie sa "
           "zablokowane/zgrupowane.");
    out.result = Outcome::Result::Refused;
    out.error = rc;
    return out;
  }
  out.result = Outcome::Result::Removed;
  out.deletedPolylines = scan.duplicatePolylines.size();
  out.deletedTexts = scan.duplicateTexts.size();
  char text[128];
  std::snprintf(text, sizeof text, "Usunieto duplikaty:\n- polilinie: %d\n- teksty: %d",
                static_cast<int>(out.deletedPolylines), static_cast<int>(out.deletedTexts));
  inform(host, text);
  return out;
}

}  // namespace veldra::PolylineCleaner
