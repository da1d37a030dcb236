#include "cleanup/DuplicateKeys.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string_view>

namespace veldra::cleanup {

void appendKeyNumber(std::string& out, double v) {
  if (v == 0.0) {   // most arc angles: straight segments
    out.append("0|");
    return;
  }
  double r = std::floor(v * 1000.0 + 0.5) / 1000.0;
  if (r == 0.0) r = 0.0;   // -0 prints as "-0"
  char buf[40];
  // Same text as "%.17g" (to_chars with a precision is printf's %g), without
  // printf's locale lookup: a big drawing formats millions of numbers.
  const auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::general, 17);
  out.append(buf, res.ptr);
  out.push_back('|');
}

std::string formatKeyNumber(double v) {
  std::string out;
  appendKeyNumber(out, v);
  return out;
}

namespace {

// Angle of segment i: the first arc running from point i to point i+1.
std::vector<double> segmentAngles(const PolylineRecord& record) {
  const std::size_t n = record.points.size();
  std::vector<double> angles(n > 1 ? n - 1 : 0, 0.0);
  std::vector<bool> taken(angles.size(), false);
  for (const ArcRecord& a : record.arcs) {
    if (a.begin < 0 || static_cast<std::size_t>(a.begin) >= angles.size() || a.end != a.begin + 1) continue;
    if (taken[a.begin]) continue;
    taken[a.begin] = true;
    angles[a.begin] = a.angle;
  }
  return angles;
}

// One direction of a polyline as key tokens: point i ("x|y|") and the angle of
// the segment from point i to point i+1. Every token ends with '|', which sorts
// after every character a number is written with and occurs nowhere else, so
// no token is a prefix of another: comparing two serialisations byte-wise is
// comparing their token sequences token by token.
struct Walk {
  std::vector<std::string_view> point;   // m + 1
  std::vector<std::string_view> angle;   // m

  std::size_t segments() const { return angle.size(); }

  // The serialisation of the segment list rotated to start at segment k.
  void appendRotation(std::size_t k, std::string& out) const {
    const std::size_t m = segments();
    out.append(point[k]);
    for (std::size_t t = 0; t < m; ++t) {
      const std::size_t s = (k + t) % m;
      out.append(angle[s]);
      out.append(point[s + 1]);
    }
  }

  // Token `idx` of rotation k: start point, then angle and end of each segment.
  std::string_view token(std::size_t k, std::size_t idx) const {
    if (idx == 0) return point[k];
    const std::size_t s = (k + (idx - 1) / 2) % segments();
    return idx % 2 == 1 ? angle[s] : point[s + 1];
  }
};

int compareViews(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

// Least rotation of a cyclic sequence of m symbols (two-pointer method,
// at most 3m comparisons).
template <class Compare>
std::size_t leastRotation(std::size_t m, Compare cmp) {
  std::size_t i = 0, j = 1, k = 0;
  while (i < m && j < m && k < m) {
    const int c = cmp((i + k) % m, (j + k) % m);
    if (c == 0) {
      ++k;
      continue;
    }
    if (c > 0) i += k + 1;
    else j += k + 1;
    if (i == j) ++j;
    k = 0;
  }
  return std::min(i, j);
}

std::size_t smallestRotation(const Walk& w) {
  const std::size_t m = w.segments();
  if (w.point.front() == w.point.back()) {
    // The last point writes as the first, so rotation k reads as the cycle of
    // symbols (point s, angle s) from s = k, followed by point k again: equal
    // cycles give equal texts, and the smallest text is the smallest cycle.
    return leastRotation(m, [&](std::size_t a, std::size_t b) {
      const int c = compareViews(w.point[a], w.point[b]);
      return c != 0 ? c : compareViews(w.angle[a], w.angle[b]);
    });
  }
  // A record marked closed whose ends differ after rounding (never one read
  // from the host, which marks closed only when the ends are equal): compare
  // the rotations token by token.
  std::size_t best = 0;
  for (std::size_t k = 1; k < m; ++k) {
    for (std::size_t idx = 0; idx <= 2 * m; ++idx) {
      const int c = compareViews(w.token(k, idx), w.token(best, idx));
      if (c < 0) best = k;
      if (c != 0) break;
    }
  }
  return best;
}

}  // namespace

std::vector<Segment> polylineSegments(const PolylineRecord& record) {
  const std::vector<double> angles = segmentAngles(record);
  std::vector<Segment> out;
  out.reserve(angles.size());
  for (std::size_t i = 0; i < angles.size(); ++i) out.push_back(Segment{record.points[i], record.points[i + 1], angles[i]});
  return out;
}

std::string polylineKey(const PolylineRecord& record) {
  const std::string prefix = record.closed ? "closed:" : "open:";
  const std::size_t n = record.points.size();
  if (n < 2) return prefix + "empty";
  const std::size_t m = n - 1;
  const std::vector<double> angles = segmentAngles(record);

  // All tokens in one buffer: point i, then the angle of segment i forwards
  // and backwards (negated).
  std::string arena;
  arena.reserve(n * 48);
  // Start offsets, each list closed by the end of its last token.
  std::vector<std::size_t> pointAt, angleAt;
  pointAt.reserve(n + 1);
  angleAt.reserve(2 * m + 1);
  for (const Point2& p : record.points) {
    pointAt.push_back(arena.size());
    appendKeyNumber(arena, p.x);
    appendKeyNumber(arena, p.y);
  }
  pointAt.push_back(arena.size());
  for (const double a : angles) {
    angleAt.push_back(arena.size());
    appendKeyNumber(arena, a);
    angleAt.push_back(arena.size());
    appendKeyNumber(arena, -a);
  }
  angleAt.push_back(arena.size());
  const std::string_view all(arena);
  const auto pointTok = [&](std::size_t i) { return all.substr(pointAt[i], pointAt[i + 1] - pointAt[i]); };
  const auto angleTok = [&](std::size_t k) { return all.substr(angleAt[k], angleAt[k + 1] - angleAt[k]); };
  const auto fwdTok = [&](std::size_t i) { return angleTok(2 * i); };
  const auto revTok = [&](std::size_t i) { return angleTok(2 * i + 1); };

  std::string a, b;
  a.reserve(arena.size());
  b.reserve(arena.size());
  if (!record.closed) {
    a.append(pointTok(0));
    b.append(pointTok(m));
    for (std::size_t i = 0; i < m; ++i) {
      a.append(fwdTok(i)).append(pointTok(i + 1));
      b.append(revTok(m - 1 - i)).append(pointTok(m - 1 - i));
    }
    return prefix + std::min(a, b);
  }

  Walk forward, backward;
  forward.point.reserve(n), backward.point.reserve(n);
  forward.angle.reserve(m), backward.angle.reserve(m);
  for (std::size_t i = 0; i < n; ++i) {
    forward.point.push_back(pointTok(i));
    backward.point.push_back(pointTok(n - 1 - i));
  }
  for (std::size_t i = 0; i < m; ++i) {
    forward.angle.push_back(fwdTok(i));
    backward.angle.push_back(revTok(m - 1 - i));
  }

  forward.appendRotation(smallestRotation(forward), a);
  backward.appendRotation(smallestRotation(backward), b);
  return prefix + std::min(a, b);
}

std::string textKey(const TextRecord& record) {
  std::string out;
  appendKeyNumber(out, record.position.x);
  appendKeyNumber(out, record.position.y);
  out += record.content;
  return out;
}

}  // namespace veldra::cleanup
