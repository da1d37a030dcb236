#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "net/NationalIndexes.h"
#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

using testing::ok;

std::string member(const std::string& godlo, const std::string& url, const std::string& extra = "") {
  return "<wfs:member><gugik:SkorowidzNMT2024 gml:id=\"x\">" + (godlo.empty() ? "" : "<gugik:godlo>" + godlo +
         "</gugik:godlo>") + extra + "<gugik:url_do_pobrania>" + url +
         "</gugik:url_do_pobrania></gugik:SkorowidzNMT2024></wfs:member>";
}

std::string collection(const std::string& members) {
  return "<wfs:FeatureCollection xmlns:wfs=\"http://www.opengis.net/wfs/2.0\">" + members + "</wfs:FeatureCollection>";
}

struct IndexTest : testing::ScriptedNetTest {
  Bbox frame{500000, 400000, 500100, 400100};
  bool askedFor(std::size_t call, const std::string& type) const {
    return call < transport.urls.size() && transport.urls[call].find("gugik%3A" + type) != std::string::npos;
  }
};

// The default first year (the one after the current UTC year) and the lowest years of the NMT
// and NMPT indexes are held by the surface-model black-box test's count of index requests.
TEST_F(IndexTest, LidarYearsRunDownTo2018) {
  EXPECT_TRUE(queryLidarIndex(client, frame, 2020).empty());
  ASSERT_EQ(transport.urls.size(), 3u);
  EXPECT_TRUE(askedFor(0, "SkorowidzDanychPomiarowychLIDAR2020"));
}

TEST_F(IndexTest, NewestYearWithSheetsWinsAndOlderYearsAreNeverMixedIn) {
  transport.script = {
      {404, "", "", false},                                           // 2027
      ok(collection(member("N-34-1", "ftp://host/a.asc"))),           // 2026: no http address -> empty
      {500, "", "", false}, {500, "", "", false},                     // 2025 fails twice (one retry)
      ok(collection(member("N-34-2", "https://dl/b.asc") + member("N-34-3", "http://dl/c.asc"))),   // 2024
      ok(collection(member("OLD", "https://dl/old.asc"))),
  };
  auto sheets = queryNmtIndex(client, frame, 2027);
  ASSERT_EQ(sheets.size(), 2u);
  EXPECT_EQ(sheets[0].godlo, "N-34-2");
  EXPECT_EQ(sheets[0].url, "https://dl/b.asc");
  EXPECT_EQ(sheets[1].url, "http://dl/c.asc");
  EXPECT_EQ(transport.urls.size(), 5u);
  EXPECT_TRUE(askedFor(4, "SkorowidzNMT2024"));
}

// A failed year (no answer, server error) must reach the caller instead of
// passing for a year without sheets.
TEST_F(IndexTest, FailedYearsAreReportedWithTheYearUsed) {
  const TransportResponse down{0, "", "Brak polaczenia z host", false}, busy{503, "", "", false},
      unknown{400, "", "", false}, sheet = ok(collection(member("N-1", "https://dl/a.asc")));
  struct Case {
    std::deque<TransportResponse> answers;   // from 2027 down; a retry takes a second answer
    std::vector<int> failed;
    int year;
    std::string note;
  };
  const Case cases[] = {
      {{unknown, sheet}, {}, 2026, ""},
      {{unknown, down, down, sheet}, {2026}, 2025,
       "Skorowidz NMT: zapytanie o rok 2026 nie powiodlo sie - uzyto starszych danych (2025)."},
      {{down, down, busy, busy, unknown, sheet}, {2027, 2026}, 2024,
       "Skorowidz NMT: zapytania o lata 2027, 2026 nie powiodly sie - uzyto starszych danych (2024)."},
      {{busy, busy}, {2027}, 0, "Skorowidz NMT: zapytanie o rok 2027 nie powiodlo sie."},
  };
  for (const Case& c : cases) {
    transport.script = c.answers;
    const SheetSearch s = searchNmtIndex(client, frame, 2027);
    EXPECT_EQ(s.failedYears, c.failed) << c.note;
    EXPECT_EQ(s.year, c.year) << c.note;
    EXPECT_EQ(s.sheets.empty(), c.year == 0) << c.note;
    EXPECT_EQ(failedYearsNote("NMT", s), c.note);
  }
}

TEST(IndexScan, FieldsAreTrimmedTakenFromTheirOwnMemberAndCappedAtTwenty) {
  std::string members;
  for (int i = 0; i < 25; ++i) members += member("G" + std::to_string(i), "https://dl/" + std::to_string(i));
  auto sheets = scanSheetRecords(collection(members));
  ASSERT_EQ(sheets.size(), 20u);
  EXPECT_EQ(sheets[19].godlo, "G19");

  // Blanks around values go; a member without godlo does not borrow the next one's.
  auto two = scanSheetRecords(collection(member("", " \r\n\thttps://dl/x.asc \n") + member("N-2", "https://dl/y")));
  ASSERT_EQ(two.size(), 2u);
  EXPECT_EQ(two[0].url, "https://dl/x.asc");
  EXPECT_EQ(two[0].godlo, "");
  EXPECT_EQ(two[1].godlo, "N-2");

  // Without any wfs:member the search starts at the text start; entities stay as written.
  auto bare = scanSheetRecords("<gugik:godlo>A&amp;B</gugik:godlo><gugik:url_do_pobrania>https://a?x=1&amp;y=2"
                               "</gugik:url_do_pobrania>");
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(bare[0].godlo, "A&amp;B");
  EXPECT_EQ(bare[0].url, "https://a?x=1&amp;y=2");

  // Unterminated value, empty text, text without the tag.
  EXPECT_TRUE(scanSheetRecords("<gugik:url_do_pobrania>https://never-closed").empty());
  EXPECT_TRUE(scanSheetRecords("").empty());
  EXPECT_TRUE(scanSheetRecords("<html>Service Unavailable</html>").empty());
}

TEST(IndexScan, LidarDensityAndSystem) {
  auto tiles = scanLidarRecords(collection(
      member("L1", "https://dl/1.laz", "<gugik:char_przestrz>12.5 pkt/m2</gugik:char_przestrz>"
                                       "<gugik:uklad_xy>PL-2000:S7</gugik:uklad_xy>") +
      member("L2", "https://dl/2.laz", "<gugik:uklad_xy>PL-1992</gugik:uklad_xy>") +
      member("L3", "https://dl/3.laz", "<gugik:char_przestrz>brak</gugik:char_przestrz>") +
      member("L4", "ftp://dl/4.laz", "<gugik:char_przestrz>4</gugik:char_przestrz>")));
  ASSERT_EQ(tiles.size(), 3u);
  EXPECT_EQ(tiles[0].godlo, "L1");
  EXPECT_DOUBLE_EQ(tiles[0].density, 12.5);
  EXPECT_EQ(tiles[0].epsg, 2178);
  EXPECT_DOUBLE_EQ(tiles[1].density, 0.0);   // no char_przestrz
  EXPECT_EQ(tiles[1].epsg, 2180);
  EXPECT_DOUBLE_EQ(tiles[2].density, 0.0);   // not a number
  EXPECT_EQ(tiles[2].epsg, 0);
}

TEST(IndexScan, RecordedLidarAnswer) {
  const std::filesystem::path file =
      std::filesystem::path(VELDRA_SHARED_DATA) / "samples/skorowidze/lidar_evrf2007_2022_getfeature_wfs20.xml";
  if (!std::filesystem::exists(file)) GTEST_SKIP() << "recorded index answer missing: " << file;
  // The closing url tag also matches the searched text; it must not add a record.
  auto tiles = scanLidarRecords(testing::readText(file));
  ASSERT_EQ(tiles.size(), 1u);
  EXPECT_EQ(tiles[0].godlo, "7.173.21.06.2");
  EXPECT_EQ(tiles[0].url.rfind("https://opendata.geoportal.gov.pl/NumDaneWys/DanePomiaroweLAZ/", 0), 0u);
  EXPECT_DOUBLE_EQ(tiles[0].density, 15.0);
  EXPECT_EQ(tiles[0].epsg, 2178);
}

TEST(IndexScan, EpsgFromUkladXy) {
  EXPECT_EQ(epsgFromUkladXy("PL-1992 / PL-2000:S6"), 2180);
  for (const char* unknown : {"PL-2000:S9", "PL-2000:S", "PL-2000 Strefa 7", ""}) EXPECT_EQ(epsgFromUkladXy(unknown), 0);
}

}  // namespace
}  // namespace veldra
