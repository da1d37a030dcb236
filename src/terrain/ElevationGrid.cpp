#include "terrain/ElevationGrid.h"

#include "platform/InputFile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <system_error>

namespace veldra {
namespace {

// The classic locale's white space, as skipped by formatted extraction.
constexpr std::array<bool, 256> makeSpaceTable() {
  std::array<bool, 256> t{};
  t[' '] = t['\t'] = t['\n'] = t['\v'] = t['\f'] = t['\r'] = true;
  return t;
}
constexpr std::array<bool, 256> kSpace = makeSpaceTable();

inline bool isSpace(char c) { return kSpace[static_cast<unsigned char>(c)]; }
inline bool isDigit(char c) { return c >= '0' && c <= '9'; }

// Whitespace-separated tokens from memory or from a file read in chunks.
// A token is always handed out whole; the caller consumes a prefix of it and
// the rest is seen again by the next call, as a stream would leave it.
class TokenReader {
 public:
  explicit TokenReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()), eof_(true) {}

  TokenReader(std::FILE* f, std::uint64_t fileSize) : file_(f), fileSize_(fileSize), eof_(false) {
    buf_.reset(new char[kChunk]);
    cap_ = kChunk;
    p_ = end_ = buf_.get();
    refill();
  }

  // False at the end of the input.
  bool next(std::string_view& tok) {
    for (;;) {
      while (p_ < end_ && isSpace(*p_)) ++p_;
      if (p_ == end_) {
        if (eof_ || !refill()) return false;
        continue;
      }
      const char* q = p_;
      while (q < end_ && !isSpace(*q)) ++q;
      if (q == end_ && !eof_) {
        // At the end of the file the token is complete as it stands.
        if (!refill() && failed_) return false;
        continue;
      }
      tok = std::string_view(p_, static_cast<std::size_t>(q - p_));
      return true;
    }
  }

  void consume(std::size_t n) { p_ += n; }

  // The common "-123.45" followed by white space, at most 15 digits and no
  // exponent: the digits form an exact integer and one division by an exact
  // power of ten rounds correctly, giving what strtod gives. Anything else
  // (or a token cut by the buffer end) is left to the general path.
  bool fastNumber(double& v) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const char* p = p_;
    while (p < end_ && isSpace(*p)) ++p;
    if (p == end_) return false;
    const bool neg = *p == '-';
    if (neg) ++p;
    std::uint64_t m = 0;
    int digits = 0, frac = 0;
    while (p < end_ && isDigit(*p)) m = m * 10 + static_cast<unsigned>(*p++ - '0'), ++digits;
    if (p < end_ && *p == '.') {
      ++p;
      while (p < end_ && isDigit(*p)) m = m * 10 + static_cast<unsigned>(*p++ - '0'), ++digits, ++frac;
    }
    if (digits == 0 || digits > 15) return false;
    if (p == end_ ? !eof_ : !isSpace(*p)) return false;
    const double a = static_cast<double>(m) / kPow10[frac];
    v = neg ? -a : a;
    p_ = p;
    return true;
  }

  // Bytes not yet consumed.
  std::uint64_t remaining() const {
    const auto inBuffer = static_cast<std::uint64_t>(end_ - p_);
    if (!file_) return inBuffer;
    return inBuffer + (fileSize_ > fileRead_ ? fileSize_ - fileRead_ : 0);
  }

  bool failed() const { return failed_; }

 private:
  static constexpr std::size_t kChunk = 1u << 20;
  static constexpr std::size_t kMaxToken = 1u << 24;

  // Keeps the unconsumed tail and reads more behind it; false when nothing
  // more can be had.
  bool refill() {
    if (!file_ || eof_) return false;
    const std::size_t keep = static_cast<std::size_t>(end_ - p_);
    if (keep == cap_) {
      if (cap_ >= kMaxToken) {
        failed_ = true;
        eof_ = true;
        return false;
      }
      std::unique_ptr<char[]> bigger(new char[cap_ * 2]);
      std::memcpy(bigger.get(), p_, keep);
      buf_ = std::move(bigger);
      cap_ *= 2;
    } else if (keep > 0 && p_ != buf_.get()) {
      std::memmove(buf_.get(), p_, keep);
    }
    p_ = buf_.get();
    end_ = p_ + keep;
    const std::size_t got = std::fread(buf_.get() + keep, 1, cap_ - keep, file_);
    fileRead_ += got;
    end_ += got;
    if (got == 0) {
      if (std::ferror(file_)) failed_ = true;
      eof_ = true;
      return false;
    }
    return true;
  }

  std::FILE* file_ = nullptr;
  std::uint64_t fileSize_ = 0;
  std::uint64_t fileRead_ = 0;
  std::unique_ptr<char[]> buf_;
  std::size_t cap_ = 0;
  const char* p_ = nullptr;
  const char* end_ = nullptr;
  bool eof_ = true;
  bool failed_ = false;
};

// Reads the longest prefix of `tok` that formatted extraction of a double
// accepts: [sign] digits [. digits] [(e|E) [sign] digits], at least one
// mantissa digit. Returns the characters used, 0 when extraction would fail.
std::size_t parseNumber(std::string_view tok, double& value) {
  const char* s = tok.data();
  const std::size_t n = tok.size();
  std::size_t i = 0;
  bool plus = false;
  if (i < n && (s[i] == '+' || s[i] == '-')) {
    plus = s[i] == '+';
    ++i;
  }
  std::size_t digits = 0;
  while (i < n && isDigit(s[i])) ++i, ++digits;
  if (i < n && s[i] == '.') {
    ++i;
    while (i < n && isDigit(s[i])) ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < n && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
    std::size_t expDigits = 0;
    while (i < n && isDigit(s[i])) ++i, ++expDigits;
    if (expDigits == 0) return 0;  // "1e" is rejected by extraction as a whole
  }
  const char* first = plus ? s + 1 : s;
  const auto res = std::from_chars(first, s + i, value, std::chars_format::general);
  if (res.ec == std::errc::result_out_of_range) {
    // Overflow fails extraction; underflow gives the nearest representable value.
    const std::string copy(first, s + i);
    const double v = std::strtod(copy.c_str(), nullptr);
    if (std::isinf(v)) return 0;
    value = v;
    return i;
  }
  if (res.ec != std::errc() || res.ptr != s + i) return 0;
  return i;
}

bool fail(std::string* error, const std::string& why) {
  if (error) *error = why;
  return false;
}

bool readNumber(TokenReader& in, double& v) {
  std::string_view tok;
  if (!in.next(tok)) return false;
  const std::size_t used = parseNumber(tok, v);
  if (used == 0) return false;
  in.consume(used);
  return true;
}

bool parseGrid(TokenReader& in, ElevationGrid& out, std::string* error) {
  double ncols = 0, nrows = 0, xll = 0, yll = 0, cell = 0, nodata = -9999.0;
  bool xCentre = false, yCentre = false;
  for (int line = 0; line < 6; ++line) {
    std::string_view tok;
    if (!in.next(tok)) return fail(error, "header: expected 6 keyword/value lines, got " + std::to_string(line));
    std::string key(tok);
    in.consume(tok.size());
    std::transform(key.begin(), key.end(), key.begin(),
                   [](unsigned char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c); });
    double v = 0;
    if (!readNumber(in, v)) return fail(error, "header: unreadable number after '" + key + "'");
    if (key == "ncols") ncols = v;
    else if (key == "nrows") nrows = v;
    else if (key == "xllcorner") xll = v, xCentre = false;
    else if (key == "yllcorner") yll = v, yCentre = false;
    else if (key == "xllcenter") xll = v, xCentre = true;
    else if (key == "yllcenter") yll = v, yCentre = true;
    else if (key == "cellsize") cell = v;
    else if (key == "nodata_value") nodata = v;
    else return fail(error, "header: unknown keyword '" + key + "'");
  }
  // Checked as doubles first so the conversion is defined.
  if (!(ncols >= 1.0) || !(nrows >= 1.0)) return fail(error, "header: ncols and nrows must be at least 1");
  if (ncols != std::floor(ncols) || nrows != std::floor(nrows))
    return fail(error, "header: ncols and nrows must be whole numbers");
  if (ncols >= 2147483648.0 || nrows >= 2147483648.0) return fail(error, "header: ncols or nrows too large");
  if (!(cell > 0.0)) return fail(error, "header: cellsize must be greater than 0");
  const auto nc = static_cast<std::int32_t>(ncols);
  const auto nr = static_cast<std::int32_t>(nrows);
  const std::int64_t cells = static_cast<std::int64_t>(nc) * nr;
  if (cells > kMaxGridCells)
    return fail(error, "header: " + std::to_string(nc) + " x " + std::to_string(nr) + " cells exceed the limit");
  // Every value takes at least one character and one separator (the last
  // one none): a header promising more than the file can hold is refused
  // before anything is allocated.
  if (in.remaining() < static_cast<std::uint64_t>(cells) * 2 - 1)
    return fail(error, "data: file too short for " + std::to_string(nc) + " x " + std::to_string(nr) + " values");

  ElevationGrid g;
  g.ncols = nc;
  g.nrows = nr;
  g.cellSize = cell;
  g.nodata = nodata;
  g.x0 = xCentre ? xll - cell / 2.0 : xll;
  g.y0 = yCentre ? yll - cell / 2.0 : yll;
  // The grid grows a block at a time as values are read: a file of the promised size can still
  // hold anything (a sparse file of zero bytes), so memory follows what is read, not the header.
  constexpr std::size_t kBlock = 1u << 20;
  const auto count = static_cast<std::size_t>(cells);
  g.values.reserve(std::min(count, kBlock));
  double* dst = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    if (i == g.values.size()) {
      if (i == g.values.capacity()) g.values.reserve(std::min(count, std::max(kBlock, 2 * i)));
      g.values.resize(std::min(count, i + kBlock));
      dst = g.values.data();
    }
    if (in.fastNumber(dst[i])) continue;
    std::string_view tok;
    if (!in.next(tok)) {
      if (in.failed()) return fail(error, "data: read error");
      return fail(error, "data: " + std::to_string(i) + " of " + std::to_string(count) + " values present");
    }
    const std::size_t used = parseNumber(tok, dst[i]);
    if (used == 0)
      return fail(error, "data: value " + std::to_string(i + 1) + " unreadable: '" +
                             std::string(tok.substr(0, std::min<std::size_t>(tok.size(), 32))) + "'");
    in.consume(used);
  }
  out = std::move(g);
  return true;
}

}  // namespace

bool parseAsciiGrid(std::string_view text, ElevationGrid& out, std::string* error) {
  TokenReader in(text);
  return parseGrid(in, out, error);
}

bool readAsciiGrid(const std::filesystem::path& path, ElevationGrid& out, std::string* error) {
  platform::InputFile input = platform::InputFile::open(path);
  if (input.fd() < 0) return fail(error, input.error());
  const std::uint64_t size = input.size();
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(::fdopen(input.fd(), "rb"), &std::fclose);
  if (!f) return fail(error, "cannot open " + path.string());
  input.release();
  TokenReader in(f.get(), size);
  return parseGrid(in, out, error);
}

std::optional<double> sampleGrid(const ElevationGrid& grid, double x, double y) {
  if (grid.empty() || !(grid.cellSize > 0.0)) return std::nullopt;
  const double fx = (x - grid.x0) / grid.cellSize;
  const double fy = (y - grid.y0) / grid.cellSize;
  // Compared as doubles: NaN and far-away points never reach an int conversion.
  if (!(fx >= 0.0 && fx < grid.ncols && fy >= 0.0 && fy < grid.nrows)) return std::nullopt;
  const auto col = static_cast<std::int32_t>(fx);
  const auto row = static_cast<std::int32_t>(fy);
  if (col >= grid.ncols || row >= grid.nrows) return std::nullopt;  // fx just below ncols rounding up

  const double gx = fx - 0.5, gy = fy - 0.5;
  const double fc0 = std::floor(gx), fr0 = std::floor(gy);
  const double tx = gx - fc0, ty = gy - fr0;
  auto clampCol = [&](double c) { return static_cast<std::int32_t>(std::clamp(c, 0.0, grid.ncols - 1.0)); };
  auto clampRow = [&](double r) { return static_cast<std::int32_t>(std::clamp(r, 0.0, grid.nrows - 1.0)); };
  const std::int32_t c0 = clampCol(fc0), c1 = clampCol(fc0 + 1.0);
  const std::int32_t r0 = clampRow(fr0), r1 = clampRow(fr0 + 1.0);
  const double z00 = grid.atFromSouth(c0, r0), z10 = grid.atFromSouth(c1, r0);
  const double z01 = grid.atFromSouth(c0, r1), z11 = grid.atFromSouth(c1, r1);
  const double nd = grid.nodata;
  if (z00 != nd && z10 != nd && z01 != nd && z11 != nd)
    return (1 - tx) * (1 - ty) * z00 + tx * (1 - ty) * z10 + (1 - tx) * ty * z01 + tx * ty * z11;
  const double own = grid.atFromSouth(col, row);
  if (own == nd) return std::nullopt;
  return own;
}

std::optional<double> sampleGrids(const std::vector<ElevationGrid>& grids, double x, double y) {
  for (const auto& g : grids)
    if (auto z = sampleGrid(g, x, y)) return z;
  return std::nullopt;
}

TerrainSampler makeGridSampler(const std::vector<ElevationGrid>& grids) {
  return [&grids](double x, double y) { return sampleGrids(grids, x, y); };
}

}  // namespace veldra
