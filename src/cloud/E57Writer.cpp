#include "cloud/E57Writer.h"

#include <pugixml.hpp>

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <limits>
#include <system_error>

#include "cloud/Crc32c.h"

namespace veldra {
namespace {

constexpr const char* kMsgNoPoints = "Brak punktow do zapisu.";
constexpr const char* kMsgCannotWrite = "Nie mozna zapisac pliku e57.";
constexpr const char* kMsgBadCoordinate = "Wspolrzedne punktow poza zakresem pliku e57.";

constexpr std::size_t kHeaderSize = 48;
constexpr std::size_t kSectionHeaderSize = 32;
constexpr std::size_t kPacketHeaderSize = 18;
constexpr std::size_t kPagesPerFlush = 1024;

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
class PagedOutput {
 public:
  explicit PagedOutput(std::FILE* f) : file_(f), buf_(kPagesPerFlush * kE57PageSize) {}

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
    flush();
    return ok_;
  }

  // Overwrites logical bytes [at, at + n) of the first page in the file (after finish()).
  bool patchFirstPage(std::size_t at, const void* data, std::size_t n) {
    std::memcpy(first_ + at, data, n);
    seal(first_);
    if (!ok_ || std::fseek(file_, 0, SEEK_SET) != 0 || std::fwrite(first_, 1, kE57PageSize, file_) != kE57PageSize)
      ok_ = false;
    return ok_;
  }

 private:
  uint8_t* page() { return buf_.data() + pages_ * kE57PageSize; }

  static void seal(uint8_t* pg) {
    const uint32_t crc = crc32c(pg, kE57PagePayload);
    pg[1020] = uint8_t(crc >> 24);
    pg[1021] = uint8_t(crc >> 16);
    pg[1022] = uint8_t(crc >> 8);
    pg[1023] = uint8_t(crc);
  }

  void endPage() {
    seal(page());
    if (pagesWritten_ == 0 && pages_ == 0) std::memcpy(first_, page(), kE57PageSize);
    inPage_ = 0;
    if (++pages_ == kPagesPerFlush) flush();
  }

  void flush() {
    const std::size_t bytes = pages_ * kE57PageSize;
    if (ok_ && bytes > 0 && std::fwrite(buf_.data(), 1, bytes, file_) != bytes) ok_ = false;
    pagesWritten_ += pages_;
    pages_ = 0;
  }

  std::FILE* file_;
  std::vector<uint8_t> buf_;
  uint8_t first_[kE57PageSize] = {};
  std::size_t pages_ = 0;         // complete pages waiting in buf_
  std::size_t pagesWritten_ = 0;  // pages handed to the file
  std::size_t inPage_ = 0;        // logical bytes in the current page
  bool ok_ = true;
};

enum class StreamResult { Ok, BadCoordinate, WriteFailed };

StreamResult writeStream(std::FILE* f, const std::vector<CloudPoint>& points) {
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

  // Bounds of the values as they are stored. They are taken on float values on purpose: g++ 12 at
  // -O2 folds double(float(x)) back to x once it knows x's range, which would give the double bounds.
  // Plain locals keep the hot loop in registers.
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kMaxF = std::numeric_limits<float>::max();
  float loX = kInf, loY = kInf, loZ = kInf, hiX = -kInf, hiY = -kInf, hiZ = -kInf;
  bool bad = false;

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
    uint8_t* xs = h + kPacketHeaderSize;
    uint8_t* ys = xs + 4 * k;
    uint8_t* zs = ys + 4 * k;
    uint8_t* rs = zs + 4 * k;
    uint8_t* gs = rs + k;
    uint8_t* bs = gs + k;
    const CloudPoint* p = points.data() + first;
    for (std::size_t i = 0; i < k; ++i) {
      const float x = float(p[i].x), y = float(p[i].y), z = float(p[i].z);
      bad |= !(std::fabs(x) <= kMaxF) | !(std::fabs(y) <= kMaxF) | !(std::fabs(z) <= kMaxF);  // NaN, too large
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
    if (bad) return StreamResult::BadCoordinate;
    std::memset(bs + k, 0, P - (kPacketHeaderSize + 15 * k));
    out.put(packet.data(), P);
  }

  Bounds bounds{{loX, loY, loZ}, {hiX, hiY, hiZ}};
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
  const std::string tmp = path + ".tmp";
  std::FILE* f = std::fopen(tmp.c_str(), "wb");
  if (!f) {
    error = kMsgCannotWrite;
    return false;
  }
  StreamResult result = writeStream(f, points);
  if (std::fclose(f) != 0 && result == StreamResult::Ok) result = StreamResult::WriteFailed;
  std::error_code ec;
  if (result == StreamResult::Ok) std::filesystem::rename(tmp, path, ec);
  if (result != StreamResult::Ok || ec) {
    std::filesystem::remove(tmp, ec);
    error = result == StreamResult::BadCoordinate ? kMsgBadCoordinate : kMsgCannotWrite;
    return false;
  }
  return true;
}

}  // namespace veldra
