#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "net/NationalIndexes.h"
#include "net/WfsClient.h"
#include "unit/net/OgcTestSupport.h"

namespace veldra {
namespace {

using testing::collection;
using testing::ok;

std::string member(const std::string& godlo, const std::string& url, const std::string& extra = "") {
  return "<wfs:member><gugik:SkorowidzNMT2024 gml:id=\"x\">" + (godlo.empty() ? "" : "<gugik:godlo>" + godlo +
         "</gugik:godlo>") + extra + "<gugik:url_do_pobrania>" + url +
         "</gugik:url_do_pobrania></gugik:SkorowidzNMT2024></wfs:member>";
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
  EXPECT_EQ(std::tie(sheets[0].godlo, sheets[0].url), std::make_tuple("N-34-2", "https://dl/b.asc"));
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
  EXPECT_EQ(std::tie(two[0].godlo, two[0].url), std::make_tuple("", "https://dl/x.asc"));
  EXPECT_EQ(two[1].godlo, "N-2");

  // Without any wfs:member the search starts at the text start; entities stay as written.
  auto bare = scanSheetRecords("<gugik:godlo>A&amp;B</gugik:godlo><gugik:url_do_pobrania>https://a?x=1&amp;y=2"
                               "</gugik:url_do_pobrania>");
  ASSERT_EQ(bare.size(), 1u);
  EXPECT_EQ(std::tie(bare[0].godlo, bare[0].url), std::make_tuple("A&amp;B", "https://a?x=1&amp;y=2"));

  // Unterminated value, empty text, text without the tag.
  for (const char* none : {"<gugik:url_do_pobrania>https://never-closed", "", "<html>Service Unavailable</html>"})
    EXPECT_TRUE(scanSheetRecords(none).empty()) << none;
}

TEST(IndexScan, LidarDensityAndSystem) {
  auto tiles = scanLidarRecords(collection(
      member("L1", "https://dl/1.laz", "<gugik:char_przestrz>12.5 pkt/m2</gugik:char_przestrz>"
                                       "<gugik:uklad_xy>PL-2000:S7</gugik:uklad_xy>") +
      member("L2", "https://dl/2.laz", "<gugik:uklad_xy>PL-1992</gugik:uklad_xy>") +
      member("L3", "https://dl/3.laz", "<gugik:char_przestrz>brak</gugik:char_przestrz>") +
      member("L4", "ftp://dl/4.laz", "<gugik:char_przestrz>4</gugik:char_przestrz>")));
  // L2 states no density, L3 neither a readable density nor a system; L4 has no http address.
  const std::tuple<std::string, double, int> expected[] = {{"L1", 12.5, 2178}, {"L2", 0.0, 2180}, {"L3", 0.0, 0}};
  ASSERT_EQ(tiles.size(), std::size(expected));
  for (std::size_t i = 0; i < tiles.size(); ++i)
    EXPECT_EQ(std::tie(tiles[i].godlo, tiles[i].density, tiles[i].epsg), expected[i]);
}

TEST(IndexScan, RecordedLidarAnswer) {
  const std::string text = testing::readSample("skorowidze/lidar_evrf2007_2022_getfeature_wfs20.xml");
  if (text.empty()) GTEST_SKIP() << "recorded index answer missing under " << VELDRA_SHARED_DATA;
  // The closing url tag also matches the searched text; it must not add a record.
  auto tiles = scanLidarRecords(text);
  ASSERT_EQ(tiles.size(), 1u);
  EXPECT_EQ(std::tie(tiles[0].godlo, tiles[0].density, tiles[0].epsg), std::make_tuple("7.173.21.06.2", 15.0, 2178));
  EXPECT_EQ(tiles[0].url.rfind("https://opendata.geoportal.gov.pl/NumDaneWys/DanePomiaroweLAZ/", 0), 0u);
}

TEST(IndexScan, EpsgFromUkladXy) {
  EXPECT_EQ(epsgFromUkladXy("PL-1992 / PL-2000:S6"), 2180);
  for (const char* unknown : {"PL-2000:S9", "PL-2000:S", "PL-2000 Strefa 7", ""}) EXPECT_EQ(epsgFromUkladXy(unknown), 0);
}

}  // namespace
}  // namespace veldra
