#include "host/MemoryHost.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <stdexcept>

namespace veldra {
namespace {

Memo ringMemo(std::vector<std::vector<Point2>> rings) {
  Memo m;
  m.coords.push_back({});
  m.ringEnds.push_back(0);
  for (const auto& r : rings) {
    m.coords.insert(m.coords.end(), r.begin(), r.end());
    m.ringEnds.push_back(static_cast<int>(m.coords.size()) - 1);
  }
  return m;
}

Memo squareMemo(double x = 0, double y = 0, double s = 10) {
  return ringMemo({{{x, y}, {x + s, y}, {x + s, y + s}, {x, y + s}, {x, y}}});
}

Memo lineMemo() {
  Memo m;
  m.coords = {{}, {0, 0}, {5, 5}};
  return m;
}

Memo textMemo(std::u16string t = u"dz. 12/5") {
  Memo m;
  m.text = std::move(t);
  return m;
}

class MemoryHostTest : public ::testing::Test {
 protected:
  Element defaults(ElementType t) {
    Element e{.typeCode = static_cast<int>(t)};
    EXPECT_EQ(host.getElementDefaults(e), kHostOk);
    return e;
  }
  HostErr create(ElementType t, const Memo& m, int layer = 1, std::string* guid = nullptr) {
    Element e = defaults(t);
    e.layer = layer;
    const HostErr rc = host.createElement(e, m);
    if (guid) *guid = e.guid;
    return rc;
  }
  HostErr createFill(int layer = 1, std::string* guid = nullptr) {
    return create(ElementType::Fill, squareMemo(), layer, guid);
  }
  int layer(const std::string& name) {
    int index = 0;
    EXPECT_EQ(host.createAttribute(AttributeKind::Layer, name, 0, 0, 0, index), kHostOk);
    return index;
  }

  MemoryHost host;
};

// ---- transactions -------------------------------------------------------------

// A command that fails or throws takes back its own work, whatever kind; report lines stay.
TEST_F(MemoryHostTest, FailedOrThrowingCommandRestoresElementsAttributesAndGeolocationButKeepsReport) {
  ASSERT_EQ(createFill(), kHostOk);
  ASSERT_EQ(host.writeGeoLocation({.surveyEasting = 5500000.0}), kHostOk);
  const auto layersBefore = host.attributes(AttributeKind::Layer).size();
  for (const bool throws : {false, true}) {
    SCOPED_TRACE(throws);
    const auto command = [&]() -> HostErr {
      EXPECT_EQ(createFill(), kHostOk);
      EXPECT_GT(layer("GIS_DZIALKI"), 0);
      EXPECT_EQ(host.writeGeoLocation({.surveyEasting = 1.0}), kHostOk);
      host.writeReportLine("VELDRA: probny wiersz");
      if (throws) throw std::runtime_error("boom");
      return HostErr{42};
    };
    if (throws) EXPECT_THROW(host.runUndoableCommand("Import GIS", command), std::runtime_error);
    else EXPECT_EQ(host.runUndoableCommand("Import GIS", command), 42);
    EXPECT_FALSE(host.inCommand());
    EXPECT_EQ(host.elementCount(), 1u);
    EXPECT_EQ(host.attributes(AttributeKind::Layer).size(), layersBefore);
    EXPECT_EQ(host.geoLocation().surveyEasting, 5500000.0);
    EXPECT_TRUE(host.commandTitles().empty());
  }
  EXPECT_EQ(host.reportLines(), std::vector<std::string>(2, "VELDRA: probny wiersz"));
  // The host is usable afterwards.
  EXPECT_EQ(host.runUndoableCommand("next", [&] { return createFill(); }), kHostOk);
  EXPECT_EQ(host.elementCount(), 2u);
}

TEST_F(MemoryHostTest, NestedCommandsUndoOnlyTheirOwnWorkAndTheOuterOneIsOneStep) {
  const HostErr rc = host.runUndoableCommand("outer", [&] {
    EXPECT_EQ(createFill(), kHostOk);
    EXPECT_EQ(host.runUndoableCommand("inner", [&] {
                EXPECT_EQ(createFill(), kHostOk);
                return HostErr{-1};
              }),
              -1);
    EXPECT_THROW(host.runUndoableCommand("inner2",
                                         [&]() -> HostErr {
                                           EXPECT_EQ(createFill(), kHostOk);
                                           throw std::logic_error("x");
                                         }),
                 std::logic_error);
    EXPECT_EQ(host.runUndoableCommand("inner3", [&] { return createFill(); }), kHostOk);
    return kHostOk;
  });
  EXPECT_EQ(rc, kHostOk);
  EXPECT_EQ(host.elementCount(), 2u);
  EXPECT_EQ(host.commandTitles(), std::vector<std::string>{"outer"});
  ASSERT_TRUE(host.undoLast());
  EXPECT_EQ(host.elementCount(), 0u);
  // A failing outer command also takes back an inner one that succeeded.
  host.runUndoableCommand("outer", [&] {
    host.runUndoableCommand("inner", [&] { return createFill(); });
    return HostErr{5};
  });
  EXPECT_EQ(host.elementCount(), 0u);
}

TEST_F(MemoryHostTest, RollbackRestoresLookupByGuidAndNeverReusesAGuid) {
  std::string a, b, c, added;
  createFill(1, &a);
  createFill(1, &b);
  createFill(1, &c);
  EXPECT_EQ(host.runUndoableCommand("x", [&] {
              EXPECT_EQ(host.deleteElements({a}), kHostOk);
              EXPECT_EQ(createFill(1, &added), kHostOk);
              return HostErr{3};
            }),
            3);
  for (const auto& g : {a, b, c}) {
    ASSERT_NE(host.findElement(g), nullptr) << g;
    EXPECT_EQ(host.findElement(g)->element.guid, g);
  }
  EXPECT_EQ(host.findElement(added), nullptr);
  std::vector<std::string> all;
  host.elementsOfTypeOnActiveFloor(18, all);
  EXPECT_EQ(all, (std::vector<std::string>{a, b, c}));
  std::string fresh;
  ASSERT_EQ(createFill(1, &fresh), kHostOk);
  EXPECT_NE(added, fresh);
}

// ---- undo -------------------------------------------------------------------

TEST_F(MemoryHostTest, UndoLastStepsBackOneCommandAtATimeButNotWhileOneRuns) {
  std::string guid;
  host.runUndoableCommand("Import GIS", [&] {
    createFill(1, &guid);
    return host.setElementInfoString(guid, "dzialka 1");
  });
  host.runUndoableCommand("Import GIS 2", [&] {
    EXPECT_EQ(host.setElementInfoString(guid, "zmieniona"), kHostOk);
    EXPECT_FALSE(host.undoLast());
    return createFill();
  });
  EXPECT_EQ(host.commandTitles(), (std::vector<std::string>{"Import GIS", "Import GIS 2"}));

  ASSERT_TRUE(host.undoLast());
  EXPECT_EQ(host.elementCount(), 1u);
  EXPECT_EQ(host.findElement(guid)->info, "dzialka 1");
  ASSERT_TRUE(host.undoLast());
  EXPECT_EQ(host.elementCount(), 0u);
  EXPECT_FALSE(host.undoLast());
}

// Views refresh on a new revision: every way the contents change gives one, reading gives none.
TEST_F(MemoryHostTest, RevisionMovesWithEveryChangeOfTheContents) {
  std::string guid;
  const std::vector<std::pair<const char*, std::function<void()>>> steps = {
      {"create", [&] { createFill(1, &guid); }},
      {"command", [&] { host.runUndoableCommand("Import GIS", [&] { return createFill(); }); }},
      {"undo", [&] { ASSERT_TRUE(host.undoLast()); }},
      {"failed command", [&] { host.runUndoableCommand("x", [&] { createFill(); return kHostErrRefused; }); }},
      {"info", [&] { host.setElementInfoString(guid, "dzialka"); }},
      {"cleanup", [&] { host.runUndoableCommand("Usun", [&] { return host.deleteElements({guid}); }); }},
      {"load", [&] { ASSERT_EQ(host.importProject(host.exportProject()), ""); }},
  };
  for (const auto& [what, step] : steps) {
    const auto before = host.revision();
    step();
    EXPECT_NE(host.revision(), before) << what;
  }
  const auto before = host.revision();
  host.exportProject();
  std::vector<std::string> guids;
  host.getSelection(guids);
  EXPECT_EQ(host.revision(), before);
}

TEST_F(MemoryHostTest, ChangeOutsideACommandEndsTheUndoHistory) {
  host.runUndoableCommand("Import GIS", [&] { return createFill(); });
  ASSERT_EQ(host.writeGeoLocation({.surveyEasting = 7.0}), kHostOk);
  // Undoing the import now would silently drop the georeference written after it.
  EXPECT_FALSE(host.undoLast());
  EXPECT_EQ(host.geoLocation().surveyEasting, 7.0);
  EXPECT_EQ(host.elementCount(), 1u);
}

// ---- refusals -----------------------------------------------------------------

TEST_F(MemoryHostTest, CreateRefusalsByTypeAndLayer) {
  const int parcels = layer("GIS_DZIALKI");
  const int buildings = layer("GIS_BUDYNKI");
  host.addRefusal({.code = kHostErrBadParameters, .typeCode = static_cast<int>(ElementType::Polyline)});
  host.addRefusal({.code = -11, .layerIndex = parcels});
  host.addRefusal({.code = -12, .layerName = "GIS_BUDYNKI"});

  EXPECT_EQ(createFill(parcels), -11);
  EXPECT_EQ(createFill(buildings), -12);
  EXPECT_EQ(createFill(1), kHostOk);
  // A refused create leaves no guid behind, even in a reused record.
  Element reused = defaults(ElementType::Fill);
  ASSERT_EQ(host.createElement(reused, squareMemo()), kHostOk);
  reused.typeCode = static_cast<int>(ElementType::Polyline);
  EXPECT_EQ(host.createElement(reused, lineMemo()), kHostErrBadParameters);
  EXPECT_TRUE(reused.guid.empty());
  EXPECT_EQ(host.elementCount(20), 0u);
  EXPECT_EQ(host.elementCount(), 2u);
}

// ---- memo validation ----------------------------------------------------------

// Each case: an element of `type` made from its defaults, changed by `element`, with `memo`.
TEST_F(MemoryHostTest, UnsoundElementsAreRefusedAndNothingIsCreated) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const auto withRings = [](std::vector<int> ends) {
    Memo m = squareMemo();
    m.ringEnds = std::move(ends);
    return m;
  };
  Memo noDummy;   // points from slot 0: the ring end no longer matches the point count
  noDummy.coords = {{0, 0}, {1, 0}, {1, 1}, {0, 0}};
  noDummy.ringEnds = {0, 4};
  Memo onePoint;
  onePoint.coords = {{}, {1, 1}};
  Memo infLine = lineMemo();
  infLine.coords[2].y = inf;
  Memo nanMesh = squareMemo();
  nanMesh.z.assign(nanMesh.coords.size(), 100.0);
  nanMesh.z[3] = nan;
  std::u16string lone = u"ab";
  lone += static_cast<char16_t>(0xD800);
  Memo tetra;   // negative indices walk an edge backwards
  tetra.body.vertices = {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  tetra.body.edges = {{0, 1}, {1, 2}, {2, 0}, {0, 3}, {1, 3}, {2, 3}};
  tetra.body.polygons = {{-3, -2, -1}, {1, 5, -4}, {2, 6, -5}, {3, 4, -6}};
  Memo broken = tetra, badEdge = tetra, badVertex = tetra;
  broken.body.polygons[1] = {1, 4, -5};
  badEdge.body.polygons[0] = {0, 1, 2};
  badVertex.body.edges[0] = {0, 4};
  const auto none = [](Element&) {};
  const struct {
    const char* what;
    ElementType type;
    Memo memo;
    std::function<void(Element&)> element;
    HostErr expected;
  } cases[] = {
      {"open ring", ElementType::Fill, ringMemo({{{0, 0}, {1, 0}, {1, 1}, {0, 1}}}), none, kHostErrBadParameters},
      {"points from slot 0", ElementType::Slab, noDummy, none, kHostErrBadParameters},
      {"ring ends not from 0", ElementType::Mesh, withRings({5}), none, kHostErrBadParameters},
      {"ring end beyond the points", ElementType::Fill, withRings({0, std::numeric_limits<int>::max(), 5}), none,
       kHostErrBadParameters},
      {"ring ends going back", ElementType::Polyline, withRings({0, 5, 3, 5}), none, kHostErrBadParameters},
      {"two corners", ElementType::Fill, ringMemo({{{0, 0}, {1, 0}, {0, 0}}}), none, kHostErrBadParameters},
      {"open hole", ElementType::Fill, ringMemo({{{0, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}}, {{1, 1}, {2, 1}, {2, 2}}}),
       none, kHostErrBadParameters},
      {"one-point polyline", ElementType::Polyline, onePoint, none, kHostErrBadParameters},
      {"NaN corner", ElementType::Fill, squareMemo(nan), none, kHostErrBadParameters},
      {"infinite vertex", ElementType::Polyline, infLine, none, kHostErrBadParameters},
      {"NaN height", ElementType::Mesh, nanMesh, none, kHostErrBadParameters},
      {"NaN level", ElementType::Slab, squareMemo(), [&](Element& e) { e.level = nan; }, kHostErrBadParameters},
      {"NaN angle", ElementType::Text, textMemo(), [&](Element& e) { e.angle = nan; }, kHostErrBadParameters},
      {"unknown layer", ElementType::Fill, squareMemo(), [](Element& e) { e.layer = 77; }, kHostErrBadIndex},
      // section pattern, not usable for drawing fills
      {"section fill", ElementType::Fill, squareMemo(), [](Element& e) { e.fillType = 5; }, kHostErrBadParameters},
      {"unknown fill", ElementType::Fill, squareMemo(), [](Element& e) { e.fillType = 99; }, kHostErrBadIndex},
      {"slab without thickness", ElementType::Slab, squareMemo(), [](Element& e) { e.thickness = 0.0; },
       kHostErrBadParameters},
      {"unknown type", ElementType::Fill, squareMemo(), [](Element& e) { e.typeCode = 5; }, kHostErrBadParameters},
      {"empty text", ElementType::Text, textMemo(u""), none, kHostErrBadParameters},
      {"lone surrogate", ElementType::Text, textMemo(lone), none, kHostErrBadParameters},
      {"polygon not chained", ElementType::Morph, broken, none, kHostErrBadParameters},
      {"edge out of range", ElementType::Morph, badEdge, none, kHostErrBadIndex},
      {"vertex out of range", ElementType::Morph, badVertex, none, kHostErrBadIndex},
  };
  for (const auto& c : cases) {
    Element e = defaults(c.type);
    e.layer = 1;
    c.element(e);
    EXPECT_EQ(host.createElement(e, c.memo), c.expected) << c.what;
  }
  Element bad{.typeCode = 5};
  EXPECT_EQ(host.getElementDefaults(bad), kHostErrBadParameters);
  EXPECT_EQ(host.writeGeoLocation({.surveyHeight = nan}), kHostErrBadParameters);
  EXPECT_EQ(host.elementCount(), 0u);

  // The sound neighbours of the cases above.
  EXPECT_EQ(create(ElementType::Fill,
                   ringMemo({{{0, 0}, {9, 0}, {9, 9}, {0, 9}, {0, 0}}, {{1, 1}, {2, 1}, {2, 2}, {1, 1}}})),
            kHostOk);
  EXPECT_EQ(create(ElementType::Text, textMemo(u"Łódź 🏠")), kHostOk);
  EXPECT_EQ(create(ElementType::Morph, tetra), kHostOk);
  std::string guid;
  ASSERT_EQ(create(ElementType::Polyline, lineMemo(), 1, &guid), kHostOk);
  Memo back;   // a polyline given no parts gets one
  ASSERT_EQ(host.getElementMemo(guid, back), kHostOk);
  EXPECT_EQ(back.ringEnds, (std::vector<int>{0, 2}));
}

// ---- reading and deleting -------------------------------------------------------

TEST_F(MemoryHostTest, DeleteOnlyInsideACommandRefusedDeleteDeletesNothingSelectionFollows) {
  const int locked = layer("ZABLOKOWANA");
  std::string free1, free2, onLocked;
  createFill(1, &free1);
  createFill(locked, &onLocked);
  createFill(1, &free2);
  host.addRefusal({.operation = HostOperation::DeleteElements, .layerIndex = locked});
  host.setSelection({onLocked, free1, onLocked});

  EXPECT_NE(host.deleteElements({free1}), kHostOk);   // only inside a command
  EXPECT_EQ(host.runUndoableCommand("Usun", [&] { return host.deleteElements({free1, onLocked, free2}); }),
            kHostErrRefused);
  EXPECT_EQ(host.elementCount(), 3u);
  EXPECT_EQ(host.runUndoableCommand("Usun", [&] { return host.deleteElements({free1, "nie-ma-takiego"}); }),
            kHostErrBadId);
  EXPECT_EQ(host.elementCount(), 3u);
  EXPECT_EQ(host.runUndoableCommand("Usun", [&] { return host.deleteElements({free1, free2, free1}); }), kHostOk);
  EXPECT_EQ(host.elementCount(), 1u);
  std::vector<std::string> left;
  host.elementsOfTypeOnActiveFloor(18, left);
  EXPECT_EQ(left, std::vector<std::string>{onLocked});
  std::vector<std::string> sel;   // deleted elements leave the selection, repeats stay
  ASSERT_EQ(host.getSelection(sel), kHostOk);
  EXPECT_EQ(sel, (std::vector<std::string>{onLocked, onLocked}));
}

// ---- attributes, alerts, handles --------------------------------------------------

TEST_F(MemoryHostTest, CreatingAnExistingAttributeGivesItsIndex) {
  const int first = layer("GIS_BUDYNKI");
  EXPECT_EQ(layer("GIS_BUDYNKI"), first);
  int bad = 7;
  EXPECT_EQ(host.createAttribute(AttributeKind::SurfaceMaterial, "GIS Zly", 1.5, 0, 0, bad), kHostErrBadParameters);
  EXPECT_EQ(bad, 0);
  EXPECT_EQ(host.createAttribute(AttributeKind::Layer, "", 0, 0, 0, bad), kHostErrBadParameters);
  EXPECT_EQ(host.createAttribute(AttributeKind::Layer, "\xC3\x28", 0, 0, 0, bad), kHostErrBadParameters);
}

TEST_F(MemoryHostTest, HandlesRefuseAbsurdSizesAndTrackReleases) {
  std::int64_t h = 0;
  EXPECT_EQ(host.allocateHandle(std::numeric_limits<std::size_t>::max(), h), kHostErrMemFull);
  EXPECT_EQ(h, 0);
  ASSERT_EQ(host.allocateHandle(1234, h), kHostOk);
  std::size_t size = 0;
  EXPECT_EQ(host.handleSize(h, size), kHostOk);
  EXPECT_EQ(size, 1234u);
  EXPECT_EQ(host.liveHandleCount(), 1u);
  host.releaseHandle(h);
  host.releaseHandle(h);
  EXPECT_EQ(host.liveHandleCount(), 0u);
  EXPECT_EQ(host.handleSize(h, size), kHostErrBadId);
  // Live total is bounded too, not only each handle.
  std::vector<std::int64_t> held;
  HostErr rc = kHostOk;
  for (int i = 0; i < 8 && rc == kHostOk; ++i) {
    rc = host.allocateHandle(MemoryHost::kMaxHandleBytes, h);
    if (rc == kHostOk) held.push_back(h);
  }
  EXPECT_EQ(rc, kHostErrMemFull);
  EXPECT_EQ(held.size(), MemoryHost::kMaxLiveHandleBytes / MemoryHost::kMaxHandleBytes);
}

}  // namespace
}  // namespace veldra
