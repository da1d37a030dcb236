// The polyline key built the slow, obvious way: every candidate written out in
// full with printf and the smallest kept. The fast key must give the same text.
#pragma once

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "cleanup/DuplicateKeys.h"

namespace veldra::cleanup::literal {

inline std::string number(double v) {
  double r = std::floor(v * 1000 + 0.5) / 1000;
  if (r == 0) r = 0;
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.17g|", r);
  return buf;
}

inline std::string serialise(const std::vector<Segment>& s) {
  std::string out = number(s.front().start.x) + number(s.front().start.y);
  for (const Segment& g : s) out += number(g.arcAngle) + number(g.end.x) + number(g.end.y);
  return out;
}

inline std::string key(const PolylineRecord& r) {
  const std::string prefix = r.closed ? "closed:" : "open:";
  std::vector<Segment> segs;
  for (std::size_t i = 0; i + 1 < r.points.size(); ++i) {
    double angle = 0;
    for (const ArcRecord& a : r.arcs)
      if (a.begin == static_cast<int>(i) && a.end == static_cast<int>(i) + 1) {
        angle = a.angle;
        break;
      }
    segs.push_back(Segment{r.points[i], r.points[i + 1], angle});
  }
  if (segs.empty()) return prefix + "empty";
  std::vector<Segment> rev;
  for (auto it = segs.rbegin(); it != segs.rend(); ++it) rev.push_back(Segment{it->end, it->start, -it->arcAngle});
  std::vector<std::string> candidates;
  if (!r.closed) {
    candidates = {serialise(segs), serialise(rev)};
  } else {
    for (std::size_t k = 0; k < segs.size(); ++k)
      for (const auto* list : {&segs, &rev}) {
        std::vector<Segment> rot(list->begin() + k, list->end());
        rot.insert(rot.end(), list->begin(), list->begin() + k);
        candidates.push_back(serialise(rot));
      }
  }
  std::string best = candidates.front();
  for (const auto& c : candidates) best = std::min(best, c);
  return prefix + best;
}

}  // namespace veldra::cleanup::literal
