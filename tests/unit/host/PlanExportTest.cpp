#include "host/PlanExport.h"

#include <gtest/gtest.h>

#include <cmath>

#include <nlohmann/json.hpp>

namespace veldra {
namespace {

using nlohmann::json;

StoredElement element(ElementType type, std::vector<Point2> pts, std::vector<int> ends = {}) {
  StoredElement s;
  s.element.typeCode = static_cast<int>(type);
  s.element.guid = "E" + std::to_string(pts.size());
  s.memo.coords.push_back({});
  s.memo.coords.insert(s.memo.coords.end(), pts.begin(), pts.end());
  if (!ends.empty()) {
    s.memo.ringEnds = {0};
    s.memo.ringEnds.insert(s.memo.ringEnds.end(), ends.begin(), ends.end());
  }
  return s;
}

json plan(std::vector<StoredElement> elements) {
  ProjectData p;
  p.elements = std::move(elements);
  return json::parse(planJson(p, 7));
}

// An arc's chords lie on the circle through its ends, on the side its turning direction says.
TEST(PlanExport, ArcsBecomeChordsOnTheirCircle) {
  struct Case { double angle; double side; };
  for (const Case c : {Case{M_PI, -1}, Case{-M_PI, 1}, Case{M_PI / 2, -1}}) {
    StoredElement s = element(ElementType::Polyline, {{0, 0}, {10, 0}});
    s.memo.arcs = {PolyArc{1, 2, c.angle}};
    const json pts = plan({s})["elements"][0]["parts"][0];
    ASSERT_GT(pts.size(), 6u) << c.angle;
    // Centre and radius from the chord and the sweep, independently of the code's construction.
    const double r = 5 / std::sin(std::abs(c.angle) / 2), cy = c.side * -std::sqrt(std::max(0.0, r * r - 25));
    for (std::size_t i = 0; i + 1 < pts.size(); i += 2) {
      const double x = pts[i], y = pts[i + 1];
      EXPECT_NEAR(std::hypot(x - 5, y - cy), r, 1e-3) << c.angle;   // written to the millimetre
      EXPECT_GE(y * c.side, -1e-3) << c.angle;
    }
    EXPECT_EQ(pts[pts.size() - 2], 10.0);
  }
}

TEST(PlanExport, PartsRingsAndWhatThePlanLeavesOut) {
  StoredElement twoParts = element(ElementType::Polyline, {{0, 0}, {1, 0}, {5, 5}, {6, 5}}, {2, 4});
  StoredElement withHole = element(ElementType::Fill, {{0, 0}, {9, 0}, {9, 9}, {0, 0}, {1, 1}, {2, 1}, {2, 2}, {1, 1}}, {4, 8});
  StoredElement text;
  text.element.typeCode = static_cast<int>(ElementType::Text);
  text.element.location = {-3, 20};
  text.memo.text = u"dz. 12/5 \u0142";
  StoredElement mesh = element(ElementType::Mesh, {{0, 0}, {100, 0}, {100, 100}, {0, 0}}, {4});
  StoredElement far = element(ElementType::Polyline, {{0, 0}, {1e300 * 10, 0}});
  const json doc = plan({twoParts, withHole, text, mesh, far});
  const json& els = doc["elements"];
  ASSERT_EQ(els.size(), 3u) << doc.dump();   // the mesh is 3D only, the infinite one is unsound
  EXPECT_EQ(els[0]["parts"], json::parse("[[0.0,0.0,1.0,0.0],[5.0,5.0,6.0,5.0]]"));
  EXPECT_EQ(els[1]["rings"].size(), 2u);
  EXPECT_EQ(els[1]["rings"][1].size(), 6u);   // three corners, no repeated first point
  EXPECT_EQ(els[2]["text"], "dz. 12/5 \u0142");
  EXPECT_EQ(doc["bounds"], json::parse("[-3.0,0.0,9.0,20.0]"));
  EXPECT_EQ(doc["revision"], 7);
}

}  // namespace
}  // namespace veldra
