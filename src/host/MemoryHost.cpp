#include "host/MemoryHost.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cmath>
#include <cstdio>
#include <set>
#include <stdexcept>
#include <tuple>

#include "host/ElementFields.h"
#include "platform/TextCodec.h"

namespace veldra {
namespace {

using namespace elementfields;

struct Tables {
  const std::vector<Attribute>* layers;
  const std::vector<Attribute>* fillTypes;
  const std::vector<Attribute>* surfaceMaterials;
  const std::vector<Attribute>* buildingMaterials;
};

const Attribute* findIndex(const std::vector<Attribute>& list, int index) {
  for (const auto& a : list)
    if (a.index == index) return &a;
  return nullptr;
}

const Attribute* findName(const std::vector<Attribute>& list, const std::string& name) {
  for (const auto& a : list)
    if (a.name == name) return &a;
  return nullptr;
}

bool finite(double v) { return std::isfinite(v); }
bool finite(const Point2& p) { return finite(p.x) && finite(p.y); }
bool finite(const Point3& p) { return finite(p.x) && finite(p.y) && finite(p.z); }
bool unitColour(double r, double g, double b) {
  return finite(r) && finite(g) && finite(b) && r >= 0 && r <= 1 && g >= 0 && g <= 1 && b >= 0 && b <= 1;
}

HostErr fail(HostErr code, std::string& why, std::string text) {
  why = std::move(text);
  return code;
}

// Ring ends: slot 0 holds 0, then strictly rising end slots, the last being the
// last point; every ring has at least `minPoints` slots.
HostErr checkRings(const Memo& memo, int minPoints, bool closedRings, std::string& why) {
  const int n = memo.pointCount();
  if (memo.ringEnds.size() < 2 || memo.ringEnds[0] != 0)
    return fail(kHostErrBadParameters, why, "brak konca pierscienia (ringEnds zaczyna sie od 0 w slocie 0)");
  if (memo.ringEnds.back() != n)
    return fail(kHostErrBadParameters, why,
                "ostatni koniec pierscienia " + std::to_string(memo.ringEnds.back()) + " rozny od liczby punktow " +
                    std::to_string(n));
  for (std::size_t r = 1; r < memo.ringEnds.size(); ++r)
    if (memo.ringEnds[r] <= memo.ringEnds[r - 1] || memo.ringEnds[r] > n)
      return fail(kHostErrBadParameters, why, "konce pierscieni nie rosna albo wychodza poza punkty");
  for (std::size_t r = 1; r < memo.ringEnds.size(); ++r) {
    const int begin = memo.ringEnds[r - 1] + 1;
    const int end = memo.ringEnds[r];
    if (end - begin + 1 < minPoints)
      return fail(kHostErrBadParameters, why,
                  "pierscien " + std::to_string(r) + " ma za malo punktow (" + std::to_string(std::max(0, end - begin + 1)) +
                      ")");
    if (closedRings) {
      const Point2& a = memo.coords[static_cast<std::size_t>(begin)];
      const Point2& b = memo.coords[static_cast<std::size_t>(end)];
      if (a.x != b.x || a.y != b.y)
        return fail(kHostErrBadParameters, why, "pierscien " + std::to_string(r) + " nie jest zamkniety");
    }
  }
  return kHostOk;
}

HostErr checkBody(const MorphBody& body, std::string& why) {
  if (body.vertices.size() < 3 || body.edges.size() < 3 || body.polygons.empty())
    return fail(kHostErrBadParameters, why, "pusta bryla");
  for (const auto& v : body.vertices)
    if (!finite(v)) return fail(kHostErrBadParameters, why, "nieskonczona wspolrzedna wierzcholka");
  const long nv = static_cast<long>(body.vertices.size());
  for (const auto& [a, b] : body.edges)
    if (a < 0 || b < 0 || a >= nv || b >= nv || a == b)
      return fail(kHostErrBadIndex, why, "krawedz z blednym wierzcholkiem");
  const long ne = static_cast<long>(body.edges.size());
  for (std::size_t p = 0; p < body.polygons.size(); ++p) {
    const auto& poly = body.polygons[p];
    if (poly.size() < 3) return fail(kHostErrBadParameters, why, "wielokat " + std::to_string(p) + " ma mniej niz 3 krawedzie");
    // Edges chain head to tail around the polygon.
    int firstStart = -1, prevEnd = -1;
    for (int e : poly) {
      if (e == 0 || std::labs(e) > ne) return fail(kHostErrBadIndex, why, "wielokat " + std::to_string(p) + ": bledna krawedz");
      const auto& edge = body.edges[static_cast<std::size_t>(std::labs(e) - 1)];
      const int s = e > 0 ? edge.first : edge.second;
      const int t = e > 0 ? edge.second : edge.first;
      if (firstStart < 0) firstStart = s;
      else if (s != prevEnd) return fail(kHostErrBadParameters, why, "wielokat " + std::to_string(p) + ": krawedzie nie tworza obwodu");
      prevEnd = t;
    }
    if (prevEnd != firstStart) return fail(kHostErrBadParameters, why, "wielokat " + std::to_string(p) + " nie jest zamkniety");
  }
  return kHostOk;
}

HostErr checkAndNormalise(Element& e, Memo& m, const Tables& t, std::string& why) {
  const int type = e.typeCode;
  if (!isKnownElementType(type)) return fail(kHostErrBadParameters, why, "nieznany typ elementu " + std::to_string(type));
  if (!findIndex(*t.layers, e.layer)) return fail(kHostErrBadIndex, why, "warstwa " + std::to_string(e.layer) + " nie istnieje");
  const unsigned fields = fieldsOf(type);
  const unsigned parts = memoPartsOf(type);
  const Element blank;

  if (fields & kFill) {
    if (e.fillType != 0) {
      const Attribute* f = findIndex(*t.fillTypes, e.fillType);
      if (!f) return fail(kHostErrBadIndex, why, "wypelnienie " + std::to_string(e.fillType) + " nie istnieje");
      if (type == static_cast<int>(ElementType::Fill) && !f->usableForFills)
        return fail(kHostErrBadParameters, why, "wypelnienie " + f->name + " nie nadaje sie do wypelnien");
    }
  } else {
    e.fillPen = blank.fillPen;
    e.backgroundPen = blank.backgroundPen;
    e.fillType = blank.fillType;
  }
  if (fields & kRgb) {
    if (!finite(e.r) || !finite(e.g) || !finite(e.b)) return fail(kHostErrBadParameters, why, "kolor nie jest liczba");
    if (e.useRgbColor && !unitColour(e.r, e.g, e.b)) return fail(kHostErrBadParameters, why, "kolor poza zakresem 0..1");
  } else {
    e.useRgbColor = blank.useRgbColor;
    e.r = blank.r, e.g = blank.g, e.b = blank.b;
  }
  if (fields & kSurface) {
    if (e.surfaceMaterial != 0 && !findIndex(*t.surfaceMaterials, e.surfaceMaterial))
      return fail(kHostErrBadIndex, why, "material powierzchni " + std::to_string(e.surfaceMaterial) + " nie istnieje");
  } else {
    e.surfaceMaterial = blank.surfaceMaterial;
  }
  if (fields & kBuildingMat) {
    if (e.buildingMaterial != 0 && !findIndex(*t.buildingMaterials, e.buildingMaterial))
      return fail(kHostErrBadIndex, why, "material budowlany " + std::to_string(e.buildingMaterial) + " nie istnieje");
  } else {
    e.buildingMaterial = blank.buildingMaterial;
  }
  if (fields & kLevels) {
    if (!finite(e.level) || !finite(e.thickness)) return fail(kHostErrBadParameters, why, "poziom nie jest liczba");
    if (e.thickness < 0 || (type == static_cast<int>(ElementType::Slab) && e.thickness <= 0))
      return fail(kHostErrBadParameters, why, "niedodatnia grubosc");
  } else {
    e.level = blank.level;
    e.thickness = blank.thickness;
  }
  if (fields & kTextStyle) {
    if (!finite(e.textSize) || e.textSize <= 0) return fail(kHostErrBadParameters, why, "bledna wielkosc tekstu");
  } else {
    e.textSize = blank.textSize;
    e.textAnchor = blank.textAnchor;
  }
  if (fields & kPlacement) {
    if (!finite(e.angle) || !finite(e.location)) return fail(kHostErrBadParameters, why, "polozenie nie jest liczba");
  } else {
    e.angle = blank.angle;
    e.location = blank.location;
  }
  if (fields & kPicture) {
    if (!finite(e.width) || !finite(e.height) || e.width <= 0 || e.height <= 0)
      return fail(kHostErrBadParameters, why, "bledny rozmiar obrazu");
    if (!isValidUtf8(e.pictureFormat)) return fail(kHostErrBadParameters, why, "bledna nazwa formatu obrazu");
  } else {
    e.width = blank.width;
    e.height = blank.height;
    e.pictureFormat.clear();
    e.mirrored = blank.mirrored;
  }
  if (!(fields & kClosed)) e.closed = blank.closed;

  if (parts & kCoords) {
    for (std::size_t i = 1; i < m.coords.size(); ++i)
      if (!finite(m.coords[i])) return fail(kHostErrBadParameters, why, "wspolrzedna punktu " + std::to_string(i) + " nie jest liczba");
    if (isPolygonType(type)) {
      if (HostErr rc = checkRings(m, 4, true, why); rc != kHostOk) return rc;
    } else {
      if (m.pointCount() < 2) return fail(kHostErrBadParameters, why, "polilinia ma mniej niz 2 punkty");
      if (m.ringEnds.empty()) m.ringEnds = {0, m.pointCount()};
      if (HostErr rc = checkRings(m, 2, false, why); rc != kHostOk) return rc;
      for (const PolyArc& a : m.arcs)
        if (a.begIndex < 1 || a.endIndex < 1 || a.begIndex > m.pointCount() || a.endIndex > m.pointCount() ||
            !std::isfinite(a.arcAngle))
          return fail(kHostErrBadParameters, why, "bledny luk polilinii");
    }
    if (type != static_cast<int>(ElementType::Polyline)) m.arcs.clear();
    m.coords[0] = Point2{};
  } else {
    m.coords.clear();
    m.ringEnds.clear();
    m.arcs.clear();
  }
  if (parts & kZ) {
    if (!m.z.empty()) {
      if (m.z.size() != m.coords.size()) return fail(kHostErrBadParameters, why, "liczba wysokosci rozna od liczby punktow");
      for (std::size_t i = 1; i < m.z.size(); ++i)
        if (!finite(m.z[i])) return fail(kHostErrBadParameters, why, "wysokosc punktu " + std::to_string(i) + " nie jest liczba");
      m.z[0] = 0.0;
    }
  } else {
    m.z.clear();
  }
  if (parts & kLevelLines) {
    for (const auto& line : m.levelLines) {
      if (line.points.size() < 2) return fail(kHostErrBadParameters, why, "linia poziomu ma mniej niz 2 punkty");
      for (const auto& p : line.points)
        if (!finite(p)) return fail(kHostErrBadParameters, why, "punkt linii poziomu nie jest liczba");
    }
  } else {
    m.levelLines.clear();
  }
  if (parts & kText) {
    std::string utf8;
    if (m.text.empty()) return fail(kHostErrBadParameters, why, "pusty tekst");
    if (!utf16ToUtf8(m.text, utf8)) return fail(kHostErrBadParameters, why, "tekst nie jest poprawnym UTF-16");
  } else {
    m.text.clear();
  }
  if (parts & kPixels) {
    if (m.pixels.empty()) return fail(kHostErrBadParameters, why, "obraz bez danych");
  } else {
    m.pixels.clear();
  }
  if (parts & kBody) {
    if (HostErr rc = checkBody(m.body, why); rc != kHostOk) return rc;
  } else {
    m.body = MorphBody{};
  }
  return kHostOk;
}

bool finiteGeo(const GeoLocation& g) {
  for (double v : {g.surveyEasting, g.surveyNorthing, g.surveyHeight, g.xAxisAbscissa, g.xAxisOrdinate, g.scale,
                   g.surveyX0, g.surveyY0, g.longitude, g.latitude, g.altitude, g.northDirection})
    if (!finite(v)) return false;
  for (const std::string* s : {&g.crsName, &g.crsDescription, &g.geodeticDatum, &g.verticalDatum, &g.mapProjection, &g.mapZone})
    if (!isValidUtf8(*s)) return false;
  return true;
}

Element builtInDefaults(int type) {
  Element e;
  e.typeCode = type;
  e.layer = 1;
  e.contourPen = 1;
  e.fillPen = 1;
  e.fillType = 1;
  e.surfaceMaterial = 1;
  e.buildingMaterial = 1;
  if (type == static_cast<int>(ElementType::Slab)) e.thickness = 0.3;
  if (type == static_cast<int>(ElementType::Picture)) e.pictureFormat = "image/png";
  return e;
}

// Sorts by index and checks indices and names; gives the reason or empty.
std::string checkTable(std::vector<Attribute>& list, AttributeKind kind, const char* what) {
  std::sort(list.begin(), list.end(), [](const Attribute& a, const Attribute& b) { return a.index < b.index; });
  std::set<std::string> names;
  for (std::size_t i = 0; i < list.size(); ++i) {
    Attribute& a = list[i];
    const std::string where = std::string(what) + " " + std::to_string(a.index);
    if (a.index < 1) return std::string(what) + ": indeks " + std::to_string(a.index) + " mniejszy niz 1";
    if (i > 0 && list[i - 1].index == a.index) return where + ": powtorzony indeks";
    if (a.name.empty() || !isValidUtf8(a.name)) return where + ": pusta lub bledna nazwa";
    if (!names.insert(a.name).second) return where + ": powtorzona nazwa \"" + a.name + "\"";
    if (kind == AttributeKind::SurfaceMaterial) {
      if (!unitColour(a.r, a.g, a.b)) return where + ": kolor poza zakresem 0..1";
    } else {
      a.r = a.g = a.b = 0.0;
    }
    if (kind != AttributeKind::FillType) {
      a.usableForFills = true;
      a.solid = a.hatch = false;
    }
  }
  return {};
}

// Counter part of a guid this host made ("E" + decimal digits), else 0.
std::uint64_t guidNumber(const std::string& guid) {
  if (guid.size() < 2 || guid.size() > 20 || guid[0] != 'E') return 0;
  std::uint64_t n = 0;
  for (std::size_t i = 1; i < guid.size(); ++i) {
    if (guid[i] < '0' || guid[i] > '9') return 0;
    if (n > (UINT64_MAX - 9) / 10) return 0;
    n = n * 10 + static_cast<std::uint64_t>(guid[i] - '0');
  }
  return n;
}

}  // namespace

MemoryHost::MemoryHost() {
  state_.layers = {Attribute{1, "Domyslna"}};
  auto fill = [](int index, const char* name, bool usable, bool solid, bool hatch) {
    Attribute a{index, name};
    a.usableForFills = usable;
    a.solid = solid;
    a.hatch = hatch;
    return a;
  };
  state_.fillTypes = {fill(1, "Pelne", true, true, false), fill(2, "Puste", true, false, false),
                      fill(3, "Kreskowanie 45", true, false, true), fill(4, "Siatka", true, false, true),
                      fill(5, "Wzor przekroju", false, false, true)};
  auto material = [](int index, const char* name, double r, double g, double b) {
    Attribute a{index, name};
    a.r = r, a.g = g, a.b = b;
    return a;
  };
  state_.surfaceMaterials = {material(1, "Tynk bialy", 0.92, 0.91, 0.88), material(2, "Beton", 0.6, 0.6, 0.58),
                             material(3, "Dachowka", 0.62, 0.27, 0.2), material(4, "Trawa", 0.33, 0.55, 0.22)};
  state_.buildingMaterials = {Attribute{1, "Beton konstrukcyjny"}, Attribute{2, "Cegla"}, Attribute{3, "Drewno"}};
}

MemoryHost::~MemoryHost() = default;

// ---- commands -------------------------------------------------------------

HostErr MemoryHost::runUndoableCommand(const std::string& title, const std::function<HostErr()>& body) {
  if (!body) return kHostErrBadParameters;
  State before = state_;
  const std::uint64_t deletionsBefore = deletions_;
  // Without deletions nor new elements the command at most replaced elements
  // in place, which leaves every position as it was.
  const auto rollBack = [&] {
    const bool sameElements = deletions_ == deletionsBefore && state_.elements.size() == before.elements.size();
    state_ = std::move(before);
    if (!sameElements) reindex();
    ++revision_;
  };
  struct Depth {
    int& d;
    explicit Depth(int& dd) : d(dd) { ++d; }
    ~Depth() { --d; }
  };
  HostErr rc = kHostOk;
  {
    Depth guard(depth_);
    try {
      rc = body();
    } catch (...) {
      rollBack();
      throw;
    }
  }
  if (rc != kHostOk) {
    rollBack();
    return rc;
  }
  if (depth_ == 0) {
    undo_.push_back(UndoEntry{title, std::move(before)});
    while (undo_.size() > kUndoDepth) undo_.pop_front();
  }
  return kHostOk;
}

std::vector<std::string> MemoryHost::commandTitles() const {
  std::vector<std::string> out;
  for (const auto& u : undo_) out.push_back(u.title);
  return out;
}

bool MemoryHost::undoLast() {
  if (depth_ > 0 || undo_.empty()) return false;
  state_ = std::move(undo_.back().before);
  undo_.pop_back();
  reindex();
  ++revision_;
  return true;
}

void MemoryHost::changed() {
  ++revision_;
  if (depth_ == 0) undo_.clear();
}

// ---- refusals ---------------------------------------------------------------

namespace {
bool ruleMatches(const RefusalRule& r, HostOperation op, int typeCode, int layer, const std::string* name, int kind) {
  return r.operation == op && (r.typeCode == 0 || r.typeCode == typeCode) && (r.layerIndex == 0 || r.layerIndex == layer) &&
         (r.layerName.empty() || (name && *name == r.layerName)) && (r.attributeKind == 0 || r.attributeKind == kind);
}
bool ruleArmed(const RefusalRule& r) { return r.times < 0 || r.refusals < r.times; }
}  // namespace

RefusalRule* MemoryHost::refusalFor(HostOperation op, int typeCode, int layer, const std::string* name, int kind) {
  for (auto& r : rules_) {
    if (ruleMatches(r, op, typeCode, layer, name, kind) && ruleArmed(r)) {
      ++r.refusals;
      return &r;
    }
  }
  return nullptr;
}

// ---- elements ---------------------------------------------------------------

HostErr MemoryHost::getElementDefaults(Element& element) {
  const int type = element.typeCode;
  if (!isKnownElementType(type)) return kHostErrBadParameters;
  auto it = defaults_.find(type);
  element = it != defaults_.end() ? it->second : builtInDefaults(type);
  element.typeCode = type;
  element.guid.clear();
  element.floor = activeFloor_;
  if (!findIndex(state_.layers, element.layer) && !state_.layers.empty()) element.layer = state_.layers.front().index;
  return kHostOk;
}

void MemoryHost::setElementDefaults(const Element& defaults) {
  if (isKnownElementType(defaults.typeCode)) defaults_[defaults.typeCode] = defaults;
}

const std::string* MemoryHost::layerName(int index) const {
  const Attribute* a = findIndex(state_.layers, index);
  return a ? &a->name : nullptr;
}

std::string MemoryHost::freshGuid() {
  for (;;) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "E%07llu", static_cast<unsigned long long>(nextGuid_++));
    if (!findPosition(buf)) return buf;
  }
}

const std::string& MemoryHost::guidAt(std::size_t position) const { return state_.elements[position]->element.guid; }

std::optional<std::size_t> MemoryHost::findPosition(std::string_view guid) const {
  return index_.find(guid, [this](std::size_t i) -> const std::string& { return guidAt(i); });
}

void MemoryHost::reindex() {
  index_.rebuild(state_.elements.size(), [this](std::size_t i) -> const std::string& { return guidAt(i); });
}

HostErr MemoryHost::createElement(Element& element, const Memo& memo) {
  ++createCalls_;
  // A record reused after an earlier create must not keep that element's guid.
  element.guid.clear();
  const std::string* lname = layerName(element.layer);
  if (RefusalRule* r = refusalFor(HostOperation::CreateElement, element.typeCode, element.layer, lname, 0)) return r->code;
  if (state_.elements.size() >= PositionIndex::kMaxPositions) return kHostErrMemFull;
  auto stored = std::make_shared<StoredElement>();
  stored->element = element;
  stored->memo = memo;
  std::string why;
  const Tables t{&state_.layers, &state_.fillTypes, &state_.surfaceMaterials, &state_.buildingMaterials};
  if (HostErr rc = checkAndNormalise(stored->element, stored->memo, t, why); rc != kHostOk) return rc;
  stored->element.guid = freshGuid();
  element.guid = stored->element.guid;
  state_.elements.push_back(std::move(stored));
  index_.insert(element.guid, state_.elements.size() - 1, [this](std::size_t i) -> const std::string& { return guidAt(i); });
  changed();
  return kHostOk;
}

void MemoryHost::disposeMemo(Memo& memo) {
  ++disposeCalls_;
  memo = Memo{};
}

HostErr MemoryHost::setElementInfoString(const std::string& guid, const std::string& info) {
  const auto at = findPosition(guid);
  if (!at) return kHostErrBadId;
  if (!isValidUtf8(info)) return kHostErrBadParameters;
  auto& slot = state_.elements[*at];
  if (slot.use_count() == 1) {
    // No snapshot shares it (typically an element just created): change in place.
    const_cast<StoredElement&>(*slot).info = info;
  } else {
    auto copy = std::make_shared<StoredElement>(*slot);
    copy->info = info;
    slot = std::move(copy);
  }
  changed();
  return kHostOk;
}

HostErr MemoryHost::getSelection(std::vector<std::string>& guids) {
  guids.clear();
  for (const auto& g : selection_)
    if (findPosition(g)) guids.push_back(g);
  return kHostOk;
}

HostErr MemoryHost::elementsOfTypeOnActiveFloor(int typeCode, std::vector<std::string>& guids) {
  guids.clear();
  if (!isKnownElementType(typeCode)) return kHostErrBadParameters;
  for (const auto& e : state_.elements)
    if (e->element.typeCode == typeCode && e->element.floor == activeFloor_) guids.push_back(e->element.guid);
  return kHostOk;
}

HostErr MemoryHost::getElementHeader(const std::string& guid, ElementHeader& out) {
  const StoredElement* e = findElement(guid);
  if (!e) return kHostErrBadId;
  out = ElementHeader{e->element.guid, e->element.typeCode, e->element.layer, e->element.floor};
  return kHostOk;
}

HostErr MemoryHost::getElementMemo(const std::string& guid, Memo& out) {
  const StoredElement* e = findElement(guid);
  if (!e) return kHostErrBadId;
  out = e->memo;
  return kHostOk;
}

HostErr MemoryHost::getElement(const std::string& guid, Element& out) {
  const StoredElement* e = findElement(guid);
  if (!e) return kHostErrBadId;
  out = e->element;
  return kHostOk;
}

HostErr MemoryHost::deleteElements(const std::vector<std::string>& guids) {
  if (depth_ == 0) return kHostErrNotSupported;
  // Positions in order, once each: a large cleanup deletes hundreds of thousands.
  std::vector<std::size_t> doomed;
  doomed.reserve(guids.size());
  for (const auto& g : guids) {
    const auto at = findPosition(g);
    if (!at) return kHostErrBadId;
    doomed.push_back(*at);
  }
  std::sort(doomed.begin(), doomed.end());
  doomed.erase(std::unique(doomed.begin(), doomed.end()), doomed.end());
  // One rule refusing any of the elements refuses the whole call.
  for (auto& r : rules_) {
    if (!ruleArmed(r)) continue;
    for (std::size_t i : doomed) {
      const Element& e = state_.elements[i]->element;
      if (ruleMatches(r, HostOperation::DeleteElements, e.typeCode, e.layer, layerName(e.layer), 0)) {
        ++r.refusals;
        return r.code;
      }
    }
  }
  if (doomed.empty()) return kHostOk;
  std::vector<std::shared_ptr<const StoredElement>> kept;
  kept.reserve(state_.elements.size() - doomed.size());
  auto next = doomed.begin();
  for (std::size_t i = 0; i < state_.elements.size(); ++i) {
    if (next != doomed.end() && *next == i) ++next;
    else kept.push_back(std::move(state_.elements[i]));
  }
  state_.elements = std::move(kept);
  ++deletions_;
  reindex();
  changed();
  return kHostOk;
}

std::size_t MemoryHost::elementCount() const { return state_.elements.size(); }

std::size_t MemoryHost::elementCount(int typeCode) const {
  return static_cast<std::size_t>(std::count_if(state_.elements.begin(), state_.elements.end(),
                                                [&](const auto& e) { return e->element.typeCode == typeCode; }));
}

const StoredElement& MemoryHost::elementAt(std::size_t i) const { return *state_.elements.at(i); }

const StoredElement* MemoryHost::findElement(const std::string& guid) const {
  const auto at = findPosition(guid);
  return at ? state_.elements[*at].get() : nullptr;
}

// ---- attributes -------------------------------------------------------------

std::vector<Attribute>* MemoryHost::table(AttributeKind kind) {
  return const_cast<std::vector<Attribute>*>(static_cast<const MemoryHost*>(this)->table(kind));
}

const std::vector<Attribute>* MemoryHost::table(AttributeKind kind) const {
  switch (kind) {
    case AttributeKind::Layer: return &state_.layers;
    case AttributeKind::FillType: return &state_.fillTypes;
    case AttributeKind::SurfaceMaterial: return &state_.surfaceMaterials;
    case AttributeKind::BuildingMaterial: return &state_.buildingMaterials;
  }
  return nullptr;
}

const std::vector<Attribute>& MemoryHost::attributes(AttributeKind kind) const {
  static const std::vector<Attribute> none;
  const auto* t = table(kind);
  return t ? *t : none;
}

HostErr MemoryHost::listAttributes(AttributeKind kind, std::vector<Attribute>& out) {
  out.clear();
  const auto* t = table(kind);
  if (!t) return kHostErrBadParameters;
  if (RefusalRule* r = refusalFor(HostOperation::ListAttributes, 0, 0, nullptr, static_cast<int>(kind))) return r->code;
  out = *t;
  return kHostOk;
}

HostErr MemoryHost::createAttribute(AttributeKind kind, const std::string& name, double r, double g, double b,
                                    int& indexOut) {
  indexOut = 0;
  if (kind != AttributeKind::Layer && kind != AttributeKind::SurfaceMaterial) return kHostErrNotSupported;
  if (name.empty() || !isValidUtf8(name)) return kHostErrBadParameters;
  if (kind == AttributeKind::SurfaceMaterial && !unitColour(r, g, b)) return kHostErrBadParameters;
  if (RefusalRule* rule = refusalFor(HostOperation::CreateAttribute, 0, 0, &name, static_cast<int>(kind)))
    return rule->code;
  auto& list = *table(kind);
  if (const Attribute* existing = findName(list, name)) {
    indexOut = existing->index;
  } else {
    Attribute a{0, name};
    if (kind == AttributeKind::SurfaceMaterial) a.r = r, a.g = g, a.b = b;
    indexOut = addAttribute(kind, a);
    if (indexOut == 0) return kHostErrBadParameters;
  }
  return kHostOk;
}

int MemoryHost::addAttribute(AttributeKind kind, Attribute attribute) {
  auto* list = table(kind);
  if (!list || attribute.name.empty() || !isValidUtf8(attribute.name) || findName(*list, attribute.name)) return 0;
  int top = 0;
  for (const auto& a : *list) top = std::max(top, a.index);
  if (top == INT_MAX) return 0;
  attribute.index = top + 1;
  list->push_back(attribute);
  std::vector<Attribute> probe = *list;
  if (!checkTable(probe, kind, "atrybut").empty()) {
    list->pop_back();
    return 0;
  }
  *list = std::move(probe);
  changed();
  return attribute.index;
}

// ---- geolocation, report, alerts, handles -------------------------------------

HostErr MemoryHost::readGeoLocation(GeoLocation& out) {
  if (RefusalRule* r = refusalFor(HostOperation::ReadGeoLocation, 0, 0, nullptr, 0)) return r->code;
  out = state_.geo;
  return kHostOk;
}

HostErr MemoryHost::writeGeoLocation(const GeoLocation& in) {
  if (RefusalRule* r = refusalFor(HostOperation::WriteGeoLocation, 0, 0, nullptr, 0)) return r->code;
  if (!finiteGeo(in)) return kHostErrBadParameters;
  state_.geo = in;
  changed();
  return kHostOk;
}

const GeoLocation& MemoryHost::geoLocation() const { return state_.geo; }

void MemoryHost::writeReportLine(const std::string& line) { reportLines_.push_back(line); }

int MemoryHost::showAlert(const AlertRequest& request) {
  shownAlerts_.push_back(request);
  if (alertAnswers_.empty()) return 1;
  const int answer = alertAnswers_.front();
  alertAnswers_.pop_front();
  return answer;
}

HostErr MemoryHost::allocateHandle(std::size_t bytes, std::int64_t& handleOut) {
  handleOut = 0;
  if (bytes > kMaxHandleBytes || bytes > kMaxLiveHandleBytes - liveHandleBytes_) return kHostErrMemFull;
  handleOut = nextHandle_++;
  handles_.emplace(handleOut, bytes);
  liveHandleBytes_ += bytes;
  return kHostOk;
}

HostErr MemoryHost::handleSize(std::int64_t handle, std::size_t& bytesOut) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) {
    bytesOut = 0;
    return kHostErrBadId;
  }
  bytesOut = it->second;
  return kHostOk;
}

void MemoryHost::releaseHandle(std::int64_t handle) {
  auto it = handles_.find(handle);
  if (it == handles_.end()) return;
  liveHandleBytes_ -= it->second;
  handles_.erase(it);
}

// ---- whole project ----------------------------------------------------------

ProjectData MemoryHost::exportProject() const {
  ProjectData d;
  d.layers = state_.layers;
  d.fillTypes = state_.fillTypes;
  d.surfaceMaterials = state_.surfaceMaterials;
  d.buildingMaterials = state_.buildingMaterials;
  d.elements.reserve(state_.elements.size());
  for (const auto& e : state_.elements) d.elements.push_back(*e);
  d.geoLocation = state_.geo;
  d.activeFloor = activeFloor_;
  d.nextGuid = nextGuid_;
  return d;
}

std::string MemoryHost::importProject(ProjectData data) {
  if (depth_ > 0) return "nie mozna wczytac projektu w trakcie polecenia";
  State s;
  s.layers = std::move(data.layers);
  s.fillTypes = std::move(data.fillTypes);
  s.surfaceMaterials = std::move(data.surfaceMaterials);
  s.buildingMaterials = std::move(data.buildingMaterials);
  if (s.layers.empty()) return "projekt nie ma zadnej warstwy";
  for (auto [list, kind, what] : {std::tuple{&s.layers, AttributeKind::Layer, "warstwa"},
                                  std::tuple{&s.fillTypes, AttributeKind::FillType, "wypelnienie"},
                                  std::tuple{&s.surfaceMaterials, AttributeKind::SurfaceMaterial, "material powierzchni"},
                                  std::tuple{&s.buildingMaterials, AttributeKind::BuildingMaterial, "material budowlany"}}) {
    if (std::string why = checkTable(*list, kind, what); !why.empty()) return why;
  }
  if (!finiteGeo(data.geoLocation)) return "georeferencja: wartosc nie jest liczba albo tekst nie jest UTF-8";
  s.geo = data.geoLocation;

  const Tables t{&s.layers, &s.fillTypes, &s.surfaceMaterials, &s.buildingMaterials};
  std::uint64_t next = std::max<std::uint64_t>(data.nextGuid, 1);
  s.elements.reserve(data.elements.size());
  PositionIndex seen;
  const auto seenGuidAt = [&s](std::size_t i) -> const std::string& { return s.elements[i]->element.guid; };
  for (std::size_t i = 0; i < data.elements.size(); ++i) {
    auto stored = std::make_shared<StoredElement>(std::move(data.elements[i]));
    const std::string& guid = stored->element.guid;
    const std::string where = "element " + std::to_string(i + 1) + " (" + guid + "): ";
    if (guid.empty() || guid.size() > 64 || !isValidUtf8(guid)) return where + "bledny identyfikator";
    if (!seen.insert(guid, s.elements.size(), seenGuidAt).added) return where + "powtorzony identyfikator";
    if (!isValidUtf8(stored->info)) return where + "tekst identyfikujacy nie jest UTF-8";
    std::string why;
    if (checkAndNormalise(stored->element, stored->memo, t, why) != kHostOk) return where + why;
    if (const std::uint64_t n = guidNumber(guid); n >= next) next = n + 1;
    s.elements.push_back(std::move(stored));
  }
  state_ = std::move(s);
  ++revision_;
  index_ = std::move(seen);
  undo_.clear();
  selection_.clear();
  ++selectionRevision_;
  activeFloor_ = data.activeFloor;
  nextGuid_ = next;
  return {};
}

}  // namespace veldra
