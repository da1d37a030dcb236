#include "unit/cloud/E57Check.h"

#include <pugixml.hpp>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>

#include "cloud/Crc32c.h"

namespace veldra::test {
namespace {

uint64_t le(const uint8_t* p, int n) {
  uint64_t v = 0;
  for (int i = n - 1; i >= 0; --i) v = (v << 8) | p[i];
  return v;
}

}  // namespace

std::string readE57Strict(const std::string& path, E57Contents& out) {
  out = E57Contents{};
  std::ifstream in(path, std::ios::binary);
  if (!in) return "cannot open " + path;
  std::vector<uint8_t> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (file.empty() || file.size() % 1024 != 0) return "file size " + std::to_string(file.size()) + " is not whole pages";

  std::vector<uint8_t> logical;
  logical.reserve(file.size() / 1024 * 1020);
  for (std::size_t pg = 0; pg < file.size() / 1024; ++pg) {
    const uint8_t* p = file.data() + pg * 1024;
    const uint32_t stored = uint32_t(p[1020]) << 24 | uint32_t(p[1021]) << 16 | uint32_t(p[1022]) << 8 | p[1023];
    if (crc32c(p, 1020) != stored) return "bad checksum on page " + std::to_string(pg);
    logical.insert(logical.end(), p, p + 1020);
  }
  out.lastPagePayload.assign(logical.end() - 1020, logical.end());

  const uint8_t* h = logical.data();
  if (std::memcmp(h, "ASTM-E57", 8) != 0) return "bad signature";
  if (le(h + 8, 4) != 1 || le(h + 12, 4) != 0) return "bad version";
  if (le(h + 40, 8) != 1024) return "bad page size";
  out.physicalLength = le(h + 16, 8);
  out.xmlPhysicalOffset = le(h + 24, 8);
  out.xmlLength = le(h + 32, 8);
  if (out.physicalLength != file.size())
    return "physical length " + std::to_string(out.physicalLength) + " but file has " + std::to_string(file.size());
  if (out.xmlPhysicalOffset % 1024 >= 1020) return "XML offset points at a checksum";
  const uint64_t xmlLogical = out.xmlPhysicalOffset - (out.xmlPhysicalOffset / 1024) * 4;
  if (xmlLogical + out.xmlLength > logical.size()) return "XML runs past the end";
  if ((xmlLogical + out.xmlLength + 1019) / 1020 != file.size() / 1024) return "file has pages beyond its content";
  for (std::size_t i = xmlLogical + out.xmlLength; i < logical.size(); ++i)
    if (logical[i] != 0) return "non-zero padding after the XML";

  // Compressed-vector section at logical 48.
  const uint8_t* s = logical.data() + 48;
  if (s[0] != 1) return "section id is not 1";
  for (int i = 1; i < 8; ++i)
    if (s[i] != 0) return "reserved section bytes not zero";
  out.sectionLength = le(s + 8, 8);
  if (le(s + 16, 8) != 80) return "data offset is not 80";
  if (le(s + 24, 8) != 0) return "index offset is not 0";
  if (48 + out.sectionLength != xmlLogical) return "section does not end where the XML begins";

  uint64_t pos = 80;
  const uint64_t end = 48 + out.sectionLength;
  while (pos < end) {
    const uint8_t* p = logical.data() + pos;
    if (end - pos < 18) return "truncated packet header";
    if (p[0] != 1 || p[1] != 0) return "not a data packet";
    const uint64_t P = le(p + 2, 2) + 1;
    if (P % 4 != 0 || pos + P > end) return "bad packet length";
    if (le(p + 4, 2) != 6) return "stream count is not 6";
    const uint64_t k = le(p + 12, 2);
    const uint64_t want[6] = {4 * k, 4 * k, 4 * k, k, k, k};
    for (int i = 0; i < 6; ++i)
      if (le(p + 6 + 2 * i, 2) != want[i]) return "inconsistent stream lengths";
    if (k == 0 || P != ((18 + 15 * k + 3) & ~uint64_t(3))) return "packet size does not match its points";
    const uint8_t* d = p + 18;
    for (std::vector<float>* axis : {&out.x, &out.y, &out.z}) {
      for (uint64_t i = 0; i < k; ++i) {
        uint32_t bits = uint32_t(le(d + 4 * i, 4));
        float f;
        std::memcpy(&f, &bits, 4);
        axis->push_back(f);
      }
      d += 4 * k;
    }
    for (std::vector<uint8_t>* c : {&out.red, &out.green, &out.blue}) {
      c->insert(c->end(), d, d + k);
      d += k;
    }
    for (const uint8_t* q = d; q < p + P; ++q)
      if (*q != 0) return "non-zero packet padding";
    out.packetPoints.push_back(k);
    pos += P;
  }

  out.xml.assign(reinterpret_cast<const char*>(logical.data() + xmlLogical), out.xmlLength);
  pugi::xml_document doc;
  if (!doc.load_buffer(out.xml.data(), out.xml.size(), pugi::parse_full)) return "XML does not parse";
  if (doc.first_child().type() != pugi::node_declaration) return "no XML declaration";
  pugi::xml_node root = doc.child("e57Root");
  if (!root || std::string(root.attribute("xmlns").value()) != "http://www.astm.org/COMMIT/E57/2010-e57-v1.0")
    return "no e57Root in the E57 namespace";
  if (!root.child("images2D")) return "no images2D";
  pugi::xml_node scan = root.child("data3D").child("vectorChild");
  pugi::xml_node pts = scan.child("points");
  if (std::string(pts.attribute("type").value()) != "CompressedVector") return "points is not a CompressedVector";
  if (pts.attribute("fileOffset").as_ullong() != 48) return "fileOffset is not 48";
  out.recordCount = pts.attribute("recordCount").as_llong(-1);
  if (uint64_t(out.recordCount) != out.x.size()) return "recordCount differs from the points in the packets";
  pugi::xml_node rowMax = scan.child("indexBounds").child("rowMaximum");
  out.rowMaximum = rowMax ? rowMax.text().as_llong(-1) : -1;
  static const char* const kAxis[3] = {"x", "y", "z"};
  static const char* const kProto[3] = {"cartesianX", "cartesianY", "cartesianZ"};
  pugi::xml_node cb = scan.child("cartesianBounds");
  pugi::xml_node proto = pts.child("prototype");
  for (int a = 0; a < 3; ++a) {
    out.boundsMin[a] = cb.child((std::string(kAxis[a]) + "Minimum").c_str()).text().as_double(NAN);
    out.boundsMax[a] = cb.child((std::string(kAxis[a]) + "Maximum").c_str()).text().as_double(NAN);
    pugi::xml_node f = proto.child(kProto[a]);
    if (std::string(f.attribute("precision").value()) != "single") return "coordinates are not single precision";
    if (f.attribute("minimum").as_double(NAN) != out.boundsMin[a] || f.attribute("maximum").as_double(NAN) != out.boundsMax[a])
      return "prototype limits differ from cartesianBounds";
  }
  for (const char* c : {"colorRed", "colorGreen", "colorBlue"}) {
    pugi::xml_node n = proto.child(c);
    if (std::string(n.attribute("type").value()) != "Integer" || n.attribute("minimum").as_int(-1) != 0 ||
        n.attribute("maximum").as_int(-1) != 255)
      return std::string(c) + " is not an 8-bit Integer";
  }
  return {};
}

}  // namespace veldra::test
