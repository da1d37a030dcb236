// The E57 reader on files our writer produced: the points come back, thinning keeps its bound,
// and damaged files end in an error, never in a crash or in points.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "cloud/Crc32c.h"
#include "cloud/E57Reader.h"
#include "cloud/E57Writer.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

std::vector<CloudPoint> somePoints(std::size_t n) {
  std::vector<CloudPoint> pts(n);
  uint64_t s = 12345;
  for (auto& p : pts) {
    s = s * 6364136223846793005ull + 1442695040888963407ull;
    p.x = double(int64_t(s >> 44) - (1 << 19)) * 1e-3;
    p.y = double((s >> 20) & 0xFFFFF) * 1e-3;
    p.z = 80.0 + double(s & 0xFFF) * 1e-2;
    p.red = uint8_t(s >> 8), p.green = uint8_t(s >> 19), p.blue = uint8_t(s >> 33);
  }
  return pts;
}

std::string written(const std::vector<CloudPoint>& pts) {
  testing::TempDir dir;
  std::string error;
  EXPECT_TRUE(writeE57(dir.file("c.e57"), pts, error)) << error;
  return testing::readText(dir.file("c.e57"));
}

// Changes logical bytes of a paged file and seals the touched pages again, so that only the
// change itself is wrong.
std::string edited(std::string file, const std::function<void(std::string& logical)>& edit) {
  std::string logical;
  for (std::size_t pg = 0; pg < file.size() / 1024; ++pg) logical.append(file, pg * 1024, 1020);
  edit(logical);
  for (std::size_t pg = 0; pg < file.size() / 1024; ++pg) {
    std::memcpy(file.data() + pg * 1024, logical.data() + pg * 1020, 1020);
    const uint32_t crc = crc32cTable(logical.data() + pg * 1020, 1020);
    for (int i = 0; i < 4; ++i) file[pg * 1024 + 1020 + i] = char(crc >> (24 - 8 * i));
  }
  return file;
}

// Changes the XML section; it may grow into the padding of the last page.
std::string xmlEdited(const std::string& file, const std::function<void(std::string& xml)>& edit) {
  return edited(file, [&](std::string& l) {
    uint64_t at = 0, length = 0;
    std::memcpy(&at, l.data() + 24, 8);
    std::memcpy(&length, l.data() + 32, 8);
    at -= at / 1024 * 4;
    std::string xml = l.substr(at, length);
    edit(xml);
    ASSERT_LE(at + xml.size(), l.size());
    l.replace(at, xml.size(), xml);
    length = xml.size();
    std::memcpy(l.data() + 32, &length, 8);
  });
}

void replaceText(std::string& s, const std::string& from, const std::string& to) {
  const auto at = s.find(from);
  ASSERT_NE(at, std::string::npos) << from;
  s.replace(at, from.size(), to);
}

TEST(E57Reader, ReadsBackWhatTheWriterWrote) {
  const auto pts = somePoints(2500);  // three packets, the last one partial
  const std::string file = written(pts);
  const E57Cloud c = readE57Bytes(file);
  ASSERT_EQ(c.error, "");
  EXPECT_EQ(c.recordCount, pts.size());
  EXPECT_TRUE(c.hasColor);
  EXPECT_FALSE(c.hasIntensity);
  ASSERT_EQ(c.points.size(), pts.size());
  for (std::size_t i = 0; i < pts.size(); ++i) {
    const E57Point& got = c.points[i];
    const CloudPoint& in = pts[i];  // coordinates are stored in single precision
    ASSERT_EQ(std::tuple(got.x, got.y, got.z, got.red, got.green, got.blue),
              std::tuple(double(float(in.x)), double(float(in.y)), double(float(in.z)), in.red, in.green, in.blue))
        << "point " << i;
  }
  // The same from the file on disk.
  testing::TempDir dir;
  std::ofstream(dir.file("d.e57"), std::ios::binary) << file;
  EXPECT_EQ(readE57File(dir.file("d.e57")).points.size(), pts.size());
}

TEST(E57Reader, ThinsToAtMostTheAskedCountByEvenSteps) {
  const auto pts = somePoints(3000);
  const std::string file = written(pts);
  for (std::size_t limit : {1u, 7u, 1000u, 1500u, 2999u, 3000u, 100000u}) {
    const E57Cloud c = readE57Bytes(file, E57ReadOptions{limit});
    ASSERT_EQ(c.error, "");
    EXPECT_LE(c.points.size(), limit);
    EXPECT_GE(c.points.size() * 2, std::min(limit, pts.size())) << limit;  // not thinned more than needed
    for (std::size_t i = 0; i < c.points.size(); ++i)
      ASSERT_EQ(c.points[i].x, double(float(pts[i * c.stride].x))) << limit << " point " << i;
  }
}

TEST(E57Reader, PoseIsApplied) {
  const std::string file = xmlEdited(written(somePoints(10)), [](std::string& xml) {
    // A quarter turn about z and a shift, in place of the writer's identity pose.
    replaceText(xml, "<z type=\"Float\"/></rotation>", "<z type=\"Float\">1</z></rotation>");
    replaceText(xml, "<translation type=\"Structure\"><x type=\"Float\"/>",
                "<translation type=\"Structure\"><x type=\"Float\">7</x>");
  });
  const auto pts = somePoints(10);
  const E57Cloud c = readE57Bytes(file);
  ASSERT_EQ(c.error, "");
  ASSERT_EQ(c.points.size(), 10u);
  EXPECT_NEAR(c.points[3].x, 7 - double(float(pts[3].y)), 1e-9);
  EXPECT_NEAR(c.points[3].y, double(float(pts[3].x)), 1e-9);
}

TEST(E57Reader, DamagedFilesGiveAnErrorAndNoPoints) {
  const std::string good = written(somePoints(2500));
  auto headerU64 = [](std::size_t at, uint64_t v) {
    return [=](std::string& l) { std::memcpy(l.data() + at, &v, 8); };
  };
  const struct {
    const char* what;
    std::string bytes;
  } cases[] = {
      {"empty", ""},
      {"truncated by a page", good.substr(0, good.size() - 1024)},
      {"truncated inside a page", good.substr(0, good.size() - 1)},
      {"bad checksum", [&] { std::string b = good; b[1024 + 17] ^= 1; return b; }()},
      {"not e57", edited(good, [](std::string& l) { l[0] = 'X'; })},
      {"record count larger than the section", xmlEdited(good, [](std::string& x) { replaceText(x, "recordCount=\"2500\"", "recordCount=\"2501\""); })},
      {"record count far beyond the data", xmlEdited(good, [](std::string& x) { replaceText(x, "recordCount=\"2500\"", "recordCount=\"2500000\""); })},
      {"record count past 64 bits", xmlEdited(good, [](std::string& x) { replaceText(x, "recordCount=\"2500\"", "recordCount=\"99999999999999999999\""); })},
      {"XML broken", xmlEdited(good, [](std::string& x) { replaceText(x, "</e57Root>", ""); })},
      {"no z", xmlEdited(good, [](std::string& x) { replaceText(x, "<cartesianZ", "<cartesianQ"); replaceText(x, "</cartesianZ", "</cartesianQ"); })},
      {"XML length past the end", edited(good, headerU64(32, uint64_t(1) << 40))},
      {"XML offset in a checksum", edited(good, headerU64(24, 1021))},
      {"section length past the end", edited(good, headerU64(48 + 8, uint64_t(1) << 50))},
      {"packet longer than the section", edited(good, [](std::string& l) { l[48 + 32 + 2] = char(0xFF), l[48 + 32 + 3] = char(0xFF); })},
      {"stream longer than its packet", edited(good, [](std::string& l) { l[48 + 32 + 6] = char(0xFF), l[48 + 32 + 7] = char(0xFF); })},
      {"wrong stream count", edited(good, [](std::string& l) { l[48 + 32 + 4] = 2; })},
  };
  for (const auto& c : cases) {
    const E57Cloud r = readE57Bytes(c.bytes);
    EXPECT_NE(r.error, "") << c.what;
    EXPECT_TRUE(r.points.empty()) << c.what;
  }
  EXPECT_NE(readE57File("/nonexistent/cloud.e57").error, "");
}

}  // namespace
}  // namespace veldra
