#include "cleanup/ElementReading.h"

#include <cmath>
#include <unordered_set>
#include <utility>

#include "platform/TextCodec.h"

namespace veldra::cleanup {

namespace {

bool finite(const Point2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

}  // namespace

std::vector<std::string> collectElements(Host& host, ElementType type, ElementSource source) {
  std::vector<std::string> out;
  if (source == ElementSource::ActiveFloor) {
    if (host.elementsOfTypeOnActiveFloor(static_cast<int>(type), out) != kHostOk) out.clear();
    return out;
  }
  std::vector<std::string> selected;
  if (host.getSelection(selected) != kHostOk) return out;
  std::unordered_set<std::string> seen;
  for (const std::string& guid : selected) {
    if (!seen.insert(guid).second) continue;
    ElementHeader header;
    if (host.getElementHeader(guid, header) != kHostOk) continue;
    if (header.typeCode == static_cast<int>(type)) out.push_back(guid);
  }
  return out;
}

std::optional<PolylineRecord> readPolyline(Host& host, const std::string& guid, std::size_t index) {
  ElementHeader header;
  if (host.getElementHeader(guid, header) != kHostOk || header.typeCode != static_cast<int>(ElementType::Polyline))
    return std::nullopt;
  Memo memo;
  if (host.getElementMemo(guid, memo) != kHostOk) return std::nullopt;
  PolylineRecord r;
  r.index = index;
  r.layer = header.layer;
  // Slot 0 of the coordinates is unused by the host's convention.
  if (memo.coords.size() < 3) return std::nullopt;
  memo.coords.erase(memo.coords.begin());
  r.points = std::move(memo.coords);
  for (const Point2& p : r.points)
    if (!finite(p)) return std::nullopt;
  r.arcs.reserve(memo.arcs.size());
  for (const PolyArc& a : memo.arcs) {
    if (!std::isfinite(a.arcAngle)) return std::nullopt;
    r.arcs.push_back(ArcRecord{a.begIndex - 1, a.endIndex - 1, a.arcAngle});
  }
  const Point2& first = r.points.front();
  const Point2& last = r.points.back();
  r.closed = r.points.size() > 2 && first.x == last.x && first.y == last.y;
  return r;
}

std::optional<TextRecord> readText(Host& host, const std::string& guid, std::size_t index) {
  // The record holds type, layer and position: no separate header needed.
  Element element;
  if (host.getElement(guid, element) != kHostOk || element.typeCode != static_cast<int>(ElementType::Text) ||
      !finite(element.location))
    return std::nullopt;
  Memo memo;
  if (host.getElementMemo(guid, memo) != kHostOk) return std::nullopt;
  TextRecord r;
  r.index = index;
  r.layer = element.layer;
  r.position = element.location;
  if (!utf16ToUtf8(memo.text, r.content)) return std::nullopt;
  return r;
}

}  // namespace veldra::cleanup
