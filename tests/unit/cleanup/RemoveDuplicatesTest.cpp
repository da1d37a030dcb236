// The whole command on the stand-in host: what is deleted, what the user is
// told, and that one undo brings everything back.
#include <gtest/gtest.h>

#include <limits>
#include <map>

#include "cleanup/PolylineCleaner.h"
#include "host/MemoryHost.h"

namespace veldra {
namespace {

using Result = PolylineCleaner::Outcome::Result;
using Pts = std::vector<Point2>;

// The stand-in host refuses to store malformed memos; this one hands them out
// as a damaged project of a real host could.
struct DamagedHost : MemoryHost {
  std::map<std::string, Memo> damaged;
  HostErr getElementMemo(const std::string& guid, Memo& out) override {
    auto it = damaged.find(guid);
    if (it == damaged.end()) return MemoryHost::getElementMemo(guid, out);
    out = it->second;
    return kHostOk;
  }
};

// One element: a polyline (points, arcs) or, with text, a text at points[0].
struct Item {
  Pts points;
  std::vector<PolyArc> arcs = {};
  std::u16string text = u"";
  bool layer2 = false;
  int pen = 1;
};

class RemoveDuplicates : public ::testing::Test {
 protected:
  RemoveDuplicates() { host.createAttribute(AttributeKind::Layer, "GIS_Druga", 0, 0, 0, layer2); }
  void clear() {
    ProjectData d = host.exportProject();
    d.elements.clear();
    ASSERT_EQ(host.importProject(d), "");
    host.damaged.clear();
    host.setSelection({});
  }
  std::string add(const Item& it, ElementType type = ElementType::Polyline) {
    Element e{.typeCode = static_cast<int>(it.text.empty() ? type : ElementType::Text)};
    host.getElementDefaults(e);
    e.layer = it.layer2 ? layer2 : 1;
    e.contourPen = it.pen;
    e.textSize = it.pen;
    e.thickness = 0.3;
    Memo m;
    if (it.text.empty()) {
      m.coords.push_back({});
      m.coords.insert(m.coords.end(), it.points.begin(), it.points.end());
      m.arcs = it.arcs;
      if (type == ElementType::Slab) m.ringEnds = {0, m.pointCount()};
    } else {
      e.location = it.points.front();
      m.text = it.text;
    }
    EXPECT_EQ(host.createElement(e, m), kHostOk);
    return e.guid;
  }
  const std::string& lastAlert() const { return host.shownAlerts().back().text; }

  DamagedHost host;
  int layer2 = 0;
};

TEST_F(RemoveDuplicates, EdgeCases) {
  const Pts open = {{0, 0}, {10, 0}, {10, 5}}, two = {{0, 0}, {3, 4}}, back = {{3, 4}, {0, 0}};
  const Pts ring = {{0, 0}, {4, 0}, {4, 3}, {0, 3}, {0, 0}};
  struct Case {
    const char* name;
    std::vector<Item> items;
    std::size_t lines, texts;   // deleted
  };
  const Case cases[] = {
      {"open polyline drawn backwards", {{open}, {{open.rbegin(), open.rend()}}}, 1, 0},
      {"closed polyline from another vertex", {{ring}, {{{4, 3}, {0, 3}, {0, 0}, {4, 0}, {4, 3}}}}, 1, 0},
      {"closed polyline backwards from another vertex", {{ring}, {{{4, 0}, {0, 0}, {0, 3}, {4, 3}, {4, 0}}}}, 1, 0},
      {"1.0001 and 1.0004 round together", {{{{1.0001, 0}, {5, 5}}}, {{{1.0004, 0}, {5, 5}}}}, 1, 0},
      {"1.0004 and 1.0006 round apart", {{{{1.0004, 0}, {5, 5}}}, {{{1.0006, 0}, {5, 5}}}}, 0, 0},
      {"same polyline on two layers", {{open}, {open, {}, u"", true}}, 0, 0},
      {"pens differ", {{open, {}, u"", false, 1}, {open, {}, u"", false, 7}}, 1, 0},
      {"arc against straight segment", {{two, {{1, 2, 0.7}}}, {two}}, 0, 0},
      {"arc drawn backwards", {{two, {{1, 2, 0.7}}}, {back, {{1, 2, -0.7}}}}, 1, 0},
      {"arc drawn backwards, angle kept", {{two, {{1, 2, 0.7}}}, {back, {{1, 2, 0.7}}}}, 0, 0},
      {"repeated vertex", {{{{0, 0}, {1, 0}, {1, 0}, {2, 0}}}, {{{0, 0}, {1, 0}, {2, 0}}}}, 0, 0},
      {"texts within a millimetre", {{{{5.0002, 1}}, {}, u"12/3"}, {{{5.0001, 1.0003}}, {}, u"12/3"}}, 0, 1},
      {"texts with different content", {{{{5, 1}}, {}, u"12/3"}, {{{5, 1}}, {}, u"12/4"}}, 0, 0},
      {"texts on two layers", {{{{5, 1}}, {}, u"12/3"}, {{{5, 1}}, {}, u"12/3", true}}, 0, 0},
      {"text sizes differ", {{{{5, 1}}, {}, u"12/3", false, 2}, {{{5, 1}}, {}, u"12/3", false, 4}}, 0, 1},
      {"three copies keep one", {{open}, {open}, {open}, {{{0, 0}}, {}, u"a"}, {{{0, 0}}, {}, u"a"}}, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    std::vector<std::string> ids;
    for (const Item& it : c.items) ids.push_back(add(it));
    const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
    EXPECT_EQ(out.deletedPolylines, c.lines);
    EXPECT_EQ(out.deletedTexts, c.texts);
    EXPECT_NE(host.findElement(ids.front()), nullptr);   // the first of a group stays
    EXPECT_EQ(host.elementCount(), ids.size() - c.lines - c.texts);
  }
}

TEST_F(RemoveDuplicates, SelectionOrderDecidesAndOneUndoRestores) {
  const Pts ring = {{0, 0}, {4, 0}, {4, 3}, {0, 0}};
  const std::string a = add({ring}), b = add({ring}), c = add({{{1, 1}}, {}, u"x"}), d = add({{{1, 1}}, {}, u"x"});
  host.setSelection({b, a, d, c, b});   // out of order and repeated: the first selected stays
  ASSERT_EQ(PolylineCleaner::RunRemoveDuplicatesCommand(host).result, Result::Removed);
  EXPECT_EQ(host.findElement(a), nullptr);
  EXPECT_EQ(host.findElement(c), nullptr);
  EXPECT_EQ(host.elementCount(), 2u);
  EXPECT_EQ(lastAlert(), "Usunieto duplikaty:\n- polilinie: 1\n- teksty: 1");
  ASSERT_TRUE(host.undoLast());   // what an undo restores is the stand-in host's own test
  EXPECT_EQ(host.elementCount(), 4u);
}

TEST_F(RemoveDuplicates, BadInputChangesNothing) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  struct Case {
    const char* name;
    int answer;          // to the first question; 1 is "Uruchom"
    bool selectSlab;
    Pts readPoints;      // what both polylines read back as, when set
    std::u16string readText;   // what both texts read back as, when set
    Result result;
  };
  const Case cases[] = {
      {"cancel", 2, false, {}, u"", Result::Cancelled},
      {"alert closed without a button", -1, false, {}, u"", Result::Cancelled},
      {"selection holds only a slab", 1, true, {}, u"", Result::NothingToCheck},
      {"one point", 1, false, {{0, 0}}, u"", Result::NoDuplicates},
      {"NaN coordinate", 1, false, {{0, 0}, {nan, 1}}, u"", Result::NoDuplicates},
      {"NaN everywhere", 1, false, {{nan, nan}, {nan, nan}}, u"", Result::NoDuplicates},
      {"unpaired surrogate", 1, false, {{0, 0}}, std::u16string(1, char16_t(0xD800)), Result::NoDuplicates},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clear();
    const std::string slab = add({{{0, 0}, {4, 0}, {4, 4}, {0, 0}}}, ElementType::Slab);
    // Duplicates unless the damage keeps them out; the texts differ unless damaged alike.
    const std::string p1 = add({{{0, 0}, {1, 1}}}), p2 = add({{{0, 0}, {1, 1}}});
    const std::string t1 = add({{{2, 2}}, {}, u"ab"}), t2 = add({{{2, 2}}, {}, u"cd"});
    if (!c.readPoints.empty()) {
      host.damaged[p1].coords = {{}};
      host.damaged[p1].coords.insert(host.damaged[p1].coords.end(), c.readPoints.begin(), c.readPoints.end());
      host.damaged[p2] = host.damaged[p1];
    }
    if (!c.readText.empty()) host.damaged[t1].text = host.damaged[t2].text = c.readText;
    if (c.selectSlab) host.setSelection({slab});
    host.queueAlertAnswer(c.answer);
    const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
    EXPECT_EQ(out.result, c.result);
    EXPECT_EQ(host.elementCount(), 5u);
    EXPECT_TRUE(host.commandTitles().empty());
  }
  EXPECT_EQ(lastAlert(), "Nie znaleziono zduplikowanych polilinii ani tekstow.");
}

TEST_F(RemoveDuplicates, RefusedDeletionKeepsEverythingAndTheUndoHistory) {
  const Pts open = {{0, 0}, {1, 1}};
  // A zero-length arc and an arc to the same point are drawn as they come.
  const std::vector<PolyArc> odd = {{1, 1, 0.5}, {2, 2, 1.0}};
  host.runUndoableCommand("Import GIS", [&] {
    add({open, odd});
    add({open, odd, u"", true});
    add({open, odd, u"", true});
    return kHostOk;
  });
  host.addRefusal(RefusalRule{HostOperation::DeleteElements, kHostErrRefused, 0, layer2});
  const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
  EXPECT_EQ(out.result, Result::Refused);
  EXPECT_EQ(host.elementCount(), 3u);
  EXPECT_NE(lastAlert().find("zablokowanej warstwie"), std::string::npos);
  EXPECT_EQ(host.commandTitles(), std::vector<std::string>{"Import GIS"});
  host.clearRefusals();
  EXPECT_EQ(PolylineCleaner::RunRemoveDuplicatesCommand(host).deletedPolylines, 1u);
}

}  // namespace
}  // namespace veldra
