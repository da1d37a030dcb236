#include "cleanup/ElementReading.h"

#include <cmath>
#include <unordered_set>

#include "platform/TextCodec.h"

namespace veldra::cleanup {

namespace {

bool finite(const Point2& p) { return std::isfinite(p.x) && std::isfinite(p.y); }

// Empties a memo but keeps its arrays' room, so that a host filling only some
// parts cannot leave the previous element's data in the others.
void empty(Memo& m) {
  m.coords.clear();
  m.ringEnds.clear();
  m.arcs.clear();
  m.z.clear();
  m.levelLines.clear();
  m.text.clear();
  m.pixels.clear();
  m.body.vertices.clear();
  m.body.edges.clear();
  m.body.polygons.clear();
}

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

const PolylineRecord* ElementReader::polyline(const std::string& guid, std::size_t index) {
  header_ = ElementHeader{};
  empty(memo_);
  if (host_.getElementHeader(guid, header_) != kHostOk || header_.typeCode != static_cast<int>(ElementType::Polyline))
    return nullptr;
  if (host_.getElementMemo(guid, memo_) != kHostOk) return nullptr;
  // Slot 0 of the coordinates is unused by the host's convention.
  if (memo_.coords.size() < 3) return nullptr;
  PolylineRecord& r = polyline_;
  r.index = index;
  r.layer = header_.layer;
  r.points.assign(memo_.coords.begin() + 1, memo_.coords.end());
  for (const Point2& p : r.points)
    if (!finite(p)) return nullptr;
  r.arcs.clear();
  for (const PolyArc& a : memo_.arcs) {
    if (!std::isfinite(a.arcAngle)) return nullptr;
    r.arcs.push_back(ArcRecord{a.begIndex - 1, a.endIndex - 1, a.arcAngle});
  }
  const Point2& first = r.points.front();
  const Point2& last = r.points.back();
  r.closed = r.points.size() > 2 && first.x == last.x && first.y == last.y;
  return &r;
}

const TextRecord* ElementReader::text(const std::string& guid, std::size_t index) {
  // The record holds type, layer and position: no separate header needed.
  element_ = Element{};
  empty(memo_);
  if (host_.getElement(guid, element_) != kHostOk || element_.typeCode != static_cast<int>(ElementType::Text) ||
      !finite(element_.location))
    return nullptr;
  if (host_.getElementMemo(guid, memo_) != kHostOk) return nullptr;
  TextRecord& r = text_;
  r.index = index;
  r.layer = element_.layer;
  r.position = element_.location;
  if (!utf16ToUtf8(memo_.text, r.content)) return nullptr;
  return &r;
}

}  // namespace veldra::cleanup
