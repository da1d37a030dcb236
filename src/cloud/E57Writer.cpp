#include "cloud/E57Writer.h"

#include <pugixml.hpp>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdio>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <filesystem>
#include <limits>
#include <mutex>
#include <system_error>
#include <thread>

#include "cloud/Crc32c.h"
#include "platform/AtomicFile.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define VELDRA_E57_AVX2 1
#endif

namespace veldra {
namespace {

constexpr const char* kMsgNoPoints = "Brak punktow do zapisu.";
constexpr const char* kMsgCannotWrite = "Nie mozna zapisac pliku e57.";
constexpr const char* kMsgBadCoordinate = "Wspolrzedne punktow poza zakresem pliku e57.";

constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kSectionHeaderSize = 32;
constexpr std::size_t kPacketHeaderSize = 18;

std::size_t packetSize(std::size_t k) { return (kPacketHeaderSize + 15 * k + 3) & ~std::size_t(3); }

void putU16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void putU32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void putU64(uint8_t* p, uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = uint8_t(v >> (8 * i));
}
void putF32(uint8_t* p, float f) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(p, &f, 4);  // one store; this runs 24 million times for a full cloud
  } else {
    uint32_t bits;
    std::memcpy(&bits, &f, 4);
    putU32(p, bits);
  }
}

std::string numberText(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
  return std::string(buf, r.ptr);
}
std::string numberText(int64_t v) { return std::to_string(v); }

struct Bounds {
  double min[3] = {0, 0, 0};
  double max[3] = {0, 0, 0};
};

// ---- XML section ----

pugi::xml_node child(pugi::xml_node parent, const char* name, const char* type) {
  pugi::xml_node n = parent.append_child(name);
  n.append_attribute("type") = type;
  return n;
}
void stringChild(pugi::xml_node parent, const char* name, const char* text) {
  pugi::xml_node n = child(parent, name, "String");
  if (text) n.append_child(pugi::node_cdata).set_value(text);
}
void emptyChild(pugi::xml_node parent, const char* name, const char* type) { child(parent, name, type); }
void valueChild(pugi::xml_node parent, const char* name, const char* type, const std::string& text) {
  child(parent, name, type).text().set(text.c_str());
}
pugi::xml_node vectorChild(pugi::xml_node parent, const char* name) {
  pugi::xml_node n = child(parent, name, "Vector");
  n.append_attribute("allowHeterogeneousChildren") = "1";
  n.append_child(pugi::node_pcdata).set_value("");
  return n;
}
void dateTime(pugi::xml_node parent, const char* name) {
  pugi::xml_node n = child(parent, name, "Structure");
  emptyChild(n, "dateTimeValue", "Float");
  emptyChild(n, "isAtomicClockReferenced", "Integer");
}

struct StringWriter : pugi::xml_writer {
  std::string out;
  void write(const void* data, size_t size) override { out.append(static_cast<const char*>(data), size); }
};

std::string buildXml(std::size_t count, const Bounds& b) {
  pugi::xml_document doc;
  pugi::xml_node decl = doc.append_child(pugi::node_declaration);
  decl.append_attribute("version") = "1.0";
  decl.append_attribute("encoding") = "UTF-8";

  pugi::xml_node root = child(doc, "e57Root", "Structure");
  root.append_attribute("xmlns") = "http://www.astm.org/COMMIT/E57/2010-e57-v1.0";
  stringChild(root, "formatName", "ASTM E57 3D Imaging Data File");
  stringChild(root, "guid", "{aaaaaaaa-0000-0000-0000-000000000001}");
  valueChild(root, "versionMajor", "Integer", "1");
  emptyChild(root, "versionMinor", "Integer");
  stringChild(root, "e57LibraryVersion", "orvane-e57-0.1");
  stringChild(root, "coordinateMetadata", nullptr);
  dateTime(root, "creationDateTime");

  pugi::xml_node data3D = child(root, "data3D", "Vector");
  data3D.append_attribute("allowHeterogeneousChildren") = "1";
  pugi::xml_node scan = child(data3D, "vectorChild", "Structure");
  stringChild(scan, "guid", "{aaaaaaaa-0000-0000-0000-000000000002}");
  stringChild(scan, "name", "orvane_cloud");
  emptyChild(scan, "temperature", "Float");
  emptyChild(scan, "relativeHumidity", "Float");
  emptyChild(scan, "atmosphericPressure", "Float");
  stringChild(scan, "description", "orvane");

  pugi::xml_node ib = child(scan, "indexBounds", "Structure");
  emptyChild(ib, "rowMinimum", "Integer");
  valueChild(ib, "rowMaximum", "Integer", numberText(int64_t(count) - 1));
  for (const char* n : {"columnMinimum", "columnMaximum", "returnMinimum", "returnMaximum"}) emptyChild(ib, n, "Integer");

  pugi::xml_node cl = child(scan, "colorLimits", "Structure");
  for (const char* c : {"Red", "Green", "Blue"}) {
    emptyChild(cl, ("color" + std::string(c) + "Minimum").c_str(), "Integer");
    valueChild(cl, ("color" + std::string(c) + "Maximum").c_str(), "Integer", "255");
  }

  static const char* const kAxis[3] = {"x", "y", "z"};
  pugi::xml_node cb = child(scan, "cartesianBounds", "Structure");
  for (int a = 0; a < 3; ++a) {
    valueChild(cb, (std::string(kAxis[a]) + "Minimum").c_str(), "Float", numberText(b.min[a]));
    valueChild(cb, (std::string(kAxis[a]) + "Maximum").c_str(), "Float", numberText(b.max[a]));
  }

  pugi::xml_node pose = child(scan, "pose", "Structure");
  pugi::xml_node rot = child(pose, "rotation", "Structure");
  valueChild(rot, "w", "Float", "1");
  for (const char* n : kAxis) emptyChild(rot, n, "Float");
  pugi::xml_node tr = child(pose, "translation", "Structure");
  for (const char* n : kAxis) emptyChild(tr, n, "Float");

  dateTime(scan, "acquisitionStart");
  dateTime(scan, "acquisitionEnd");

  pugi::xml_node pts = child(scan, "points", "CompressedVector");
  pts.append_attribute("fileOffset") = "48";
  pts.append_attribute("recordCount") = numberText(int64_t(count)).c_str();
  pugi::xml_node proto = child(pts, "prototype", "Structure");
  static const char* const kCartesian[3] = {"cartesianX", "cartesianY", "cartesianZ"};
  for (int a = 0; a < 3; ++a) {
    pugi::xml_node f = child(proto, kCartesian[a], "Float");
    f.append_attribute("precision") = "single";
    f.append_attribute("minimum") = numberText(b.min[a]).c_str();
    f.append_attribute("maximum") = numberText(b.max[a]).c_str();
    f.text().set(numberText((b.min[a] + b.max[a]) / 2).c_str());
  }
  for (const char* n : {"colorRed", "colorGreen", "colorBlue"}) {
    pugi::xml_node c = child(proto, n, "Integer");
    c.append_attribute("minimum") = "0";
    c.append_attribute("maximum") = "255";
  }
  vectorChild(pts, "codecs");
  vectorChild(root, "images2D");

  StringWriter w;
  doc.save(w, "", pugi::format_raw, pugi::encoding_utf8);
  return std::move(w.out);
}

// ---- paging ----

// Cuts the logical byte stream into 1020-byte pieces, each followed by its big-endian CRC-32C.
// The first page is kept so that the file header, which depends on the XML written last, can be
// patched in afterwards: the points are then read only once.
//
// Full blocks of pages go to a writer thread, so the kernel copies one block into the file while
// the next is assembled; files that fit in one block never start it. Without a thread the blocks
// are written in place.
class PagedOutput {
 public:
  explicit PagedOutput(platform::AtomicFile& file) : file_(file), store_(kBlocks * kBlockBytes) {
    for (std::size_t b = 1; b < kBlocks; ++b) free_.push_back(b);
  }
  ~PagedOutput() { stopWriter(); }
  PagedOutput(const PagedOutput&) = delete;
  PagedOutput& operator=(const PagedOutput&) = delete;

  void put(const void* data, std::size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (n > 0) {
      const std::size_t take = std::min(n, kE57PagePayload - inPage_);
      std::memcpy(page() + inPage_, p, take);
      inPage_ += take;
      p += take;
      n -= take;
      if (inPage_ == kE57PagePayload) endPage();
    }
  }

  // Pads the last page with zeros and writes out everything; false on any write error.
  bool finish() {
    if (inPage_ > 0) {
      std::memset(page() + inPage_, 0, kE57PagePayload - inPage_);
      endPage();
    }
    if (pages_ > 0) handOver(true);
    stopWriter();
    return ok_ && !writeFailed_;
  }

  // Overwrites logical bytes [at, at + n) of the first page in the file (after finish()).
  bool patchFirstPage(std::size_t at, const void* data, std::size_t n) {
    std::memcpy(first_ + at, data, n);
    seal(first_);
    if (!ok_ || !file_.overwrite(0, std::string_view(reinterpret_cast<const char*>(first_), kE57PageSize)))
      ok_ = false;
    return ok_;
  }

 private:
  static constexpr std::size_t kBlockPages = 1024;
  static constexpr std::size_t kBlockBytes = kBlockPages * kE57PageSize;
  static constexpr std::size_t kBlocks = 3;  // one being filled, one being written, one spare

  uint8_t* block(std::size_t b) { return store_.data() + b * kBlockBytes; }
  uint8_t* page() { return block(current_) + pages_ * kE57PageSize; }

  static void seal(uint8_t* pg) {
    const uint32_t crc = crc32c(pg, kE57PagePayload);
    pg[1020] = uint8_t(crc >> 24);
    pg[1021] = uint8_t(crc >> 16);
    pg[1022] = uint8_t(crc >> 8);
    pg[1023] = uint8_t(crc);
  }

  void endPage() {
    seal(page());
    if (sealed_++ == 0) std::memcpy(first_, page(), kE57PageSize);
    inPage_ = 0;
    if (++pages_ == kBlockPages) handOver(false);
  }

  bool writeBlock(std::size_t b, std::size_t bytes) {
    return file_.append(std::string_view(reinterpret_cast<const char*>(block(b)), bytes));
  }

  // Passes the filled pages on and makes another block current.
  void handOver(bool last) {
    const std::size_t bytes = pages_ * kE57PageSize;
    pages_ = 0;
    if (!threadTried_ && !last) startWriter();
    if (!writer_.joinable()) {
      if (ok_ && !writeBlock(current_, bytes)) ok_ = false;
      return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    queue_.push_back({current_, bytes});
    changed_.notify_all();
    changed_.wait(lock, [&] { return !free_.empty(); });
    current_ = free_.front();
    free_.pop_front();
  }

  void startWriter() {
    threadTried_ = true;
    try {
      writer_ = std::thread([this] { writerLoop(); });
    } catch (const std::system_error&) {
      // No thread to be had: the blocks are written in place.
    }
  }

  void writerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      changed_.wait(lock, [&] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;
      const Pending job = queue_.front();
      queue_.pop_front();
      const bool failed = writeFailed_;
      lock.unlock();
      const bool wrote = !failed && writeBlock(job.block, job.bytes);  // after a failure nothing more is written
      lock.lock();
      if (!wrote) writeFailed_ = true;
      free_.push_back(job.block);
      changed_.notify_all();
    }
  }

  // Waits until everything handed over is written and ends the thread.
  void stopWriter() {
    if (!writer_.joinable()) return;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    changed_.notify_all();
    writer_.join();
  }

  struct Pending {
    std::size_t block, bytes;
  };

  platform::AtomicFile& file_;
  std::vector<uint8_t> store_;  // kBlocks blocks of kBlockPages pages
  uint8_t first_[kE57PageSize] = {};
  std::size_t current_ = 0;    // block being filled
  std::size_t pages_ = 0;      // complete pages in it
  std::size_t inPage_ = 0;     // logical bytes in the current page
  std::size_t sealed_ = 0;     // pages completed so far
  bool ok_ = true;             // in-place writes and the patch
  bool threadTried_ = false;

  std::thread writer_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending> queue_;   // blocks waiting for the writer, in file order
  std::deque<std::size_t> free_;
  bool stopping_ = false;
  bool writeFailed_ = false;  // by the writer thread; read after it has ended
};

// ---- field streams ----

// Points [begin, end) of a packet of k points, one at a time.
void packRange(const CloudPoint* p, std::size_t begin, std::size_t end, std::size_t k, uint8_t* out,
               e57detail::Extent& e) {
  uint8_t* xs = out;
  uint8_t* ys = xs + 4 * k;
  uint8_t* zs = ys + 4 * k;
  uint8_t* rs = zs + 4 * k;
  uint8_t* gs = rs + k;
  uint8_t* bs = gs + k;
  // The bounds are taken on float values on purpose: g++ 12 at -O2 folds double(float(x)) back to
  // x once it knows x's range, which would give the double bounds. Plain locals keep the loop in
  // registers.
  constexpr float kMaxF = std::numeric_limits<float>::max();
  float loX = e.lo[0], loY = e.lo[1], loZ = e.lo[2], hiX = e.hi[0], hiY = e.hi[1], hiZ = e.hi[2];
  bool bad = e.bad;
  for (std::size_t i = begin; i < end; ++i) {
    const float x = float(p[i].x), y = float(p[i].y), z = float(p[i].z);
    bad |= !(std::fabs(x) <= kMaxF && std::fabs(y) <= kMaxF && std::fabs(z) <= kMaxF);  // NaN, too large
    loX = std::min(loX, x);
    loY = std::min(loY, y);
    loZ = std::min(loZ, z);
    hiX = std::max(hiX, x);
    hiY = std::max(hiY, y);
    hiZ = std::max(hiZ, z);
    putF32(xs + 4 * i, x);
    putF32(ys + 4 * i, y);
    putF32(zs + 4 * i, z);
    rs[i] = p[i].red;
    gs[i] = p[i].green;
    bs[i] = p[i].blue;
  }
  e.lo[0] = loX, e.lo[1] = loY, e.lo[2] = loZ;
  e.hi[0] = hiX, e.hi[1] = hiY, e.hi[2] = hiZ;
  e.bad = bad;
}

#ifdef VELDRA_E57_AVX2
static_assert(offsetof(CloudPoint, y) == 8 && offsetof(CloudPoint, z) == 16 && offsetof(CloudPoint, red) == 24 &&
              offsetof(CloudPoint, green) == 25 && offsetof(CloudPoint, blue) == 26);

// -1 or 1 by the sign of the first coordinate `axis` of p[begin, end) that is zero as a float, 0 if none is.
int8_t firstZeroSign(const CloudPoint* p, std::size_t begin, std::size_t end, int axis) {
  for (std::size_t i = begin; i < end; ++i) {
    const float v = float(axis == 0 ? p[i].x : axis == 1 ? p[i].y : p[i].z);
    if (v == 0) return std::signbit(v) ? -1 : 1;
  }
  return 0;
}

__attribute__((target("avx2"))) float lowest(__m128 v) {
  v = _mm_min_ps(v, _mm_movehl_ps(v, v));
  return _mm_cvtss_f32(_mm_min_ss(v, _mm_shuffle_ps(v, v, 1)));
}
__attribute__((target("avx2"))) float highest(__m128 v) {
  v = _mm_max_ps(v, _mm_movehl_ps(v, v));
  return _mm_cvtss_f32(_mm_max_ss(v, _mm_shuffle_ps(v, v, 1)));
}

// Four points per step: their records are transposed into x, y, z and colour registers. Each lane
// keeps its own bounds, merged at the end. Values compare exactly except +0 and -0: point by point,
// a zero bound is the first zero met, so that is looked up where a step saw a zero.
__attribute__((target("avx2"))) void packAvx2(const CloudPoint* p, std::size_t k, uint8_t* out, e57detail::Extent& e) {
  uint8_t* xs = out;
  uint8_t* ys = xs + 4 * k;
  uint8_t* zs = ys + 4 * k;
  uint8_t* rs = zs + 4 * k;
  uint8_t* gs = rs + k;
  uint8_t* bs = gs + k;
  __m128 loX = _mm_set1_ps(e.lo[0]), loY = _mm_set1_ps(e.lo[1]), loZ = _mm_set1_ps(e.lo[2]);
  __m128 hiX = _mm_set1_ps(e.hi[0]), hiY = _mm_set1_ps(e.hi[1]), hiZ = _mm_set1_ps(e.hi[2]);
  __m128 ok = _mm_castsi128_ps(_mm_set1_epi32(-1));
  __m128 zeroX = _mm_setzero_ps(), zeroY = _mm_setzero_ps(), zeroZ = _mm_setzero_ps();
  const __m128 magnitude = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
  const __m128 maxF = _mm_set1_ps(std::numeric_limits<float>::max());
  // Per 128-bit half (two records' colour words): r r g g b b.
  const __m256i colours = _mm256_setr_epi8(0, 8, 1, 9, 2, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1,  //
                                           0, 8, 1, 9, 2, 10, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1);
  std::size_t i = 0;
  for (; i + 4 <= k; i += 4) {
    // The hardware prefetcher alone leaves the loop waiting on memory; 2 KiB ahead measured best.
    // Integer arithmetic: the address may lie past the points, which prefetching tolerates.
    const uintptr_t ahead = reinterpret_cast<uintptr_t>(p + i) + 2048;
    _mm_prefetch(reinterpret_cast<const char*>(ahead), _MM_HINT_T0);
    _mm_prefetch(reinterpret_cast<const char*>(ahead + 64), _MM_HINT_T0);
    const __m256d p0 = _mm256_loadu_pd(&p[i].x), p1 = _mm256_loadu_pd(&p[i + 1].x);  // whole records
    const __m256d p2 = _mm256_loadu_pd(&p[i + 2].x), p3 = _mm256_loadu_pd(&p[i + 3].x);
    const __m256d xz01 = _mm256_unpacklo_pd(p0, p1), yc01 = _mm256_unpackhi_pd(p0, p1);
    const __m256d xz23 = _mm256_unpacklo_pd(p2, p3), yc23 = _mm256_unpackhi_pd(p2, p3);
    const __m128 x = _mm256_cvtpd_ps(_mm256_permute2f128_pd(xz01, xz23, 0x20));
    const __m128 y = _mm256_cvtpd_ps(_mm256_permute2f128_pd(yc01, yc23, 0x20));
    const __m128 z = _mm256_cvtpd_ps(_mm256_permute2f128_pd(xz01, xz23, 0x31));
    _mm_storeu_ps(reinterpret_cast<float*>(xs + 4 * i), x);
    _mm_storeu_ps(reinterpret_cast<float*>(ys + 4 * i), y);
    _mm_storeu_ps(reinterpret_cast<float*>(zs + 4 * i), z);
    ok = _mm_and_ps(ok, _mm_cmple_ps(_mm_and_ps(x, magnitude), maxF));  // false for NaN too
    ok = _mm_and_ps(ok, _mm_cmple_ps(_mm_and_ps(y, magnitude), maxF));
    ok = _mm_and_ps(ok, _mm_cmple_ps(_mm_and_ps(z, magnitude), maxF));
    zeroX = _mm_or_ps(zeroX, _mm_cmpeq_ps(x, _mm_setzero_ps()));
    zeroY = _mm_or_ps(zeroY, _mm_cmpeq_ps(y, _mm_setzero_ps()));
    zeroZ = _mm_or_ps(zeroZ, _mm_cmpeq_ps(z, _mm_setzero_ps()));
    loX = _mm_min_ps(x, loX), hiX = _mm_max_ps(x, hiX);
    loY = _mm_min_ps(y, loY), hiY = _mm_max_ps(y, hiY);
    loZ = _mm_min_ps(z, loZ), hiZ = _mm_max_ps(z, hiZ);
    // Colour words of points 0 1 | 2 3 in the upper halves of yc01 and yc23.
    const __m256i c = _mm256_castpd_si256(_mm256_permute2f128_pd(yc01, yc23, 0x31));
    const __m256i s = _mm256_shuffle_epi8(c, colours);
    const __m128i rgb = _mm_unpacklo_epi16(_mm256_castsi256_si128(s), _mm256_extracti128_si256(s, 1));
    const uint32_t r = uint32_t(_mm_cvtsi128_si32(rgb)), g = uint32_t(_mm_extract_epi32(rgb, 1)),
                   b = uint32_t(_mm_extract_epi32(rgb, 2));
    std::memcpy(rs + i, &r, 4);
    std::memcpy(gs + i, &g, 4);
    std::memcpy(bs + i, &b, 4);
  }
  e.lo[0] = lowest(loX), e.lo[1] = lowest(loY), e.lo[2] = lowest(loZ);
  e.hi[0] = highest(hiX), e.hi[1] = highest(hiY), e.hi[2] = highest(hiZ);
  e.bad |= _mm_movemask_ps(ok) != 0xF;
  const bool sawZero[3] = {_mm_movemask_ps(zeroX) != 0, _mm_movemask_ps(zeroY) != 0, _mm_movemask_ps(zeroZ) != 0};
  for (int a = 0; a < 3; ++a) {
    if (e.zeroSign[a] == 0 && sawZero[a]) e.zeroSign[a] = firstZeroSign(p, 0, i, a);
    const float zero = e.zeroSign[a] < 0 ? -0.0f : 0.0f;
    if (e.lo[a] == 0) e.lo[a] = zero;
    if (e.hi[a] == 0) e.hi[a] = zero;
    if (e.zeroSign[a] == 0) e.zeroSign[a] = firstZeroSign(p, i, k, a);
  }
  packRange(p, i, k, k, out, e);
}

bool haveAvx2() {
  static const bool yes = __builtin_cpu_supports("avx2");
  return yes;
}
#endif

enum class StreamResult { Ok, BadCoordinate, WriteFailed };

StreamResult writeStream(platform::AtomicFile& f, const std::vector<CloudPoint>& points) {
  const std::size_t n = points.size();
  const std::size_t full = n / kE57PacketPoints, rest = n % kE57PacketPoints;
  const uint64_t packetBytes = uint64_t(full) * packetSize(kE57PacketPoints) + (rest ? packetSize(rest) : 0);
  const uint64_t B = kSectionHeaderSize + packetBytes;
  const uint64_t L = kHeaderSize + B;

  uint8_t header[kHeaderSize] = {};
  std::memcpy(header, "ASTM-E57", 8);
  putU32(header + 8, 1);
  putU32(header + 12, 0);
  putU64(header + 24, L + (L / 1020) * 4);
  putU64(header + 40, 1024);

  uint8_t section[kSectionHeaderSize] = {};
  section[0] = 1;
  putU64(section + 8, B);
  putU64(section + 16, 80);
  putU64(section + 24, 0);

  PagedOutput out(f);
  out.put(header, sizeof header);  // lengths that depend on the XML follow in patchFirstPage
  out.put(section, sizeof section);

  e57detail::Extent ext;
  std::vector<uint8_t> packet(packetSize(kE57PacketPoints));
  for (std::size_t first = 0; first < n; first += kE57PacketPoints) {
    const std::size_t k = std::min(kE57PacketPoints, n - first);
    const std::size_t P = packetSize(k);
    uint8_t* h = packet.data();
    h[0] = 1;
    h[1] = 0;
    putU16(h + 2, uint16_t(P - 1));
    putU16(h + 4, 6);
    for (int s = 0; s < 3; ++s) putU16(h + 6 + 2 * s, uint16_t(4 * k));
    for (int s = 3; s < 6; ++s) putU16(h + 6 + 2 * s, uint16_t(k));
    e57detail::packStreams(points.data() + first, k, h + kPacketHeaderSize, ext, true);
    if (ext.bad) return StreamResult::BadCoordinate;
    std::memset(h + kPacketHeaderSize + 15 * k, 0, P - (kPacketHeaderSize + 15 * k));
    out.put(packet.data(), P);
  }

  Bounds bounds{{ext.lo[0], ext.lo[1], ext.lo[2]}, {ext.hi[0], ext.hi[1], ext.hi[2]}};
  const std::string xml = buildXml(n, bounds);
  const uint64_t X = xml.size();
  out.put(xml.data(), xml.size());
  if (!out.finish()) return StreamResult::WriteFailed;

  putU64(header + 16, ((B + X + 1067) / 1020) * 1024);
  putU64(header + 32, X);
  return out.patchFirstPage(16, header + 16, 24) ? StreamResult::Ok : StreamResult::WriteFailed;
}

}  // namespace

bool writeE57(const std::string& path, const std::vector<CloudPoint>& points, std::string& error) {
  if (points.empty()) {
    error = kMsgNoPoints;
    return false;
  }
  // Written beside the target and renamed into place, so a failed write never leaves a broken
  // file or destroys the previous one.
  // The output's folder must exist: a mistyped path is refused, not created.
  std::error_code ec;
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  if (!parent.empty() && !std::filesystem::is_directory(parent, ec)) {
    error = kMsgCannotWrite;
    return false;
  }
  platform::AtomicFile file(path);
  if (!file.error().empty()) {
    error = kMsgCannotWrite;
    return false;
  }
  StreamResult result = writeStream(file, points);
  if (result == StreamResult::Ok && !file.commit().empty()) result = StreamResult::WriteFailed;
  if (result != StreamResult::Ok) {
    error = result == StreamResult::BadCoordinate ? kMsgBadCoordinate : kMsgCannotWrite;
    return false;
  }
  return true;
}

namespace e57detail {

Extent::Extent() {
  for (int a = 0; a < 3; ++a) {
    lo[a] = std::numeric_limits<float>::infinity();
    hi[a] = -std::numeric_limits<float>::infinity();
  }
}

void packStreams(const CloudPoint* p, std::size_t k, uint8_t* out, Extent& e, bool vector) {
#ifdef VELDRA_E57_AVX2
  if (vector && haveAvx2()) return packAvx2(p, k, out, e);
#endif
  (void)vector;
  packRange(p, 0, k, k, out, e);
}

}  // namespace e57detail

}  // namespace veldra
