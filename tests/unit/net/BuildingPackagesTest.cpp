#include "net/BuildingPackages.h"

#include <gtest/gtest.h>
#include <zip.h>

#include <filesystem>
#include <fstream>

#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using veldra::testing::TempDir;

std::string sheet(double x0, double y0, const std::string& extra = "") {
  const auto n = [](double v) { return std::to_string(v); };
  return "<?xml version=\"1.0\"?><core:CityModel xmlns:core=\"c\" xmlns:gml=\"g\" xmlns:bldg=\"b\">" + extra +
         "<gml:boundedBy><gml:Envelope><gml:lowerCorner>" + n(x0) + " " + n(y0) + " 0</gml:lowerCorner><gml:upperCorner>" +
         n(x0 + 100) + " " + n(y0 + 100) + " 50</gml:upperCorner></gml:Envelope></gml:boundedBy>"
         "<bldg:Building gml:id=\"b" + n(x0) + "\"><gml:LinearRing><gml:posList>" + n(x0 + 1) + " " + n(y0 + 1) +
         " 10 " + n(x0 + 9) + " " + n(y0 + 1) + " 10 " + n(x0 + 9) + " " + n(y0 + 9) + " 20</gml:posList>"
         "</gml:LinearRing></bldg:Building></core:CityModel>";
}

// A ZIP of (name, bytes) written with libzip.
void writeZip(const fs::path& path, const std::vector<std::pair<std::string, std::string>>& entries) {
  int err = 0;
  zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
  ASSERT_TRUE(z);
  for (const auto& [name, bytes] : entries) {
    zip_source_t* s = zip_source_buffer(z, bytes.data(), bytes.size(), 0);
    ASSERT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_ENC_RAW), 0);
  }
  ASSERT_EQ(zip_close(z), 0);
}

TEST(SheetIndex, RoundTripAndRejectedFiles) {
  TempDir dir;
  const std::string path = (dir.path() / "p.zip.idx").string();
  const std::vector<SheetEntry> entries = {{"a/b c.gml", {500000.1234, 250000, 500100.5, 250100.25}},
                                           {"x.gml", {-1, -2, 3, 4}}};
  ASSERT_EQ(writeSheetIndex(path, entries), "");
  const auto back = readSheetIndex(path);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->size(), 2u);
  EXPECT_EQ((*back)[0].name, "a/b c.gml");
  EXPECT_NEAR((*back)[0].envelope.minX, 500000.123, 1e-9);   // three decimals kept
  struct Case {
    const char* text;
    bool accepted;
  } cases[] = {
      {"B3DIDX1 v2\nx.gml\t1\t2\t3\t4\n", true},     // text after the marker
      {" B3DIDX1\nx.gml\t1\t2\t3\t4\n", false},      // blank before it
      {"PK\x03\x04garbage\n", false},
      {"B3DIDX1\nx.gml\t1\t2\tthree\t4\n", false},
      {"B3DIDX1\nx.gml\t1\t2\t3\n", false},
      {"B3DIDX1\nx.gml\t1\t2\t3\tnan\n", false},
      {"B3DIDX1\n\t1\t2\t3\t4\n", false},
  };
  for (const auto& c : cases) {
    std::ofstream(path, std::ios::binary) << c.text;
    EXPECT_EQ(readSheetIndex(path).has_value(), c.accepted) << c.text;
  }
}

TEST(SheetIndex, FrameTouching) {
  const std::vector<SheetEntry> e = {{"a", {0, 0, 10, 10}}};
  struct Case {
    Bbox frame;
    bool hit;
  } cases[] = {{{10, 0, 20, 10}, true}, {{-5, 10, 0, 20}, true}, {{10.001, 0, 20, 10}, false},
               {{2, 2, 3, 3}, true}, {{-10, -10, 20, 20}, true}, {{0, -5, 10, -0.001}, false}};
  for (const auto& c : cases) EXPECT_EQ(sheetsInFrame(e, c.frame).size(), c.hit ? 1u : 0u) << c.frame.minX;
}

TEST(ZipPackageRead, BadArchivesAndEntries) {
  TempDir dir;
  const fs::path zipPath = dir.path() / "p.zip";
  const std::string big(4096, ' ');
  writeZip(zipPath, {{"../evil.gml", sheet(0, 0)},
                     {"/abs.gml", sheet(200, 0)},
                     {"late.gml", std::string(9000, ' ') + sheet(400, 0)},   // envelope past the head
                     {"none.gml", "<a/>"},
                     {"bomb.gml", big + big + big}});
  std::string why;
  auto pkg = ZipPackage::open(zipPath.string(), why);
  ASSERT_TRUE(pkg) << why;
  PackageLimits limits;
  limits.maxEntryBytes = 9200;
  const SheetIndexBuild idx = buildSheetIndex(*pkg, limits);
  std::vector<std::string> names;
  for (const auto& e : idx.entries) names.push_back(e.name);
  EXPECT_EQ(names, (std::vector<std::string>{"../evil.gml", "/abs.gml"}));
  EXPECT_EQ(idx.skipped.size(), 2u);   // late.gml and bomb.gml past the bound as a whole
  limits.maxEntryBytes = 20000;
  EXPECT_EQ(buildSheetIndex(*pkg, limits).entries.size(), 3u);
  EXPECT_EQ(pkg->read("bomb.gml", 100, ZipPackage::Extent::Whole).status, ZipPackage::ReadStatus::TooLarge);
  EXPECT_EQ(pkg->read("bomb.gml", 100, ZipPackage::Extent::Head).bytes.size(), 100u);
  // Names are never paths: nothing appeared beside or above the package.
  EXPECT_FALSE(fs::exists(dir.path().parent_path() / "evil.gml"));
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), fs::directory_iterator()), 1);

  // A truncated archive does not open.
  const std::string bytes = testing::readText(zipPath);
  std::ofstream(dir.path() / "cut.zip", std::ios::binary) << bytes.substr(0, bytes.size() / 2);
  EXPECT_FALSE(ZipPackage::open((dir.path() / "cut.zip").string(), why));
}

class PackageFetch : public veldra::testing::ScriptedNetTest {
 protected:
  veldra::testing::CacheFolder cacheFolder;
  std::string zipBytes(const std::vector<std::pair<std::string, std::string>>& entries) {
    const fs::path p = cacheFolder.home.path() / "src.zip";
    writeZip(p, entries);
    return testing::readText(p);
  }
};

TEST_F(PackageFetch, YearsInOrderIndexBesideAndFrameSheetsOnly) {
  transport.files[packageUrlLod1("0464", 2021)] = zipBytes({{"s1.gml", sheet(0, 0)}, {"s2.gml", sheet(1000, 0)}});
  const auto got = fetchBuildings3d(client, "0464", Bbox{5, 5, 100, 60});
  ASSERT_EQ(transport.urls.size(), 3u);   // 2024, 2022, then 2021
  EXPECT_EQ(got.year, 2021);
  EXPECT_EQ(got.buildings.size(), 1u);
  EXPECT_EQ(got.note, "Modele 3D: LOD1 2021, powiat 0464, budynkow w kadrze: 1");
  const std::string cached = cachePathFor(packageUrlLod1("0464", 2021), "zip");
  ASSERT_TRUE(readSheetIndex(cached + ".idx"));
  EXPECT_EQ(readSheetIndex(cached + ".idx")->size(), 2u);
}

TEST_F(PackageFetch, Notices) {
  transport.files[packageUrlLod2("0001")] = "PK\x03\x04 not really a zip";
  transport.files[packageUrlLod2("0002")] = zipBytes({{"a.gml", "<x/>"}});
  struct Case {
    std::string county;
    std::string note;
  } cases[] = {
      {"", "Budynki LOD2: nie udalo sie ustalic powiatu dla tego kadru."},
      {"146", "Budynki LOD2: nieprawidlowy kod TERYT dla tego kadru."},
      {"0003", "Budynki LOD2: brak paczki dla powiatu 0003"},
      {"0001", "Budynki LOD2: Nie mozna otworzyc paczki modeli 3D: " + cachePathFor(packageUrlLod2("0001"), "zip") +
                   " Uszkodzona paczka zostala usunieta z cache - sprobuj ponownie."},
      {"0002", "Budynki LOD2: Paczka modeli 3D nie zawiera czytelnych arkuszy. Uszkodzona paczka zostala usunieta z "
               "cache - sprobuj ponownie."},
  };
  for (const auto& c : cases) {
    const auto got = fetchBuildingsLod2(client, c.county, Bbox{0, 0, 1, 1});
    EXPECT_EQ(got.note, c.note);
    if (!c.county.empty()) {
      EXPECT_FALSE(fs::exists(cachePathFor(packageUrlLod2(c.county), "zip"))) << c.county;
    }
  }
}

}  // namespace
}  // namespace veldra
