// The stand-in host: a project held in memory, with undoable commands run as
// transactions and failures that tests can switch on per operation.
//
// Not thread-safe: like the real host it is used from the main loop only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostapi/Host.h"
#include "platform/PositionIndex.h"

namespace veldra {

// One element as the project keeps it. Fields and memo parts the element's
// type does not use are reset on creation, so a stored element is exactly what
// a save and load give back.
struct StoredElement {
  Element element;
  Memo memo;
  std::string info;   // identifier text
};

enum class HostOperation {
  CreateElement,
  CreateAttribute,
  WriteGeoLocation,
  ReadGeoLocation,
  DeleteElements,
  ListAttributes,
};

// Makes an operation fail with `code`. Filters left at their zero value match
// everything. The rule refuses `times` matching calls (-1: all of them).
struct RefusalRule {
  HostOperation operation = HostOperation::CreateElement;
  HostErr code = kHostErrRefused;
  int typeCode = 0;        // create / delete: element type
  int layerIndex = 0;      // create / delete: element layer
  std::string layerName;   // create / delete: name of the element's layer; create attribute: requested name
  int attributeKind = 0;   // create attribute / list attributes
  int times = -1;

  // Bookkeeping, kept across rollbacks (rules are not part of the project).
  int refusals = 0;
};

// Everything a project file holds.
struct ProjectData {
  std::vector<Attribute> layers, fillTypes, surfaceMaterials, buildingMaterials;
  std::vector<StoredElement> elements;   // creation order
  GeoLocation geoLocation;
  int activeFloor = 0;
  std::uint64_t nextGuid = 1;
};

class MemoryHost : public Host {
 public:
  // Holds how many committed commands undoLast can take back.
  static constexpr std::size_t kUndoDepth = 32;
  static constexpr std::size_t kMaxHandleBytes = std::size_t{1} << 30;
  static constexpr std::size_t kMaxLiveHandleBytes = std::size_t{4} << 30;

  MemoryHost();
  ~MemoryHost() override;

  // Host
  HostErr runUndoableCommand(const std::string& title, const std::function<HostErr()>& body) override;
  HostErr getElementDefaults(Element& element) override;
  HostErr createElement(Element& element, const Memo& memo) override;
  void disposeMemo(Memo& memo) override;
  HostErr setElementInfoString(const std::string& guid, const std::string& info) override;
  HostErr listAttributes(AttributeKind kind, std::vector<Attribute>& out) override;
  HostErr createAttribute(AttributeKind kind, const std::string& name, double r, double g, double b,
                          int& indexOut) override;
  HostErr readGeoLocation(GeoLocation& out) override;
  HostErr writeGeoLocation(const GeoLocation& in) override;
  void writeReportLine(const std::string& line) override;
  HostErr getSelection(std::vector<std::string>& guids) override;
  HostErr elementsOfTypeOnActiveFloor(int typeCode, std::vector<std::string>& guids) override;
  HostErr getElementHeader(const std::string& guid, ElementHeader& out) override;
  HostErr getElementMemo(const std::string& guid, Memo& out) override;
  HostErr getElement(const std::string& guid, Element& out) override;
  HostErr deleteElements(const std::vector<std::string>& guids) override;
  int showAlert(const AlertRequest& request) override;
  HostErr allocateHandle(std::size_t bytes, std::int64_t& handleOut) override;
  HostErr handleSize(std::int64_t handle, std::size_t& bytesOut) override;
  void releaseHandle(std::int64_t handle) override;

  // Undo history of committed top-level commands, oldest first.
  std::vector<std::string> commandTitles() const;
  // Restores the project as it was before the last committed command. False
  // when there is nothing to undo or a command is running.
  bool undoLast();
  bool inCommand() const { return depth_ > 0; }
  // Changes whenever the project's contents may have changed (a change, an
  // undo, a rolled-back command, a load), so views know when to refresh.
  std::uint64_t revision() const { return revision_; }

  // Failure injection.
  void addRefusal(const RefusalRule& rule) { rules_.push_back(rule); }
  void clearRefusals() { rules_.clear(); }
  const std::vector<RefusalRule>& refusals() const { return rules_; }

  // Report window, selection, floor, alerts.
  const std::vector<std::string>& reportLines() const { return reportLines_; }
  void clearReportLines() { reportLines_.clear(); }
  void setSelection(std::vector<std::string> guids) { selection_ = std::move(guids); ++selectionRevision_; }
  // As set, deleted elements included (getSelection leaves them out).
  const std::vector<std::string>& selection() const { return selection_; }
  // Changes whenever the selection is set or cleared.
  std::uint64_t selectionRevision() const { return selectionRevision_; }
  void setActiveFloor(int floor) { activeFloor_ = floor; }
  int activeFloor() const { return activeFloor_; }
  // Answers for the next alerts, in order; when none is queued the answer is 1.
  void queueAlertAnswer(int answer) { alertAnswers_.push_back(answer); }
  const std::vector<AlertRequest>& shownAlerts() const { return shownAlerts_; }

  // Resource accounting, for checks that callers release what they take.
  std::size_t liveHandleCount() const { return handles_.size(); }
  std::size_t createCalls() const { return createCalls_; }
  std::size_t disposeCalls() const { return disposeCalls_; }

  // Project contents.
  std::size_t elementCount() const;
  std::size_t elementCount(int typeCode) const;
  const StoredElement& elementAt(std::size_t i) const;   // creation order
  const StoredElement* findElement(const std::string& guid) const;
  const std::vector<Attribute>& attributes(AttributeKind kind) const;
  const GeoLocation& geoLocation() const;
  // Set-up for tests and loading: no refusal rules, no undo entry. Gives the
  // new index, 0 when the attribute is invalid or its name is taken.
  int addAttribute(AttributeKind kind, Attribute attribute);
  // The user's defaults for a type (layer, pens, fill, materials...).
  void setElementDefaults(const Element& defaults);

  // Whole-project exchange for the project file. importProject checks the data
  // as createElement would and replaces the project only when all of it is
  // sound; the undo history is cleared. Gives an empty text or the reason.
  ProjectData exportProject() const;
  std::string importProject(ProjectData data);

 private:
  struct State {
    std::vector<Attribute> layers, fillTypes, surfaceMaterials, buildingMaterials;
    std::vector<std::shared_ptr<const StoredElement>> elements;
    GeoLocation geo;
  };
  struct UndoEntry {
    std::string title;
    State before;
  };

  std::vector<Attribute>* table(AttributeKind kind);
  const std::vector<Attribute>* table(AttributeKind kind) const;
  const std::string* layerName(int index) const;
  // First refusing rule for a call, or null.
  RefusalRule* refusalFor(HostOperation op, int typeCode, int layer, const std::string* name, int kind);
  // A change outside any command cannot be undone, and undoing an earlier
  // command would silently drop it, so it ends the undo history.
  void changed();
  std::string freshGuid();
  const std::string& guidAt(std::size_t position) const;
  std::optional<std::size_t> findPosition(std::string_view guid) const;
  void reindex();

  State state_;
  PositionIndex index_;   // positions in state_.elements
  std::deque<UndoEntry> undo_;
  int depth_ = 0;
  std::uint64_t deletions_ = 0;
  std::uint64_t revision_ = 0;
  std::uint64_t nextGuid_ = 1;
  std::map<int, Element> defaults_;

  std::vector<RefusalRule> rules_;
  std::vector<std::string> reportLines_;
  std::vector<std::string> selection_;
  std::uint64_t selectionRevision_ = 0;
  int activeFloor_ = 0;
  std::deque<int> alertAnswers_;
  std::vector<AlertRequest> shownAlerts_;
  std::map<std::int64_t, std::size_t> handles_;
  std::int64_t nextHandle_ = 1;
  std::size_t liveHandleBytes_ = 0;
  std::size_t createCalls_ = 0;
  std::size_t disposeCalls_ = 0;
};

}  // namespace veldra
