#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>

#include "net/LocalServices.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;

TEST(LocalServices, RowsCommentsAndCellForms) {
  const LocalServiceFile f = parseLocalServices(
      "# offices added by hand\r\n"
      "\n"
      "gesut\t1816\t-\thttps://gesut.example.pl/wfs\r\n"
      "mpzp\t181607\thttp://plany.example.pl/wms?map=1\n"
      "  egib \t 0663 \t\thttps://egib.example.pl/wfs");
  EXPECT_TRUE(f.problems.empty()) << f.problems.front();
  ASSERT_EQ(f.rows.size(), 3u);
  auto row = [&](std::size_t i) { return std::tie(f.rows[i].kind, f.rows[i].key, f.rows[i].wms, f.rows[i].wfs); };
  EXPECT_EQ(row(0), std::make_tuple(ServiceKind::Gesut, "1816", "", "https://gesut.example.pl/wfs"));
  EXPECT_EQ(row(1), std::make_tuple(ServiceKind::Plans, "181607", "http://plany.example.pl/wms?map=1", ""));
  EXPECT_EQ(row(2), std::make_tuple(ServiceKind::Egib, "0663", "", "https://egib.example.pl/wfs"));
}

TEST(LocalServices, RefusedRowsAreNamedAndLeftOut) {
  const LocalServiceFile f = parseLocalServices(
      "gesut 1816 https://a.pl/wms\n"                       // blanks instead of tabs
      "kanal\t1816\thttps://a.pl/wms\n"                     // unknown directory
      "gesut\t181\thttps://a.pl/wms\n"                      // short county key
      "mpzp\t1816\thttps://a.pl/wms\n"                      // municipality key needs 6 digits
      "gesut\t18a6\thttps://a.pl/wms\n"
      "gesut\t1816\tftp://a.pl/wms\n"
      "gesut\t1816\thttps://a.pl/w ms\thttps://a.pl/wfs\n"   // blank inside the address
      "gesut\t1816\thttps://a.pl/\"x\n"
      "gesut\t1816\thttps://a.pl/\xc5\x82\n"
      "gesut\t1816\thttps://a.pl/wms\thttps://a.pl/wfs\textra\n"
      "bdot500\t0663\thttps://ok.pl/wms\n");
  ASSERT_EQ(f.problems.size(), 10u);
  for (std::size_t i = 0; i < f.problems.size(); ++i)   // each names its line
    EXPECT_EQ(f.problems[i].rfind("services.tsv, wiersz " + std::to_string(i + 1) + ":", 0), 0u) << f.problems[i];
  ASSERT_EQ(f.rows.size(), 1u);
  EXPECT_EQ(f.rows[0].kind, ServiceKind::Bdot500);
}

TEST(LocalServices, LocalRowReplacesTheCompiledOfficeAndOthersFallThrough) {
  const LocalServiceFile f = parseLocalServices(
      "gesut\t1816\t\thttps://first.pl/wfs\n"
      "gesut\t1816\t\thttps://second.pl/wfs\n"
      "mpzp\t181607\thttps://plany.pl/wms\n");
  // The compiled directory knows a GESUT WMS for 1816; the local row stands
  // for the office as a whole, so its empty WMS cell wins too. Later rows win.
  const ServiceAddresses g = findService(f, ServiceKind::Gesut, "1816051");
  EXPECT_EQ(g.wms, "");
  EXPECT_EQ(g.wfs, "https://second.pl/wfs");
  EXPECT_EQ(findService(f, ServiceKind::Plans, "1816071").wms, "https://plany.pl/wms");
  // Other directories and codes come from the compiled tables.
  EXPECT_EQ(findService(f, ServiceKind::Gesut, "1818").wms,
            findService(LocalServiceFile{}, ServiceKind::Gesut, "1818").wms);
  EXPECT_FALSE(findService(f, ServiceKind::Gesut, "1818").wms.empty());
  EXPECT_EQ(findService(f, ServiceKind::Bdot500, "1816").wms, "");
  EXPECT_EQ(findService(f, ServiceKind::Plans, "18160").wms, "");   // too short for a municipality
}

TEST(LocalServices, FileOfThisComputer) {
  testing::TempDir tmp;
  const fs::path home = tmp.path();
  testing::ScopedEnv config("XDG_CONFIG_HOME", home);

  // Reading the file itself is the black-box fetch tests'; here its absence and its size.
  LocalServiceFile absent = loadLocalServices();
  EXPECT_TRUE(absent.rows.empty());
  EXPECT_TRUE(absent.problems.empty());
  fs::create_directories(home / "VELDRA");
  {  // a file far beyond any directory is refused whole, unread
    std::ofstream big(home / "VELDRA" / "services.tsv", std::ios::binary);
    const std::string line = "gesut\t1816\t\thttps://gesut.pl/wfs\n";
    for (std::size_t n = 0; n < (2u << 20) / line.size(); ++n) big << line;
  }
  LocalServiceFile refused = loadLocalServices();
  EXPECT_TRUE(refused.rows.empty());
  ASSERT_EQ(refused.problems.size(), 1u);
  EXPECT_NE(refused.problems[0].find("pominiety"), std::string::npos);
}

}  // namespace
}  // namespace veldra
