#include "terrain/Contours.h"

#include <algorithm>
#include <bit>
#include <cstdio>

namespace veldra {
namespace {

constexpr double kPi = 3.14159265358979323846;

std::string formatNumber(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, std::fabs(v) >= 1e6 ? "%.4g" : "%.2f", v);
  std::string s(buf);
  std::replace(s.begin(), s.end(), '.', ',');
  return s;
}

// Endpoints of one level's segments, grouped by their coordinates rounded to
// millimetres. Open addressing; each slot heads a chain of endpoint ids.
class EndpointIndex {
 public:
  void reset(std::size_t endpoints) {
    std::size_t cap = 16;
    while (cap < endpoints * 2) cap <<= 1;
    if (slots_.size() != cap) slots_.resize(cap);
    std::fill(slots_.begin(), slots_.end(), Slot{});
    mask_ = cap - 1;
    next_.resize(endpoints);
    slotOf_.resize(endpoints);
  }

  void insert(std::uint32_t id, double x, double y) {
    const double kx = std::round(x * 1000.0) + 0.0;  // + 0.0 folds -0 into 0
    const double ky = std::round(y * 1000.0) + 0.0;
    std::uint64_t h = std::bit_cast<std::uint64_t>(kx) * 0x9E3779B97F4A7C15ull;
    h ^= std::bit_cast<std::uint64_t>(ky) * 0xC2B2AE3D27D4EB4Full;
    h ^= h >> 31;
    std::size_t i = static_cast<std::size_t>(h) & mask_;
    for (;;) {
      Slot& s = slots_[i];
      if (s.head < 0) {
        s.kx = kx;
        s.ky = ky;
        break;
      }
      if (s.kx == kx && s.ky == ky) break;
      i = (i + 1) & mask_;
    }
    next_[id] = slots_[i].head;
    slots_[i].head = static_cast<std::int32_t>(id);
    slotOf_[id] = static_cast<std::uint32_t>(i);
  }

  std::uint32_t slotOf(std::uint32_t id) const { return slotOf_[id]; }
  std::int32_t head(std::uint32_t slot) const { return slots_[slot].head; }
  std::int32_t next(std::uint32_t id) const { return next_[id]; }

 private:
  struct Slot {
    double kx = 0, ky = 0;
    std::int32_t head = -1;
  };
  std::vector<Slot> slots_;
  std::vector<std::int32_t> next_;
  std::vector<std::uint32_t> slotOf_;
  std::size_t mask_ = 0;
};

struct Segment {
  Point2 p[2];
};

// Min/max of the valid nodes of blocks of kBlock x kBlock cells, so that a
// level only visits the blocks it can cross.
constexpr std::int32_t kBlock = 16;

struct BlockRange {
  double lo = std::numeric_limits<double>::infinity();
  double hi = -std::numeric_limits<double>::infinity();
};

double polylineLength(const std::vector<Point2>& pts) {
  double len = 0.0;
  for (std::size_t i = 1; i < pts.size(); ++i) len += std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
  return len;
}

}  // namespace

std::size_t ContourLattice::validCount() const {
  return static_cast<std::size_t>(std::count_if(z.begin(), z.end(), [](double v) { return !std::isnan(v); }));
}

std::string formatContourNumber(double v) { return formatNumber(v); }

bool isAllowedContourInterval(double interval) {
  for (double allowed : {0.25, 0.5, 1.0, 2.0})
    if (std::fabs(interval - allowed) <= 1e-6) return true;
  return false;
}

std::string contourIntervalNotice(double interval) {
  return "Poziomice: ciecie " + formatNumber(interval) +
         " m nie jest dozwolona wartoscia (dozwolone: 0,25 / 0,5 / 1,0 / 2,0 m) - poziomice pominiete.";
}

double contourGridStep(const Bbox& frame, double requestedStep, std::string& message) {
  const double step = requestedStep > 0.0 ? requestedStep : 1.0;
  const double width = frame.maxX - frame.minX;
  const double height = frame.maxY - frame.minY;
  if (!std::isfinite(width) || !std::isfinite(height) || !std::isfinite(step)) return step;
  if (std::floor(width / step) < kMaxContourNodesPerAxis && std::floor(height / step) < kMaxContourNodesPerAxis)
    return step;
  const double coarse = std::max(std::max(width, height) / (kMaxContourNodesPerAxis - 1.0), step);
  message = "Poziomice: kadr za duzy dla kroku " + formatNumber(step) + " m - siatka NMT ograniczona do " +
            std::to_string(kMaxContourNodesPerAxis) + " wezlow na os. Uzyto kroku " + formatNumber(coarse) +
            " m, aby zmiescic caly obszar.";
  return coarse;
}

ContourLattice buildContourLattice(const Bbox& frame, double step, const TerrainSampler& sampler) {
  ContourLattice lat;
  if (!(step > 0.0) || !std::isfinite(step) || !sampler) return lat;
  const double nc = std::floor((frame.maxX - frame.minX) / step) + 1.0;
  const double nr = std::floor((frame.maxY - frame.minY) / step) + 1.0;
  if (!(nc >= 2.0 && nr >= 2.0 && nc <= kMaxContourNodesPerAxis && nr <= kMaxContourNodesPerAxis)) return lat;
  lat.x0 = frame.minX;
  lat.y0 = frame.minY;
  lat.cell = step;
  lat.ncols = static_cast<std::int32_t>(nc);
  lat.nrows = static_cast<std::int32_t>(nr);
  lat.z.resize(static_cast<std::size_t>(lat.ncols) * static_cast<std::size_t>(lat.nrows));
  std::size_t k = 0;
  for (std::int32_t r = 0; r < lat.nrows; ++r) {
    const double y = frame.minY + r * step;
    for (std::int32_t c = 0; c < lat.ncols; ++c) {
      const auto z = sampler(frame.minX + c * step, y);
      lat.z[k++] = z ? *z : std::numeric_limits<double>::quiet_NaN();
    }
  }
  return lat;
}

void smoothLattice(ContourLattice& lattice, double spatialSigma, double heightSigma) {
  if (lattice.empty() || lattice.ncols < 3 || lattice.nrows < 3) return;
  if (!(lattice.cell > 0.0) || !(spatialSigma > 0.0) || !(heightSigma > 0.0)) return;
  // The window is bounded so that a tiny cell cannot turn this into hours of work.
  constexpr int kMaxRadius = 16;
  const int radius = std::clamp(static_cast<int>(std::ceil(2.0 * spatialSigma / lattice.cell)), 1, kMaxRadius);
  const int side = 2 * radius + 1;
  std::vector<double> spatial(static_cast<std::size_t>(side * side));
  const double cell2 = lattice.cell * lattice.cell;
  for (int dj = -radius; dj <= radius; ++dj)
    for (int di = -radius; di <= radius; ++di)
      spatial[static_cast<std::size_t>((dj + radius) * side + di + radius)] =
          -(di * di + dj * dj) * cell2 / (2.0 * spatialSigma * spatialSigma);
  const double heightDen = 2.0 * heightSigma * heightSigma;

  const std::vector<double> src = lattice.z;
  const std::int32_t nc = lattice.ncols, nr = lattice.nrows;
  for (std::int32_t r = 0; r < nr; ++r) {
    for (std::int32_t c = 0; c < nc; ++c) {
      const double z = src[static_cast<std::size_t>(r) * nc + c];
      if (!std::isfinite(z)) continue;
      double sum = 0.0, wsum = 0.0;
      for (int dj = -radius; dj <= radius; ++dj) {
        const std::int32_t rr = r + dj;
        if (rr < 0 || rr >= nr) continue;
        for (int di = -radius; di <= radius; ++di) {
          const std::int32_t cc = c + di;
          if (cc < 0 || cc >= nc) continue;
          const double zz = src[static_cast<std::size_t>(rr) * nc + cc];
          if (!std::isfinite(zz)) continue;
          const double dz = zz - z;
          const double w =
              std::exp(spatial[static_cast<std::size_t>((dj + radius) * side + di + radius)] - dz * dz / heightDen);
          sum += w * zz;
          wsum += w;
        }
      }
      if (wsum > 1e-12) lattice.z[static_cast<std::size_t>(r) * nc + c] = sum / wsum;
    }
  }
}

std::vector<Contour> ContourBuilder::build(const ContourLattice& lat, double interval, std::string& message,
                                           const ContourLimits& limits, const CancelCheck& cancel, bool* cancelled,
                                           const Progress& progress) {
  std::vector<Contour> out;
  if (cancelled) *cancelled = false;
  if (lat.ncols < 2 || lat.nrows < 2 || !(interval > 0.0) || !std::isfinite(interval)) return out;
  if (lat.z.size() != static_cast<std::size_t>(lat.ncols) * static_cast<std::size_t>(lat.nrows)) return out;

  const std::int32_t nc = lat.ncols, nr = lat.nrows;
  const double* z = lat.z.data();
  const auto rowStride = static_cast<std::size_t>(nc);

  double zmin = std::numeric_limits<double>::infinity(), zmax = -zmin;
  for (double v : lat.z) {
    if (!std::isfinite(v)) continue;  // an overflowing interpolation counts as no height
    zmin = std::min(zmin, v);
    zmax = std::max(zmax, v);
  }
  if (!(zmin <= zmax)) return out;

  bool truncated = false;
  const double k0 = std::ceil(zmin / interval);
  double levelCount = std::floor(zmax / interval) - k0 + 1.0;
  if (!(levelCount >= 1.0)) return out;
  if (levelCount > limits.maxLevels) {
    levelCount = std::max(limits.maxLevels, 0);
    truncated = true;
  }
  const int nLevels = static_cast<int>(levelCount);

  // Blocks of cells with the range of their nodes.
  const std::int32_t cellsX = nc - 1, cellsY = nr - 1;
  const std::int32_t nbx = (cellsX + kBlock - 1) / kBlock, nby = (cellsY + kBlock - 1) / kBlock;
  std::vector<BlockRange> blocks(static_cast<std::size_t>(nbx) * static_cast<std::size_t>(nby));
  for (std::int32_t by = 0; by < nby; ++by) {
    const std::int32_t rEnd = std::min((by + 1) * kBlock, cellsY);
    for (std::int32_t bx = 0; bx < nbx; ++bx) {
      const std::int32_t cEnd = std::min((bx + 1) * kBlock, cellsX);
      BlockRange b;
      for (std::int32_t r = by * kBlock; r <= rEnd; ++r) {
        const double* row = z + static_cast<std::size_t>(r) * rowStride;
        for (std::int32_t c = bx * kBlock; c <= cEnd; ++c) {
          const double v = row[c];
          if (v < b.lo) b.lo = v;  // NaN compares false and is left out
          if (v > b.hi) b.hi = v;
        }
      }
      blocks[static_cast<std::size_t>(by) * nbx + bx] = b;
    }
  }

  const double x0 = lat.x0, y0 = lat.y0, cell = lat.cell;
  std::vector<Segment> segs;
  EndpointIndex index;
  std::vector<char> used;
  std::vector<Point2> fwd, bwd;
  std::size_t totalPoints = 0;
  bool stop = false;

  for (int li = 0; li < nLevels && !stop; ++li) {
    if (cancel && cancel()) {
      message = kCancelledMessage;
      if (cancelled) *cancelled = true;
      return out;
    }
    if (progress) progress(li, nLevels);
    const double k = k0 + li;
    const double L = k * interval;
    const bool isIndex = std::fmod(k, 5.0) == 0.0;

    segs.clear();
    // Every segment adds at least one point, so a level with more segments than the
    // points still allowed is certain to be cut: collecting stops there, which keeps
    // memory bounded on noisy lattices.
    const std::size_t segBudget =
        (limits.maxPoints > totalPoints ? limits.maxPoints - totalPoints : 0) + 1;
    for (std::int32_t by = 0; by < nby && segs.size() <= segBudget; ++by) {
      for (std::int32_t bx = 0; bx < nbx && segs.size() <= segBudget; ++bx) {
        const BlockRange& b = blocks[static_cast<std::size_t>(by) * nbx + bx];
        if (!(b.lo < L && L <= b.hi)) continue;  // a crossing needs one node below or at L and one above
        const std::int32_t rEnd = std::min((by + 1) * kBlock, cellsY);
        const std::int32_t cEnd = std::min((bx + 1) * kBlock, cellsX);
        for (std::int32_t r = by * kBlock; r < rEnd; ++r) {
          const double* south = z + static_cast<std::size_t>(r) * rowStride;
          const double* north = south + rowStride;
          for (std::int32_t c = bx * kBlock; c < cEnd; ++c) {
            const double a = south[c], bb = south[c + 1], cc = north[c + 1], d = north[c];
            const unsigned ia = L > a, ib = L > bb, ic = L > cc, id = L > d;
            const unsigned sum = ia + ib + ic + id;
            if (sum == 0 || sum == 4) continue;
            if (!std::isfinite(a) || !std::isfinite(bb) || !std::isfinite(cc) || !std::isfinite(d)) continue;

            auto frac = [L](double first, double second) {
              const double diff = second - first;
              return std::fabs(diff) < 1e-12 ? 0.5 : (L - first) / diff;
            };
            // Edge order: south (a-b), east (b-c), north (d-c), west (a-d).
            Point2 pts[4];
            int n = 0;
            if (ia != ib) pts[n++] = {x0 + (c + frac(a, bb)) * cell, y0 + r * cell};
            if (ib != ic) pts[n++] = {x0 + (c + 1) * cell, y0 + (r + frac(bb, cc)) * cell};
            if (id != ic) pts[n++] = {x0 + (c + frac(d, cc)) * cell, y0 + (r + 1) * cell};
            if (ia != id) pts[n++] = {x0 + c * cell, y0 + (r + frac(a, d)) * cell};
            if (n == 2) {
              segs.push_back({{pts[0], pts[1]}});
            } else if (n == 4) {
              const double m = (a + bb + cc + d) / 4.0;
              if ((L > m) == (L > a)) {
                segs.push_back({{pts[0], pts[1]}});  // south-east
                segs.push_back({{pts[2], pts[3]}});  // north-west
              } else {
                segs.push_back({{pts[0], pts[3]}});  // south-west
                segs.push_back({{pts[1], pts[2]}});  // east-north
              }
            }
          }
        }
      }
    }
    if (segs.empty()) continue;

    const std::size_t nseg = segs.size();
    index.reset(nseg * 2);
    for (std::size_t s = 0; s < nseg; ++s) {
      index.insert(static_cast<std::uint32_t>(2 * s), segs[s].p[0].x, segs[s].p[0].y);
      index.insert(static_cast<std::uint32_t>(2 * s + 1), segs[s].p[1].x, segs[s].p[1].y);
    }
    used.assign(nseg, 0);
    auto endpoint = [&](std::uint32_t e) -> const Point2& { return segs[e >> 1].p[e & 1]; };
    // Another unused segment touching endpoint e's position: its endpoint there.
    auto partner = [&](std::uint32_t e) -> std::int32_t {
      for (std::int32_t o = index.head(index.slotOf(e)); o >= 0; o = index.next(static_cast<std::uint32_t>(o)))
        if (!used[static_cast<std::size_t>(o) >> 1]) return o;
      return -1;
    };

    for (std::size_t s = 0; s < nseg && !stop; ++s) {
      if (used[s]) continue;
      used[s] = 1;
      const auto startEnd = static_cast<std::uint32_t>(2 * s);
      const std::uint32_t startSlot = index.slotOf(startEnd);
      fwd.clear();
      fwd.push_back(segs[s].p[0]);
      fwd.push_back(segs[s].p[1]);
      bool closed = index.slotOf(startEnd + 1) == startSlot;
      std::uint32_t cur = startEnd + 1;
      while (!closed) {
        const std::int32_t o = partner(cur);
        if (o < 0) break;
        used[static_cast<std::size_t>(o) >> 1] = 1;
        cur = static_cast<std::uint32_t>(o) ^ 1u;
        fwd.push_back(endpoint(cur));
        closed = index.slotOf(cur) == startSlot;
      }
      Contour ct;
      ct.level = L;
      ct.index = isIndex;
      if (closed) {
        fwd.back() = fwd.front();
        ct.points.swap(fwd);
      } else {
        bwd.clear();
        cur = startEnd;
        for (;;) {
          const std::int32_t o = partner(cur);
          if (o < 0) break;
          used[static_cast<std::size_t>(o) >> 1] = 1;
          cur = static_cast<std::uint32_t>(o) ^ 1u;
          bwd.push_back(endpoint(cur));
        }
        ct.points.reserve(bwd.size() + fwd.size());
        ct.points.assign(bwd.rbegin(), bwd.rend());
        ct.points.insert(ct.points.end(), fwd.begin(), fwd.end());
      }
      if (polylineLength(ct.points) < 1e-9) continue;
      totalPoints += ct.points.size();
      out.push_back(std::move(ct));
      if (static_cast<int>(out.size()) >= limits.maxContours || totalPoints > limits.maxPoints) {
        truncated = true;
        stop = true;
      }
    }
  }

  if (truncated) {
    if (!message.empty()) message += ' ';
    message += kTruncatedMessage;
  }
  return out;
}

std::vector<ContourLabel> labelContour(const Contour& contour) {
  std::vector<ContourLabel> labels;
  const auto& pts = contour.points;
  if (!contour.index || pts.size() < 2) return labels;
  std::vector<double> cum(pts.size(), 0.0);
  for (std::size_t i = 1; i < pts.size(); ++i)
    cum[i] = cum[i - 1] + std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y);
  const double total = cum.back();
  if (!(total > 0.0)) return labels;

  std::vector<double> positions;
  if (total < 50.0) {
    positions.push_back(total / 2.0);
  } else {
    for (double p = 25.0; p < total; p += 50.0) positions.push_back(p);
  }
  const std::string text = formatNumber(contour.level);
  std::size_t seg = 1;
  for (double p : positions) {
    // Segment holding p; zero-length segments are passed over.
    while (seg + 1 < pts.size() && (cum[seg] < p || cum[seg] == cum[seg - 1])) ++seg;
    const double segLen = cum[seg] - cum[seg - 1];
    const double t = segLen > 0.0 ? std::clamp((p - cum[seg - 1]) / segLen, 0.0, 1.0) : 0.0;
    const Point2& a = pts[seg - 1];
    const Point2& b = pts[seg];
    double angle = std::atan2(b.y - a.y, b.x - a.x);
    if (angle > kPi / 2) angle -= kPi;
    else if (angle <= -kPi / 2) angle += kPi;
    labels.push_back({a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, angle, text});
  }
  return labels;
}

}  // namespace veldra
