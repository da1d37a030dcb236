#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/Bridge.h"
#include "bridge/ImportController.h"
#include "bridge/OriginHeight.h"
#include "bridge/PageChannel.h"
#include "geo/Projections.h"
#include "host/MemoryHost.h"
#include "platform/MainLoop.h"
#include "unit/TestSupport.h"

namespace veldra {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;

const json kWarsaw = json::array({21.00, 52.22, 21.01, 52.23});

struct ControllerFixture : ::testing::Test {
  MemoryHost host;
  std::unique_ptr<ImportController> ctl;
  Bridge bridge;
  std::vector<json> page;
  testing::TempDir tmp;
  fs::path home = tmp.path();
  testing::ScopedEnv config{"XDG_CONFIG_HOME", home}, diag{"VELDRA_DIAG_DIR", home};

  void SetUp() override {
    platform::MainLoop::instance().reset();
    ctl = std::make_unique<ImportController>(host, Settings{});
    ctl->registerHandlers(bridge);
    bridge.setSender([this](const std::string& t) { page.push_back(json::parse(t)); });
    ctl->page().attach(&bridge);
  }
  void TearDown() override {
    drain();
    ctl->page().detach();
    setOriginHeightLookup({});
  }
  void send(const json& m) { bridge.handleMessage(m.dump()); }
  static void drain() { testing::drainMainLoop(); }
  std::vector<std::string> types() const {
    std::vector<std::string> t;
    for (const auto& m : page) t.push_back(m["type"]);
    return t;
  }
};

TEST_F(ControllerFixture, FetchRunsOnAWorkerAndCompletesOnTheMainThread) {
  send({{"type", "fetch"}, {"bboxWgs84", kWarsaw}, {"layers", json::array()}});
  // Only the start progress so far; the worker's completion waits for the main loop.
  ASSERT_EQ(types(), std::vector<std::string>{"progress"});
  EXPECT_TRUE(ctl->fetching());
  drain();
  ASSERT_EQ(types(), (std::vector<std::string>{"progress", "fetchDone"}));
  EXPECT_EQ(page[0], (json{{"type", "progress"}, {"done", 0}, {"total", 1}, {"label", "Pobieranie warstw"}}));
  EXPECT_EQ(page[1], (json{{"type", "fetchDone"}, {"counts", json::object()}, {"warning", "Nic nie pobrano dla tego obszaru."}}));
  EXPECT_FALSE(ctl->fetching());
  EXPECT_FALSE(ctl->hasData());
}

// A new fetch also clears a cancel asked before it. (The answers to place and cancel without a
// fetch are the black-box bridge test's.)
TEST_F(ControllerFixture, SecondFetchAndPlaceAreRefusedWhileBusyButBboxIsCheckedFirst) {
  send({{"type", "cancel"}});
  ASSERT_TRUE(ctl->cancelRequested());
  page.clear();
  send({{"type", "fetch"}, {"bboxWgs84", kWarsaw}, {"layers", {"dzialki"}}});
  EXPECT_FALSE(ctl->cancelRequested());
  send({{"type", "fetch"}, {"bboxWgs84", kWarsaw}});
  send({{"type", "fetch"}, {"bboxWgs84", {1, 2, 3}}});
  EXPECT_EQ(page[1]["msg"], "Trwa pobieranie danych - sprobuj za chwile");
  EXPECT_EQ(page[2]["msg"], "Nieprawidlowy bbox");
  drain();
  EXPECT_EQ(types().back(), "fetchDone");
  EXPECT_EQ(ctl->lastLayers(), std::vector<std::string>{"dzialki"});
}

TEST_F(ControllerFixture, MalformedFetchMembersChangeNoState) {
  const int zoneBefore = ctl->epsg();
  // Members of the wrong kind are the black-box bridge test's. Numbers beyond an int are refused rather than converted (that conversion is undefined).
  for (const json& n : {json(1e300), json(-3e9), json(18446744073709551615ull)}) {
    send({{"type", "fetch"}, {"bboxWgs84", {14.0, 52.0, 14.1, 52.1}}, {"terrainStep", n}});
    EXPECT_EQ(page.back()["msg"], "Blad wewnetrzny: liczba poza zakresem") << n.dump();
  }
  EXPECT_EQ(ctl->epsg(), zoneBefore);
  EXPECT_FALSE(ctl->fetching());
}

TEST_F(ControllerFixture, ZoneComesFromTheFrameCentreUnlessTheProjectNamesOne) {
  // The cloud terrain step is read end to end by the black-box cloud surfaces test.
  send({{"type", "fetch"}, {"bboxWgs84", {16.4, 52.0, 16.6, 52.1}}, {"poziomiceWygladz", true}});
  EXPECT_EQ(ctl->epsg(), 2177);  // centre 16.5 belongs to the eastern zone
  EXPECT_TRUE(ctl->smoothContours());
  drain();
  const GeoLocation g{.surveyEasting = 8500000, .surveyNorthing = 5800000,
                      .crsName = "ETRF2000-PL / CS2000/24 (EPSG:2179)"};
  ASSERT_EQ(host.writeGeoLocation(g), kHostOk);
  send({{"type", "fetch"}, {"bboxWgs84", {16.4, 52.0, 16.6, 52.1}}});
  EXPECT_EQ(ctl->epsg(), 2179);
  drain();
}

// The project's layers and the mapping with its defaults are the black-box bridge tests'.
TEST_F(ControllerFixture, HostThatCannotListLayersGivesAnEmptyListNotAnError) {
  host.addRefusal({.operation = HostOperation::ListAttributes});
  send({{"type", "getLayers"}});
  ASSERT_EQ(page.back()["type"], "layerList");
  EXPECT_TRUE(page.back()["layers"].empty());
}

TEST_F(ControllerFixture, GetInitAnswersOnlyForAGeoreferencedProject) {
  send({{"type", "getInit"}});
  EXPECT_TRUE(page.empty());
  // Approximate georeference from the project location alone (a survey point: black-box test).
  ASSERT_EQ(host.writeGeoLocation({.longitude = 19.94, .latitude = 50.06}), kHostOk);
  send({{"type", "getInit"}});
  ASSERT_EQ(page.size(), 1u);
  EXPECT_NEAR(page.back()["lat"].get<double>(), 50.06, 1e-9);
  EXPECT_NEAR(page.back()["lon"].get<double>(), 19.94, 1e-9);
}

TEST_F(ControllerFixture, AnExceptionInThePipelineEndsInAnEmptyResultWithItsText) {
  ctl->setFetchFunction([](const FetchRequest&) -> FetchedData {
    throw std::runtime_error("zepsuty plik");
  });
  send({{"type", "fetch"}, {"bboxWgs84", kWarsaw}, {"layers", {"teren"}}});
  drain();
  ASSERT_EQ(types(), (std::vector<std::string>{"progress", "fetchDone"}));
  EXPECT_EQ(page[1], (json{{"type", "fetchDone"}, {"counts", json::object()}, {"warning", "Blad pobierania: zepsuty plik"}}));
  EXPECT_FALSE(ctl->fetching());
  EXPECT_FALSE(ctl->hasData());
  EXPECT_EQ(host.reportLines(), std::vector<std::string>{"VELDRA: Blad pobierania: zepsuty plik"});
  // A later fetch replaces the failed one and is not refused as busy.
  ctl->setFetchFunction([](const FetchRequest&) {
    FetchedData d;
    d.features.push_back(GisFeature{});
    d.warning = "uwaga";
    return d;
  });
  send({{"type", "fetch"}, {"bboxWgs84", kWarsaw}, {"layers", {"dzialki"}}});
  drain();
  EXPECT_TRUE(ctl->hasData());
  EXPECT_EQ(page.back()["counts"], (json{{"dzialki", 1}}));
  EXPECT_EQ(page.back()["warning"], "uwaga");
  EXPECT_TRUE(page.back().contains("geojson"));
}

// ---- the origin from the map and its height ----

// The reply comes at once; the height follows from the worker as an undoable step of its own, so
// an import placed while it was looked up stays undoable.
TEST_F(ControllerFixture, ReplyFirstThenTheHeightAsAnUndoableStepOfItsOwn) {
  double askedE = 0, askedN = 0;
  setOriginHeightLookup([&](double e, double n) -> std::optional<double> {
    askedE = e;
    askedN = n;
    return 112.75;
  });
  const json r = ctl->onSetOrigin(json{{"type", "setOrigin"}, {"lat", 52.2}, {"lon", 21.0}});
  ASSERT_EQ(r["type"], "originSet") << r.dump();
  EXPECT_EQ(r["epsg"], 2178);
  EXPECT_EQ(r["h"], 0.0);
  EXPECT_EQ(host.reportLines().size(), 1u);
  const std::size_t before = host.commandTitles().size();
  ASSERT_EQ(host.runUndoableCommand("Import GIS", [] { return kHostOk; }), kHostOk);
  drain();
  const auto [e92, n92] = wgs84ToPl1992(52.2, 21.0);
  EXPECT_NEAR(askedE, e92, 1e-3);   // the lookup gets the PL-1992 point
  EXPECT_NEAR(askedN, n92, 1e-3);
  EXPECT_EQ(host.geoLocation().surveyHeight, 112.75);
  EXPECT_EQ(host.geoLocation().altitude, 112.75);
  ASSERT_EQ(host.commandTitles().size(), before + 2) << "the height write ended the undo history";
  EXPECT_EQ(host.commandTitles()[before], "Import GIS");
  ASSERT_TRUE(host.undoLast());
  EXPECT_EQ(host.geoLocation().surveyHeight, 0.0);
  EXPECT_TRUE(host.undoLast());   // the import
}

TEST_F(ControllerFixture, FailedOrThrowingLookupLeavesHeightZero) {
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

// Two origins in a row: the first one's slow answer must not overwrite the second's height.
TEST_F(ControllerFixture, OnlyTheNewestOriginsHeightIsWritten) {
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

TEST_F(ControllerFixture, MissingOrNonNumericCoordinatesAndRefusedWrites) {
  const json want{{"type", "error"}, {"msg", "Brak wspolrzednych srodka mapy"}};
  for (const json& m : {json{{"lat", 52.2}}, json{{"lat", "52.2"}, {"lon", 21.0}}, json::array()})
    EXPECT_EQ(ctl->onSetOrigin(m), want) << m.dump();
  host.addRefusal({.operation = HostOperation::WriteGeoLocation});
  const json e = ctl->onSetOrigin(json{{"lat", 52.2}, {"lon", 21.0}});
  EXPECT_EQ(e["type"], "error");
  EXPECT_EQ(e["msg"].get<std::string>().rfind("Nie udalo sie zapisac georeferencji projektu (kod -2130000)", 0), 0u);
  EXPECT_TRUE(host.reportLines().empty());
}

}  // namespace
}  // namespace veldra
