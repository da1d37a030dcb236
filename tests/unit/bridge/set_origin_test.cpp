#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "bridge/ImportController.h"
#include "bridge/OriginHeight.h"
#include "geo/Projections.h"
#include "host/MemoryHost.h"
#include "platform/MainLoop.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

struct SetOriginTest : ::testing::Test {
  MemoryHost host;
  std::unique_ptr<ImportController> ctl;
  testing::TempDir tmp;
  fs::path home = tmp.path();
  testing::ScopedEnv config{"XDG_CONFIG_HOME", home}, diag{"VELDRA_DIAG_DIR", home};

  void SetUp() override {
    platform::MainLoop::instance().reset();
    ctl = std::make_unique<ImportController>(host, Settings{});
  }
  void TearDown() override {
    drain();
    setOriginHeightLookup({});
  }
  static void drain() { testing::drainMainLoop(); }
};

TEST_F(SetOriginTest, ReplyThenTheWorkersHeightOnTheMainThread) {
  double askedE = 0, askedN = 0;
  setOriginHeightLookup([&](double e, double n) -> std::optional<double> {
    askedE = e;
    askedN = n;
    return 112.75;
  });
  const json r = ctl->onSetOrigin(json{{"type", "setOrigin"}, {"lat", 52.2}, {"lon", 21.0}});
  ASSERT_EQ(r["type"], "originSet") << r.dump();
  EXPECT_EQ(r["epsg"], 2178);
  EXPECT_EQ(r["h"], 0.0);   // the height comes later
  EXPECT_EQ(host.reportLines().size(), 1u);
  const auto [e92, n92] = wgs84ToPl1992(52.2, 21.0);
  drain();
  EXPECT_NEAR(askedE, e92, 1e-3);   // the lookup gets the PL-1992 point
  EXPECT_NEAR(askedN, n92, 1e-3);
  EXPECT_EQ(host.geoLocation().surveyHeight, 112.75);
  EXPECT_EQ(host.geoLocation().altitude, 112.75);
}

TEST_F(SetOriginTest, FailedOrThrowingLookupLeavesHeightZero) {
  using Lookup = std::function<std::optional<double>(double, double)>;
  for (const Lookup& lookup : {Lookup([](double, double) { return std::optional<double>(); }),
                               Lookup([](double, double) -> std::optional<double> { throw std::runtime_error("siec"); }),
                               Lookup([](double, double) { return std::optional<double>(std::nan("")); })}) {
    setOriginHeightLookup(lookup);
    ASSERT_EQ(ctl->onSetOrigin(json{{"lat", 52.2}, {"lon", 21.0}})["type"], "originSet");
    drain();
    EXPECT_EQ(host.geoLocation().surveyHeight, 0.0);
  }
}

// The height must not end the undo history: an import placed while it was looked up stays undoable.
TEST_F(SetOriginTest, HeightIsAnUndoableStepOfItsOwn) {
  setOriginHeightLookup([](double, double) { return std::optional<double>(112.75); });
  ASSERT_EQ(ctl->onSetOrigin(json{{"lat", 52.2}, {"lon", 21.0}})["type"], "originSet");
  const std::size_t before = host.commandTitles().size();
  ASSERT_EQ(host.runUndoableCommand("Import GIS", [] { return kHostOk; }), kHostOk);
  drain();
  EXPECT_EQ(host.geoLocation().surveyHeight, 112.75);
  ASSERT_EQ(host.commandTitles().size(), before + 2) << "the height write ended the undo history";
  EXPECT_EQ(host.commandTitles()[before], "Import GIS");
  ASSERT_TRUE(host.undoLast());
  EXPECT_EQ(host.geoLocation().surveyHeight, 0.0);
  EXPECT_TRUE(host.undoLast());   // the import
}

// Two origins in a row: the first one's slow answer must not overwrite the second's height.
TEST_F(SetOriginTest, OnlyTheNewestOriginsHeightIsWritten) {
  const double first = wgs84ToPl1992(52.2, 21.0).first;
  setOriginHeightLookup([e = first](double e1992, double) -> std::optional<double> {
    if (std::fabs(e1992 - e) > 1.0) return 200.0;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    return 100.0;
  });
  ASSERT_EQ(ctl->onSetOrigin(json{{"lat", 52.2}, {"lon", 21.0}})["type"], "originSet");
  ASSERT_EQ(ctl->onSetOrigin(json{{"lat", 52.3}, {"lon", 21.1}})["type"], "originSet");
  drain();
  EXPECT_EQ(host.geoLocation().surveyHeight, 200.0);
}

TEST_F(SetOriginTest, MissingOrNonNumericCoordinatesAndRefusedWrites) {
  const json want{{"type", "error"}, {"msg", "Brak wspolrzednych srodka mapy"}};
  EXPECT_EQ(ctl->onSetOrigin(json{{"lat", 52.2}}), want);
  EXPECT_EQ(ctl->onSetOrigin(json{{"lat", "52.2"}, {"lon", 21.0}}), want);
  EXPECT_EQ(ctl->onSetOrigin(json::array()), want);
  host.addRefusal({.operation = HostOperation::WriteGeoLocation});
  const json e = ctl->onSetOrigin(json{{"lat", 52.2}, {"lon", 21.0}});
  EXPECT_EQ(e["type"], "error");
  EXPECT_EQ(e["msg"].get<std::string>().rfind("Nie udalo sie zapisac georeferencji projektu (kod -2130000)", 0), 0u);
  EXPECT_TRUE(host.reportLines().empty());
}

}  // namespace
}  // namespace veldra
