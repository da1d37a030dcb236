#include "cloud/E57Reader.h"

#include <pugixml.hpp>

#include <unistd.h>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include "cloud/Crc32c.h"
#include "platform/InputFile.h"

namespace veldra {
namespace {

constexpr const char* kPrefix = "Nie mozna odczytac chmury punktow (e57): ";
constexpr uint64_t kPage = 1024, kPayload = 1020;
// Far above any XML section a scan needs; a larger length is a damaged header.
constexpr uint64_t kMaxXml = 64ull << 20;
// Unread bytes one stream may run ahead of the others before the file counts as damaged.
constexpr std::size_t kMaxStreamBacklog = 4u << 20;

struct Failure : std::runtime_error {
  using std::runtime_error::runtime_error;
};
[[noreturn]] void fail(const std::string& why) { throw Failure(why); }

uint64_t u64At(const uint8_t* p) {
  uint64_t v = 0;
  for (int i = 7; i >= 0; --i) v = v << 8 | p[i];
  return v;
}
uint16_t u16At(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Physical bytes of the file.
class Source {
 public:
  virtual ~Source() = default;
  virtual uint64_t size() const = 0;
  virtual bool read(uint64_t offset, std::size_t n, uint8_t* out) const = 0;
};

class MemorySource : public Source {
 public:
  explicit MemorySource(std::string_view b) : bytes_(b) {}
  uint64_t size() const override { return bytes_.size(); }
  bool read(uint64_t offset, std::size_t n, uint8_t* out) const override {
    if (offset > bytes_.size() || n > bytes_.size() - offset) return false;
    std::memcpy(out, bytes_.data() + offset, n);
    return true;
  }

 private:
  std::string_view bytes_;
};

class FileSource : public Source {
 public:
  explicit FileSource(platform::InputFile f) : file_(std::move(f)) {}
  uint64_t size() const override { return file_.size(); }
  bool read(uint64_t offset, std::size_t n, uint8_t* out) const override {
    while (n > 0) {
      const ssize_t got = ::pread(file_.fd(), out, n, off_t(offset));
      if (got <= 0) return false;
      out += got, offset += uint64_t(got), n -= std::size_t(got);
    }
    return true;
  }

 private:
  platform::InputFile file_;
};

// The logical byte stream: pages of 1020 bytes, each checked against its CRC when first read.
class Pages {
 public:
  Pages(const Source& src, uint64_t pageCount) : src_(src), pages_(pageCount) {}
  uint64_t logicalSize() const { return pages_ * kPayload; }

  void read(uint64_t at, std::size_t n, uint8_t* out) {
    if (at > logicalSize() || n > logicalSize() - at) fail("dane poza koncem pliku.");
    while (n > 0) {
      load(at / kPayload);
      const std::size_t in = std::size_t(at % kPayload), take = std::min<std::size_t>(n, kPayload - in);
      std::memcpy(out, page_.data() + in, take);
      out += take, at += take, n -= take;
    }
  }

  // A physical offset as the file gives it, as a logical one; never inside a checksum.
  uint64_t logicalOf(uint64_t physical) const {
    if (physical % kPage >= kPayload || physical / kPage >= pages_) fail("przesuniecie poza danymi pliku.");
    return physical / kPage * kPayload + physical % kPage;
  }

 private:
  void load(uint64_t index) {
    if (index == loaded_) return;
    if (!src_.read(index * kPage, kPage, page_.data())) fail("plik jest niepelny.");
    const uint32_t stored = uint32_t(page_[1020]) << 24 | uint32_t(page_[1021]) << 16 | uint32_t(page_[1022]) << 8 | page_[1023];
    if (crc32c(page_.data(), kPayload) != stored) fail("bledna suma kontrolna strony " + std::to_string(index) + ".");
    loaded_ = index;
  }

  const Source& src_;
  uint64_t pages_;
  uint64_t loaded_ = std::numeric_limits<uint64_t>::max();
  std::array<uint8_t, kPage> page_{};
};

enum class Role { X, Y, Z, Red, Green, Blue, Intensity, Invalid, Other };
enum class Kind { Float, Integer, Scaled };

// One field of the prototype: how its values are packed and what they mean.
struct Field {
  Role role = Role::Other;
  Kind kind = Kind::Integer;
  unsigned bits = 0;
  int64_t min = 0;
  double scale = 1, offset = 0;
  double lo = 0, hi = 0;  // range for colour and intensity
};

bool parseInt(const char* text, int64_t& out) {
  const char* end = text + std::strlen(text);
  while (text < end && *text == ' ') ++text;
  const auto r = std::from_chars(text, end, out);
  return r.ec == std::errc() && r.ptr == end;
}
bool parseUnsigned(const char* text, uint64_t& out) {
  const char* end = text + std::strlen(text);
  const auto r = std::from_chars(text, end, out);
  return r.ec == std::errc() && r.ptr == end && end != text;
}
double number(pugi::xml_attribute a, double fallback) {
  if (!a) return fallback;
  const double v = a.as_double(fallback);
  return std::isfinite(v) ? v : fallback;
}

Role roleOf(std::string_view name) {
  if (name == "cartesianX") return Role::X;
  if (name == "cartesianY") return Role::Y;
  if (name == "cartesianZ") return Role::Z;
  if (name == "colorRed") return Role::Red;
  if (name == "colorGreen") return Role::Green;
  if (name == "colorBlue") return Role::Blue;
  if (name == "intensity") return Role::Intensity;
  if (name == "cartesianInvalidState") return Role::Invalid;
  return Role::Other;
}

Field fieldOf(pugi::xml_node n) {
  Field f;
  f.role = roleOf(n.name());
  const std::string_view type = n.attribute("type").value();
  if (type == "Float") {
    f.kind = Kind::Float;
    f.bits = std::string_view(n.attribute("precision").value()) == "single" ? 32 : 64;
    f.lo = number(n.attribute("minimum"), 0);
    f.hi = number(n.attribute("maximum"), 1);
    return f;
  }
  if (type != "Integer" && type != "ScaledInteger") fail(std::string("nieobslugiwane pole punktu ") + n.name() + ".");
  f.kind = type == "Integer" ? Kind::Integer : Kind::Scaled;
  int64_t lo = std::numeric_limits<int64_t>::min(), hi = std::numeric_limits<int64_t>::max();
  if (n.attribute("minimum") && !parseInt(n.attribute("minimum").value(), lo)) fail("bledne minimum pola.");
  if (n.attribute("maximum") && !parseInt(n.attribute("maximum").value(), hi)) fail("bledne maksimum pola.");
  if (hi < lo) fail("pole o pustym zakresie.");
  f.min = lo;
  f.bits = unsigned(std::bit_width(uint64_t(hi) - uint64_t(lo)));
  if (f.kind == Kind::Scaled) {
    f.scale = number(n.attribute("scale"), 1);
    f.offset = number(n.attribute("offset"), 0);
  }
  f.lo = double(lo) * f.scale + f.offset;
  f.hi = double(hi) * f.scale + f.offset;
  return f;
}

// One field's bytes as they arrive packet by packet, read bit by bit, lowest bit first.
struct Stream {
  std::vector<uint8_t> bytes;
  uint64_t bitPos = 0;

  uint64_t bitsLeft() const { return uint64_t(bytes.size()) * 8 - bitPos; }
  void append(const uint8_t* p, std::size_t n) {
    bytes.erase(bytes.begin(), bytes.begin() + std::ptrdiff_t(bitPos / 8));
    bitPos %= 8;
    if (bytes.size() + n > kMaxStreamBacklog) fail("strumienie danych nie sa rowne.");
    bytes.insert(bytes.end(), p, p + n);
  }
  uint64_t take(unsigned bits) {
    if (bits % 8 == 0 && bitPos % 8 == 0) {  // whole bytes: the usual case
      uint64_t v = 0;
      const uint8_t* p = bytes.data() + bitPos / 8;
      for (unsigned i = bits / 8; i-- > 0;) v = v << 8 | p[i];
      bitPos += bits;
      return v;
    }
    uint64_t v = 0;
    for (unsigned got = 0; got < bits;) {
      const unsigned off = unsigned(bitPos % 8), step = std::min(8 - off, bits - got);
      v |= uint64_t((bytes[bitPos / 8] >> off) & ((1u << step) - 1)) << got;
      got += step;
      bitPos += step;
    }
    return v;
  }
};

double valueOf(const Field& f, uint64_t raw) {
  switch (f.kind) {
    case Kind::Float:
      return f.bits == 32 ? double(std::bit_cast<float>(uint32_t(raw))) : std::bit_cast<double>(raw);
    case Kind::Integer:
      return double(int64_t(uint64_t(f.min) + raw));
    case Kind::Scaled:
      return double(int64_t(uint64_t(f.min) + raw)) * f.scale + f.offset;
  }
  return 0;
}

double unit(const Field& f, double v) {
  const double span = f.hi - f.lo;
  if (!(span > 0) || !std::isfinite(span)) return 0;
  return std::clamp((v - f.lo) / span, 0.0, 1.0);
}

// Rotation (unit quaternion) and translation of the scan into the file's frame.
struct Pose {
  double m[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
  double t[3] = {0, 0, 0};
};

Pose poseOf(pugi::xml_node scan) {
  Pose p;
  const pugi::xml_node pose = scan.child("pose");
  const pugi::xml_node tr = pose.child("translation"), rot = pose.child("rotation");
  const char* axes[3] = {"x", "y", "z"};
  for (int a = 0; a < 3; ++a) p.t[a] = tr.child(axes[a]).text().as_double(0);
  double w = rot ? rot.child("w").text().as_double(0) : 1, x = rot.child("x").text().as_double(0),
         y = rot.child("y").text().as_double(0), z = rot.child("z").text().as_double(0);
  const double norm = std::sqrt(w * w + x * x + y * y + z * z);
  for (double v : p.t)
    if (!std::isfinite(v)) fail("bledna pozycja skanu.");
  if (!std::isfinite(norm) || norm < 1e-12) fail("bledny obrot skanu.");
  w /= norm, x /= norm, y /= norm, z /= norm;
  const double r[3][3] = {{1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y)},
                          {2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x)},
                          {2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y)}};
  std::memcpy(p.m, r, sizeof r);
  return p;
}

E57Cloud readFrom(const Source& src, const E57ReadOptions& options) {
  E57Cloud out;
  if (src.size() < kPage || src.size() % kPage != 0) fail("plik nie sklada sie z calych stron.");
  uint8_t header[48];
  Pages first(src, 1);
  first.read(0, sizeof header, header);
  if (std::memcmp(header, "ASTM-E57", 8) != 0) fail("to nie jest plik e57.");
  if (header[8] != 1 || header[9] || header[10] || header[11]) fail("nieobslugiwana wersja pliku.");
  const uint64_t physicalLength = u64At(header + 16), xmlPhysical = u64At(header + 24), xmlLength = u64At(header + 32);
  if (u64At(header + 40) != kPage) fail("nieobslugiwany rozmiar strony.");
  if (physicalLength % kPage != 0 || physicalLength == 0) fail("bledna dlugosc pliku w naglowku.");
  if (physicalLength > src.size()) fail("plik jest niepelny.");
  Pages pages(src, physicalLength / kPage);

  // XML section.
  const uint64_t xmlAt = pages.logicalOf(xmlPhysical);
  if (xmlLength == 0 || xmlLength > kMaxXml || xmlLength > pages.logicalSize() - xmlAt) fail("bledna dlugosc sekcji XML.");
  std::string xml(std::size_t(xmlLength), '\0');
  pages.read(xmlAt, xml.size(), reinterpret_cast<uint8_t*>(xml.data()));
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) fail("sekcja XML nie jest poprawnym XML.");
  xml.clear();
  xml.shrink_to_fit();
  const pugi::xml_node scan = doc.child("e57Root").child("data3D").child("vectorChild");
  if (!scan) fail("plik nie zawiera skanu.");
  const pugi::xml_node points = scan.child("points");
  if (std::string_view(points.attribute("type").value()) != "CompressedVector") fail("skan nie ma punktow.");
  uint64_t sectionPhysical = 0;
  if (!parseUnsigned(points.attribute("fileOffset").value(), sectionPhysical) ||
      !parseUnsigned(points.attribute("recordCount").value(), out.recordCount))
    fail("bledny opis punktow.");
  for (pugi::xml_node c : points.child("codecs").children())
    if (c.type() == pugi::node_element) fail("nieobslugiwany kodek.");

  std::vector<Field> fields;
  bool have[3] = {false, false, false}, colour[3] = {false, false, false};
  for (pugi::xml_node n : points.child("prototype").children()) {
    if (n.type() != pugi::node_element) continue;
    if (fields.size() == 64) fail("za duzo pol punktu.");
    fields.push_back(fieldOf(n));
    const Role r = fields.back().role;
    if (r == Role::X || r == Role::Y || r == Role::Z) have[int(r)] = true;
    if (r == Role::Red || r == Role::Green || r == Role::Blue) colour[int(r) - int(Role::Red)] = true;
    if (r == Role::Intensity) out.hasIntensity = true;
  }
  if (!have[0] || !have[1] || !have[2]) fail("punkty nie maja wspolrzednych kartezjanskich.");
  out.hasColor = colour[0] && colour[1] && colour[2];
  uint64_t bitsPerRecord = 0;
  for (const Field& f : fields) bitsPerRecord += f.bits;
  if (bitsPerRecord == 0) fail("punkty bez danych.");
  const Pose pose = poseOf(scan);

  // Compressed-vector section.
  const uint64_t sectionAt = pages.logicalOf(sectionPhysical);
  uint8_t section[32];
  pages.read(sectionAt, sizeof section, section);
  const uint64_t sectionLength = u64At(section + 8);
  if (section[0] != 1 || sectionLength < sizeof section || sectionLength > pages.logicalSize() - sectionAt)
    fail("bledny naglowek sekcji punktow.");
  const uint64_t sectionEnd = sectionAt + sectionLength;
  const uint64_t dataAt = pages.logicalOf(u64At(section + 16));
  if (dataAt < sectionAt + sizeof section || dataAt >= sectionEnd) {
    if (out.recordCount > 0) fail("bledny poczatek danych punktow.");
  }
  // Each record takes bitsPerRecord bits of the section: a larger count is a damaged file.
  if (out.recordCount > 0 && out.recordCount > (sectionEnd - dataAt) * 8 / bitsPerRecord)
    fail("liczba punktow wieksza niz sekcja danych.");
  if (options.maxPoints == 0 || out.recordCount == 0) return out;

  out.stride = out.recordCount / options.maxPoints + (out.recordCount % options.maxPoints != 0);
  out.points.reserve(std::size_t(std::min<uint64_t>(options.maxPoints, out.recordCount / out.stride + 1)));
  std::vector<Stream> streams(fields.size());
  std::vector<uint8_t> packet;
  uint64_t record = 0, cursor = dataAt;
  double v[9];
  while (record < out.recordCount) {
    if (cursor + 4 > sectionEnd) fail("liczba punktow wieksza niz sekcja danych.");
    uint8_t head[4];
    pages.read(cursor, 4, head);
    const uint64_t length = uint64_t(u16At(head + 2)) + 1;
    if (length > sectionEnd - cursor) fail("pakiet poza sekcja danych.");
    if (head[0] > 2) fail("nieznany rodzaj pakietu.");
    if (head[0] != 1) {  // index and empty packets carry no points
      cursor += length;
      continue;
    }
    if (length < 6) fail("bledna liczba strumieni w pakiecie.");
    packet.resize(std::size_t(length));
    pages.read(cursor, packet.size(), packet.data());
    cursor += length;
    const std::size_t count = u16At(packet.data() + 4);
    if (count != fields.size() || 6 + 2 * count > packet.size()) fail("bledna liczba strumieni w pakiecie.");
    std::size_t at = 6 + 2 * count;
    for (std::size_t s = 0; s < count; ++s) {
      const std::size_t n = u16At(packet.data() + 6 + 2 * s);
      if (n > packet.size() - at) fail("strumien poza pakietem.");
      streams[s].append(packet.data() + at, n);
      at += n;
    }
    // Whole records now available, and the records up to the next one kept are skipped.
    uint64_t ready = std::numeric_limits<uint64_t>::max();
    for (std::size_t s = 0; s < fields.size(); ++s)
      if (fields[s].bits) ready = std::min(ready, streams[s].bitsLeft() / fields[s].bits);
    ready = std::min(ready, out.recordCount - record);
    while (ready > 0) {
      const uint64_t skip = std::min(ready, (out.stride - record % out.stride) % out.stride);
      if (skip > 0) {
        for (std::size_t s = 0; s < fields.size(); ++s) streams[s].bitPos += skip * fields[s].bits;
        record += skip, ready -= skip;
        continue;
      }
      E57Point p;
      bool valid = true;
      std::fill(std::begin(v), std::end(v), 0.0);
      for (std::size_t s = 0; s < fields.size(); ++s) {
        const Field& f = fields[s];
        const double value = valueOf(f, streams[s].take(f.bits));
        if (f.role == Role::Invalid) valid = valid && value == 0;
        else if (f.role != Role::Other) v[int(f.role)] = f.role >= Role::Red ? unit(f, value) : value;
      }
      ++record, --ready;
      if (!valid || !std::isfinite(v[0]) || !std::isfinite(v[1]) || !std::isfinite(v[2])) continue;
      const double* m[3] = {pose.m[0], pose.m[1], pose.m[2]};
      p.x = m[0][0] * v[0] + m[0][1] * v[1] + m[0][2] * v[2] + pose.t[0];
      p.y = m[1][0] * v[0] + m[1][1] * v[1] + m[1][2] * v[2] + pose.t[1];
      p.z = m[2][0] * v[0] + m[2][1] * v[1] + m[2][2] * v[2] + pose.t[2];
      p.red = uint8_t(std::lround(v[3] * 255)), p.green = uint8_t(std::lround(v[4] * 255));
      p.blue = uint8_t(std::lround(v[5] * 255));
      p.intensity = float(v[6]);
      if (out.points.size() < options.maxPoints) out.points.push_back(p);
    }
  }
  return out;
}

E57Cloud guarded(const Source& src, const E57ReadOptions& options) {
  try {
    return readFrom(src, options);
  } catch (const Failure& e) {
    E57Cloud bad;
    bad.error = std::string(kPrefix) + e.what();
    return bad;
  } catch (const std::bad_alloc&) {
    E57Cloud bad;
    bad.error = std::string(kPrefix) + "za malo pamieci.";
    return bad;
  }
}

}  // namespace

E57Cloud readE57File(const std::filesystem::path& path, const E57ReadOptions& options) {
  platform::InputFile f = platform::InputFile::open(path);
  if (f.fd() < 0) {
    E57Cloud bad;
    bad.error = std::string(kPrefix) + f.error();
    return bad;
  }
  return guarded(FileSource(std::move(f)), options);
}

E57Cloud readE57Bytes(std::string_view bytes, const E57ReadOptions& options) {
  return guarded(MemorySource(bytes), options);
}

}  // namespace veldra
