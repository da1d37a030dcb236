// The whole command on the stand-in host: what is deleted, what the user is
// told, and that one undo brings everything back.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>

#include "cleanup/PolylineCleaner.h"
#include "host/MemoryHost.h"

namespace veldra {
namespace {

using Result = PolylineCleaner::Outcome::Result;

// The stand-in host refuses to store malformed memos; this one hands them out
// as a real host's damaged project could.
class DamagedHost : public MemoryHost {
 public:
  std::map<std::string, Memo> damaged;
  HostErr getElementMemo(const std::string& guid, Memo& out) override {
    if (auto it = damaged.find(guid); it != damaged.end()) {
      out = it->second;
      return kHostOk;
    }
    return MemoryHost::getElementMemo(guid, out);
  }
};

struct Line {
  std::vector<Point2> points;
  std::vector<PolyArc> arcs = {};
  int layer = 1;
  int pen = 1;
};

struct Label {
  Point2 at;
  std::u16string text;
  int layer = 1;
  double size = 2.5;
};

class RemoveDuplicates : public ::testing::Test {
 protected:
  RemoveDuplicates() {
    int index = 0;
    host.createAttribute(AttributeKind::Layer, "GIS_Druga", 0, 0, 0, index);
    second = index;
  }
  std::string add(const Line& l) {
    Element e;
    e.typeCode = static_cast<int>(ElementType::Polyline);
    host.getElementDefaults(e);
    e.layer = l.layer;
    e.contourPen = l.pen;
    Memo m;
    m.coords.push_back({});
    m.coords.insert(m.coords.end(), l.points.begin(), l.points.end());
    m.arcs = l.arcs;
    EXPECT_EQ(host.createElement(e, m), kHostOk);
    return e.guid;
  }
  std::string add(const Label& t) {
    Element e;
    e.typeCode = static_cast<int>(ElementType::Text);
    host.getElementDefaults(e);
    e.layer = t.layer;
    e.location = t.at;
    e.textSize = t.size;
    Memo m;
    m.text = t.text;
    EXPECT_EQ(host.createElement(e, m), kHostOk);
    return e.guid;
  }
  std::string addSlab() {
    Element e;
    e.typeCode = static_cast<int>(ElementType::Slab);
    host.getElementDefaults(e);
    e.thickness = 0.3;
    Memo m;
    m.coords = {{}, {0, 0}, {4, 0}, {4, 4}, {0, 0}};
    m.ringEnds = {0, 4};
    EXPECT_EQ(host.createElement(e, m), kHostOk);
    return e.guid;
  }
  void clearElements() {
    ProjectData d = host.exportProject();
    d.elements.clear();
    ASSERT_EQ(host.importProject(d), "");
  }
  const std::string& lastAlert() const { return host.shownAlerts().back().text; }

  DamagedHost host;
  int second = 0;
};

TEST_F(RemoveDuplicates, EdgeCases) {
  const std::vector<Point2> open = {{0, 0}, {10, 0}, {10, 5}};
  const std::vector<Point2> ring = {{0, 0}, {4, 0}, {4, 3}, {0, 3}, {0, 0}};
  const std::vector<Point2> ringFrom2 = {{4, 3}, {0, 3}, {0, 0}, {4, 0}, {4, 3}};
  const std::vector<Point2> ringBackFrom1 = {{4, 0}, {0, 0}, {0, 3}, {4, 3}, {4, 0}};
  const std::vector<Point2> two = {{0, 0}, {3, 4}};
  struct Case {
    const char* name;
    std::vector<Line> lines;
    std::vector<Label> labels;
    std::size_t deletedLines, deletedLabels;
  };
  const Case cases[] = {
      {"open polyline drawn backwards", {{open}, {{open.rbegin(), open.rend()}}}, {}, 1, 0},
      {"closed polyline from another vertex", {{ring}, {ringFrom2}}, {}, 1, 0},
      {"closed polyline backwards from another vertex", {{ring}, {ringBackFrom1}}, {}, 1, 0},
      {"1.0001 and 1.0004 round together", {{{{1.0001, 0}, {5, 5}}}, {{{1.0004, 0}, {5, 5}}}}, {}, 1, 0},
      {"1.0004 and 1.0006 round apart", {{{{1.0004, 0}, {5, 5}}}, {{{1.0006, 0}, {5, 5}}}}, {}, 0, 0},
      {"same polyline on two layers", {{open, {}, 1}, {open, {}, 2}}, {}, 0, 0},
      {"pens differ", {{open, {}, 1, 1}, {open, {}, 1, 7}}, {}, 1, 0},
      {"arc against straight segment", {{two, {{1, 2, 0.7}}}, {two}}, {}, 0, 0},
      {"arc drawn backwards", {{two, {{1, 2, 0.7}}}, {{{3, 4}, {0, 0}}, {{1, 2, -0.7}}}}, {}, 1, 0},
      {"arc drawn backwards, angle kept", {{two, {{1, 2, 0.7}}}, {{{3, 4}, {0, 0}}, {{1, 2, 0.7}}}}, {}, 0, 0},
      {"repeated vertex", {{{{0, 0}, {1, 0}, {1, 0}, {2, 0}}}, {{{0, 0}, {1, 0}, {2, 0}}}}, {}, 0, 0},
      {"texts within a millimetre", {}, {{{5.0002, 1}, u"12/3"}, {{5.0001, 1.0003}, u"12/3"}}, 0, 1},
      {"texts with different content", {}, {{{5, 1}, u"12/3"}, {{5, 1}, u"12/4"}}, 0, 0},
      {"texts on two layers", {}, {{{5, 1}, u"12/3", 1}, {{5, 1}, u"12/3", 2}}, 0, 0},
      {"text size differs", {}, {{{5, 1}, u"12/3", 1, 2.5}, {{5, 1}, u"12/3", 1, 4.0}}, 0, 1},
      {"three copies keep one", {{open}, {open}, {open}}, {{{0, 0}, u"a"}, {{0, 0}, u"a"}}, 2, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearElements();
    std::vector<std::string> kept;
    for (const Line& l : c.lines) kept.push_back(add(Line{l.points, l.arcs, l.layer == 2 ? second : 1, l.pen}));
    for (const Label& t : c.labels) kept.push_back(add(Label{t.at, t.text, t.layer == 2 ? second : 1, t.size}));
    const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
    EXPECT_EQ(out.deletedPolylines, c.deletedLines);
    EXPECT_EQ(out.deletedTexts, c.deletedLabels);
    // The first of each group stays.
    EXPECT_NE(host.findElement(kept.front()), nullptr);
    EXPECT_EQ(host.elementCount(), kept.size() - c.deletedLines - c.deletedLabels);
  }
}

TEST_F(RemoveDuplicates, OneUndoRestoresEveryDeletedElement) {
  const std::vector<Point2> ring = {{0, 0}, {4, 0}, {4, 3}, {0, 0}};
  const std::string a = add(Line{ring}), b = add(Line{ring}), c = add(Label{{1, 1}, u"x"}), d = add(Label{{1, 1}, u"x"});
  const auto before = host.exportProject();
  host.setSelection({b, a, d, c, b});   // repeated and out of order: the first selected stays
  const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
  ASSERT_EQ(out.result, Result::Removed);
  EXPECT_NE(host.findElement(b), nullptr);
  EXPECT_EQ(host.findElement(a), nullptr);
  EXPECT_EQ(host.findElement(c), nullptr);
  EXPECT_EQ(lastAlert(), "Usunieto duplikaty:\n- polilinie: 1\n- teksty: 1");
  EXPECT_EQ(host.commandTitles(), std::vector<std::string>{"Usun duplikaty (polilinie + teksty)"});
  ASSERT_TRUE(host.undoLast());
  const auto after = host.exportProject();
  ASSERT_EQ(after.elements.size(), before.elements.size());
  for (std::size_t i = 0; i < before.elements.size(); ++i) EXPECT_EQ(after.elements[i].element.guid, before.elements[i].element.guid);
}

TEST_F(RemoveDuplicates, BadInputChangesNothingItShouldNot) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<Point2> open = {{0, 0}, {1, 1}};
  struct Case {
    const char* name;
    int cancelAnswer;            // 0: answer "Uruchom"
    bool selectSlabOnly;
    std::vector<Point2> damagedPoints;   // read back for both polylines when set
    std::u16string damagedText;          // read back for both texts (otherwise different) when set
    std::vector<PolyArc> arcs;           // on both polylines
    Result result;
    const char* alert;
  };
  const Case cases[] = {
      {"cancel", 2, false, {}, u"", {}, Result::Cancelled, nullptr},
      {"alert closed without a button", -1, false, {}, u"", {}, Result::Cancelled, nullptr},
      {"selection holds only a slab", 0, true, {}, u"", {}, Result::NothingToCheck, "Brak polilinii i tekstow do sprawdzenia."},
      {"one point", 0, false, {{0, 0}}, u"", {}, Result::NoDuplicates, "Nie znaleziono zduplikowanych polilinii ani tekstow."},
      {"NaN coordinate", 0, false, {{0, 0}, {nan, 1}}, u"", {}, Result::NoDuplicates, nullptr},
      {"NaN twins", 0, false, {{nan, nan}, {nan, nan}}, u"", {}, Result::NoDuplicates, nullptr},
      {"unpaired surrogate", 0, false, {{0, 0}}, std::u16string(1, char16_t(0xD800)), {}, Result::NoDuplicates, nullptr},
      {"zero-length arc", 0, false, {}, u"", {{1, 1, 0.5}, {2, 2, 1.0}}, Result::Removed, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    clearElements();
    host.damaged.clear();
    host.setSelection({});
    const std::string slab = addSlab();
    const std::string p1 = add(Line{open, c.arcs}), p2 = add(Line{open, c.arcs});
    const std::string t1 = add(Label{{2, 2}, u"ab"}), t2 = add(Label{{2, 2}, u"cd"});
    if (!c.damagedPoints.empty()) {
      Memo m;
      m.coords.push_back({});
      m.coords.insert(m.coords.end(), c.damagedPoints.begin(), c.damagedPoints.end());
      host.damaged[p1] = host.damaged[p2] = m;
    }
    if (!c.damagedText.empty()) {
      Memo m;
      m.text = c.damagedText;
      host.damaged[t1] = host.damaged[t2] = m;
    }
    if (c.selectSlabOnly) host.setSelection({slab});
    if (c.cancelAnswer != 0) host.queueAlertAnswer(c.cancelAnswer);
    const std::size_t alertsBefore = host.shownAlerts().size();
    const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
    EXPECT_EQ(out.result, c.result);
    if (c.alert) {
      EXPECT_EQ(lastAlert(), c.alert);
    }
    if (c.result != Result::Removed) {
      EXPECT_EQ(host.elementCount(), 5u);
      EXPECT_TRUE(host.commandTitles().empty());
    }
    if (c.result == Result::Cancelled) {
      EXPECT_EQ(host.shownAlerts().size(), alertsBefore + 1);
    }
  }
}

TEST_F(RemoveDuplicates, RefusedDeletionKeepsEverythingAndTheUndoHistory) {
  const std::vector<Point2> open = {{0, 0}, {1, 1}};
  ASSERT_EQ(host.runUndoableCommand("Import GIS", [&] {
    add(Line{open});
    add(Line{open, {}, second});
    add(Line{open, {}, second});
    return kHostOk;
  }), kHostOk);
  host.addRefusal(RefusalRule{HostOperation::DeleteElements, kHostErrRefused, 0, second});
  const auto out = PolylineCleaner::RunRemoveDuplicatesCommand(host);
  EXPECT_EQ(out.result, Result::Refused);
  EXPECT_EQ(out.error, kHostErrRefused);
  EXPECT_EQ(host.elementCount(), 3u);
  EXPECT_NE(lastAlert().find("zablokowanej warstwie"), std::string::npos);
  EXPECT_EQ(host.commandTitles(), std::vector<std::string>{"Import GIS"});
  EXPECT_TRUE(host.undoLast());
  EXPECT_EQ(host.elementCount(), 0u);
}

}  // namespace
}  // namespace veldra
