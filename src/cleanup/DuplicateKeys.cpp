#include "cleanup/DuplicateKeys.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace veldra::cleanup {

namespace {

__extension__ typedef unsigned __int128 Wide;   // GCC and Clang on 64-bit targets

// "%.17g" of a in [1e-3, 1e16), which is always written without an exponent.
// The 17 significant digits come from exact integer arithmetic: a = m * 2^e,
// so a * 10^s = m * 10^s / 2^-e with m < 2^53 and 10^s < 2^64, which fits in
// 128 bits; the remainder rounds half to even as printf does. Several times
// faster than to_chars with a precision, and a key writes millions of numbers.
void appendFixed17(std::string& out, double a) {
  static constexpr std::uint64_t kPow10[] = {
      1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull, 1000000ull, 10000000ull, 100000000ull, 1000000000ull,
      10000000000ull, 100000000000ull, 1000000000000ull, 10000000000000ull, 100000000000000ull,
      1000000000000000ull, 10000000000000000ull, 100000000000000000ull, 1000000000000000000ull,
      10000000000000000000ull};
  // 10^-3 to 10^15 as doubles: each is the smallest double not below the
  // power, so a >= kFloor[x + 3] exactly when a >= 10^x.
  static constexpr double kFloor[] = {1e-3, 1e-2, 1e-1, 1e0, 1e1, 1e2,  1e3,  1e4,  1e5, 1e6,
                                      1e7,  1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
  const auto bits = std::bit_cast<std::uint64_t>(a);
  const std::uint64_t m = (bits & ((std::uint64_t{1} << 52) - 1)) | (std::uint64_t{1} << 52);
  const int e = static_cast<int>((bits >> 52) & 0x7ff) - 1075;   // a = m * 2^e, -63 <= e <= 1 in this range
  constexpr std::uint64_t kLow = kPow10[16], kHigh = kPow10[17];
  int decimalExp = 15;   // a = d.ddd * 10^decimalExp
  while (decimalExp > -3 && a < kFloor[decimalExp + 3]) --decimalExp;
  const int s = 16 - decimalExp;   // 1 to 19
  const Wide n = static_cast<Wide>(m) * kPow10[s];
  Wide q = e >= 0 ? n << e : n >> -e;
  if (e < 0) {
    const Wide rest = n - (q << -e);
    const Wide half = static_cast<Wide>(1) << (-e - 1);
    if (rest > half || (rest == half && (q & 1) != 0)) ++q;
  }
  if (q == kHigh) {   // rounded up to the next power of ten
    q = kLow;
    ++decimalExp;
  }
  // Two halves of 9 and 8 digits, written side by side in 32-bit steps.
  auto high = static_cast<std::uint32_t>(static_cast<std::uint64_t>(q) / 100000000);
  auto low = static_cast<std::uint32_t>(static_cast<std::uint64_t>(q) % 100000000);
  char d[17];
  for (int i = 16; i >= 9; --i, high /= 10, low /= 10) {
    d[i] = static_cast<char>('0' + low % 10);
    d[i - 8] = static_cast<char>('0' + high % 10);
  }
  d[0] = static_cast<char>('0' + high);
  int last = 16;   // trailing zeros of the fraction are dropped
  const int intDigits = decimalExp >= 0 ? decimalExp + 1 : 0;
  while (last >= intDigits && d[last] == '0') --last;
  if (decimalExp >= 0) {
    out.append(d, static_cast<std::size_t>(intDigits));
    if (last >= intDigits) out.push_back('.');
    out.append(d + intDigits, static_cast<std::size_t>(last + 1 - intDigits));
  } else {
    out.append("0.");
    out.append(static_cast<std::size_t>(-decimalExp - 1), '0');
    out.append(d, static_cast<std::size_t>(last + 1));
  }
}

}  // namespace

void appendKeyNumber(std::string& out, double v) {
  if (v == 0.0) {   // most arc angles: straight segments
    out.append("0|");
    return;
  }
  double r = std::floor(v * 1000.0 + 0.5) / 1000.0;
  if (r == 0.0) r = 0.0;   // -0 prints as "-0"
  const double a = std::fabs(r);
  if (a >= 1e-3 && a < 1e16) {
    if (r < 0) out.push_back('-');
    appendFixed17(out, a);
  } else {
    char buf[40];
    // Same text as "%.17g" (to_chars with a precision is printf's %g), without
    // printf's locale lookup.
    const auto res = std::to_chars(buf, buf + sizeof buf, r, std::chars_format::general, 17);
    out.append(buf, res.ptr);
  }
  out.push_back('|');
}

std::string formatKeyNumber(double v) {
  std::string out;
  appendKeyNumber(out, v);
  return out;
}

namespace {

// Angle of segment i: the first arc running from point i to point i+1.
void segmentAngles(const PolylineRecord& record, std::vector<double>& angles, std::vector<char>& taken) {
  const std::size_t n = record.points.size();
  angles.assign(n > 1 ? n - 1 : 0, 0.0);
  taken.assign(angles.size(), 0);
  for (const ArcRecord& a : record.arcs) {
    if (a.begin < 0 || static_cast<std::size_t>(a.begin) >= angles.size() || a.end != a.begin + 1) continue;
    if (taken[a.begin]) continue;
    taken[a.begin] = 1;
    angles[a.begin] = a.angle;
  }
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
  void clear() {
    point.clear();
    angle.clear();
  }

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

struct KeyWriter::Buffers {
  std::vector<double> angles;
  std::vector<char> taken;
  std::string arena;   // every token once: point i, then the angle of segment i forwards and backwards
  std::vector<std::size_t> pointAt, angleAt;   // token starts, each list closed by the end of its last token
  Walk forward, backward;
  std::string a, b;   // the two candidates, each after the prefix
};

KeyWriter::KeyWriter() : buffers_(std::make_unique<Buffers>()) {}
KeyWriter::~KeyWriter() = default;

std::vector<Segment> polylineSegments(const PolylineRecord& record) {
  std::vector<double> angles;
  std::vector<char> taken;
  segmentAngles(record, angles, taken);
  std::vector<Segment> out;
  out.reserve(angles.size());
  for (std::size_t i = 0; i < angles.size(); ++i) out.push_back(Segment{record.points[i], record.points[i + 1], angles[i]});
  return out;
}

std::string_view KeyWriter::polyline(const PolylineRecord& record) {
  Buffers& buf = *buffers_;
  const std::string_view prefix = record.closed ? "closed:" : "open:";
  std::string& a = buf.a;
  std::string& b = buf.b;
  a.assign(prefix);
  const std::size_t n = record.points.size();
  if (n < 2) return a.append("empty");
  const std::size_t m = n - 1;
  segmentAngles(record, buf.angles, buf.taken);

  std::string& arena = buf.arena;
  arena.clear();
  arena.reserve(n * 48);
  buf.pointAt.clear();
  buf.angleAt.clear();
  for (const Point2& p : record.points) {
    buf.pointAt.push_back(arena.size());
    appendKeyNumber(arena, p.x);
    appendKeyNumber(arena, p.y);
  }
  buf.pointAt.push_back(arena.size());
  for (const double angle : buf.angles) {
    buf.angleAt.push_back(arena.size());
    appendKeyNumber(arena, angle);
    buf.angleAt.push_back(arena.size());
    appendKeyNumber(arena, -angle);
  }
  buf.angleAt.push_back(arena.size());
  const std::string_view all(arena);
  const auto pointTok = [&](std::size_t i) { return all.substr(buf.pointAt[i], buf.pointAt[i + 1] - buf.pointAt[i]); };
  const auto angleTok = [&](std::size_t k) { return all.substr(buf.angleAt[k], buf.angleAt[k + 1] - buf.angleAt[k]); };
  const auto fwdTok = [&](std::size_t i) { return angleTok(2 * i); };
  const auto revTok = [&](std::size_t i) { return angleTok(2 * i + 1); };

  b.assign(prefix);
  a.reserve(prefix.size() + arena.size());
  b.reserve(prefix.size() + arena.size());
  if (!record.closed) {
    a.append(pointTok(0));
    b.append(pointTok(m));
    for (std::size_t i = 0; i < m; ++i) {
      a.append(fwdTok(i)).append(pointTok(i + 1));
      b.append(revTok(m - 1 - i)).append(pointTok(m - 1 - i));
    }
    return std::min<std::string_view>(a, b);
  }

  Walk& forward = buf.forward;
  Walk& backward = buf.backward;
  forward.clear();
  backward.clear();
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
  return std::min<std::string_view>(a, b);
}

std::string_view KeyWriter::text(const TextRecord& record) {
  std::string& out = buffers_->a;
  out.clear();
  appendKeyNumber(out, record.position.x);
  appendKeyNumber(out, record.position.y);
  out += record.content;
  return out;
}

std::string polylineKey(const PolylineRecord& record) { return std::string(KeyWriter().polyline(record)); }

std::string textKey(const TextRecord& record) { return std::string(KeyWriter().text(record)); }

}  // namespace veldra::cleanup
