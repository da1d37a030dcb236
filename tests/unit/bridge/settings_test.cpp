#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include <nlohmann/json.hpp>

#include "bridge/Settings.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

struct SettingsFile : ::testing::Test {
  testing::TempDir tmp;
  fs::path dir = tmp.path();
  fs::path file = dir / "settings.json";
  void write(const std::string& text) { std::ofstream(file, std::ios::binary) << text; }
};

TEST_F(SettingsFile, MissingMalformedOrNonObjectFilesGiveDefaults) {
  for (const char* text : {"", "{", "[1,2]", "12", "{\"layers\": 5} // c"}) {
    write(text);
    Settings s = Settings::loadFrom(file);
    EXPECT_EQ(s.layerFor(DataType::Dzialki), "GIS_DZIALKI") << text;
    EXPECT_EQ(s.basemap, "osm");
    EXPECT_FALSE(s.hasZAnchor);
  }
  EXPECT_EQ(Settings::loadFrom(dir / "nope.json").layerFor(DataType::Dzialki), "GIS_DZIALKI");
}

TEST_F(SettingsFile, PartialFileKeepsOtherDefaultsAndIgnoresWrongKinds) {
  write(R"({"layers":{"dzialki":"MOJE","budynki":7,"inne":"X"},"basemap":3,"upgToken":"tok","zAnchor":"12"})");
  Settings s = Settings::loadFrom(file);
  EXPECT_EQ(s.layerFor(DataType::Dzialki), "MOJE");
  EXPECT_EQ(s.layerFor(DataType::Budynki), "GIS_BUDYNKI");
  EXPECT_EQ(s.basemap, "osm");
  EXPECT_EQ(s.upgToken, "tok");
  EXPECT_FALSE(s.hasZAnchor);
  // The foreign "inne" entry is dropped on the next save.
  ASSERT_EQ(s.saveTo(file), "");
  json j = json::parse(std::ifstream(file));
  EXPECT_FALSE(j["layers"].contains("inne"));
}

// A stored value read back is the save test's; zero is still an anchor.
TEST_F(SettingsFile, ZeroAnchorCountsAsSet) {
  write(R"({"zAnchor":0})");
  EXPECT_TRUE(Settings::loadFrom(file).hasZAnchor);
}

TEST_F(SettingsFile, SaveWritesSortedIndentedUtf8AndAnchorOnlyWhenSet) {
  Settings s;
  s.layers[DataType::Pog] = "Strefy \xC5\xBC\xC3\xB3\xC5\x82te";  // żółte
  ASSERT_EQ(s.saveTo(file), "");
  const std::string text = testing::readText(file);
  EXPECT_EQ(text.find("zAnchor"), std::string::npos);
  EXPECT_NE(text.find("\xC5\xBC\xC3\xB3\xC5\x82te"), std::string::npos);
  s.hasZAnchor = true;
  s.zAnchor = 101.5;
  ASSERT_EQ(s.saveTo(file), "");
  Settings back = Settings::loadFrom(file);
  EXPECT_TRUE(back.hasZAnchor);
  EXPECT_EQ(back.zAnchor, 101.5);
  EXPECT_EQ(back.layerFor(DataType::Pog), s.layers[DataType::Pog]);
}

// Temporaries left behind and a failed rename are the atomic writer's own tests.
TEST_F(SettingsFile, FailedSaveIsReportedAndReplacesNothing) {
  // A regular file where the folder should be: the write cannot even start.
  write(R"({"basemap":"orto"})");
  Settings s;
  EXPECT_NE(s.saveTo(file / "settings.json"), "");
  EXPECT_EQ(Settings::loadFrom(file).basemap, "orto");
}

}  // namespace
}  // namespace veldra
