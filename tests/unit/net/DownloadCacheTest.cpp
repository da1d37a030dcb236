#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "net/WfsClient.h"
#include "unit/net/NetTestSupport.h"

namespace veldra {
namespace {

namespace fs = std::filesystem;
using veldra::testing::startServer;
using veldra::testing::stats;
using Clock = std::chrono::steady_clock;

struct Report {
  std::int64_t done, total;
  Clock::time_point at;
};

class Cache : public veldra::testing::NetTest {
 protected:
  veldra::testing::CacheFolder cacheFolder;
  veldra::testing::ScopedEnv noSpacing{"VELDRA_HOST_SPACING_MS", "0"};   // for every client made meanwhile
  fs::path dir() const { return cacheFolder.dir(); }
  ProgressFn recorder(std::vector<Report>& out, bool answer = true) {
    return [&out, answer](std::int64_t d, std::int64_t t) {
      out.push_back({d, t, Clock::now()});
      return answer;
    };
  }
  WfsClient client;
};

// The folder itself is the black-box cached-download test's.
TEST_F(Cache, KeysAreTheExactUrl) {
  EXPECT_NE(cachePathFor("https://h/x?a=1&b=2", "gml"), cachePathFor("https://h/x?b=2&a=1", "gml"));
}

// Cancelling at the first report or throwing from it: no partial file either way.
TEST_F(Cache, ProgressThatCancelsOrThrowsLeavesNothing) {
  auto s = startServer(R"({"routes":[{"path":"/big","body_size":4194304}]})");
  std::vector<Report> reports;
  std::string error;
  EXPECT_EQ(client.getCachedFile(s->baseUrl() + "/big", recorder(reports, false), 3000, error), "");
  EXPECT_EQ(error, "Pobieranie anulowane.");
  EXPECT_EQ(reports.size(), 1u);
  EXPECT_TRUE(cacheFolder.files().empty());
  auto thrower = [](std::int64_t, std::int64_t) -> bool { throw std::runtime_error("stop"); };
  EXPECT_THROW(client.getCachedFile(s->baseUrl() + "/big", thrower, 3000, error), std::runtime_error);
  EXPECT_TRUE(cacheFolder.files().empty());
}

struct FailureCase {
  const char* manifest;
  const char* error;
};

class CacheFailure : public Cache, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(CacheFailure, LeavesNoFileBehind) {
  auto s = startServer(GetParam().manifest);
  std::string error;
  auto path = client.getCachedFile(s->baseUrl() + "/f", [](std::int64_t, std::int64_t) { return true; }, 300, error);
  EXPECT_EQ(path, "");
  EXPECT_EQ(error, GetParam().error);
  EXPECT_TRUE(cacheFolder.files().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faults, CacheFailure,
    ::testing::Values(
        FailureCase{R"({"routes":[{"path":"/f","status":404,"body":"Not found"}]})", "Serwer zwrocil status 404"},
        FailureCase{R"({"routes":[{"path":"/f","status":503}]})", "Serwer zwrocil status 503"},
        FailureCase{R"({"routes":[{"path":"/f","body_size":2097152,"close_after":1048576}]})",
                    "Pobieranie przerwane (1,0 MB z 2,0 MB)."},
        FailureCase{R"({"routes":[{"path":"/f","delay_ms":4000}]})", "Brak odpowiedzi serwera"},
        FailureCase{R"({"routes":[{"path":"/f","body_size":5000,"content_length":false,
                                   "stall_after":100,"stall_ms":4000}]})",
                    "Brak odpowiedzi serwera"}));

TEST_F(Cache, ReportsWithLengthComeEveryPercent) {
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":1000000,"chunk_size":1000}]})");
  std::vector<Report> reports;
  std::string error;
  ASSERT_NE(client.getCachedFile(s->baseUrl() + "/f", recorder(reports), 3000, error), "") << error;
  ASSERT_GE(reports.size(), 2u);
  EXPECT_LE(reports.size(), 102u);
  for (std::size_t i = 1; i + 1 < reports.size(); ++i) {  // the last may be the closing report
    bool percent = reports[i].done - reports[i - 1].done >= 10000;
    bool interval = reports[i].at - reports[i - 1].at >= std::chrono::milliseconds(200);
    EXPECT_TRUE(percent || interval) << i;
    EXPECT_EQ(reports[i].total, 1000000);
  }
  EXPECT_EQ(reports.back().done, 1000000);
}

TEST_F(Cache, FolderRefusingWritesIsReported) {
  fs::create_directories(dir().parent_path());
  std::ofstream(dir()).put('x');  // a file where the folder should be
  auto s = startServer(R"({"routes":[{"path":"/f","body":"x"}]})");
  std::string error;
  EXPECT_EQ(client.getCachedFile(s->baseUrl() + "/f", {}, 3000, error), "");
  EXPECT_EQ(error.rfind("Nie mozna zapisac do pamieci podrecznej: " + dir().string() + "/", 0), 0u) << error;
  EXPECT_EQ(stats(*s)["total"], 0);
  EXPECT_EQ(client.getTextCached(s->baseUrl() + "/f", 3000), "x");  // served, just not kept
}

TEST_F(Cache, DiskFullMidwayLeavesNoPartialFile) {
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":1048576}]})");
  std::string error, path;
  {
    testing::FileSizeLimit cap(64 * 1024);
    ASSERT_TRUE(cap.ok());
    path = client.getCachedFile(s->baseUrl() + "/f", {}, 3000, error);
  }
  EXPECT_EQ(path, "");
  EXPECT_EQ(error, "Blad zapisu na dysk - sprawdz wolne miejsce.");
  EXPECT_TRUE(cacheFolder.files().empty());
}

TEST_F(Cache, TwoThreadsDownloadingOneUrlBothGetTheWholeFile) {
  auto s = startServer(R"({"routes":[{"path":"/f","body_size":200000,"body_fill":"abcdefg",
                                      "chunk_size":20000,"chunk_delay_ms":20}]})");
  std::string url = s->baseUrl() + "/f";
  std::string paths[2], errors[2];
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) {
    threads.emplace_back([&, i] { paths[i] = WfsClient().getCachedFile(url, {}, 3000, errors[i]); });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(errors[0], "");
  EXPECT_EQ(errors[1], "");
  EXPECT_EQ(paths[0], paths[1]);
  std::string data = testing::readText(paths[0]);
  ASSERT_EQ(data.size(), 200000u);
  for (std::size_t i = 0; i < data.size(); i += 9973) ASSERT_EQ(data[i], "abcdefg"[i % 7]) << i;
  EXPECT_EQ(cacheFolder.files().size(), 1u);
  EXPECT_EQ(stats(*s)["total"], 2);  // both were in flight before either finished
}

TEST_F(Cache, TextIsCachedOnlyWhenGood) {
  auto s = startServer(R"({"routes":[{"path":"/ok","body":"<gml/>"},
                                     {"path":"/busy","status":503,"body":"later"},
                                     {"path":"/empty","body":""}]})");
  EXPECT_EQ(client.getTextCached(s->baseUrl() + "/ok", 3000), "<gml/>");
  EXPECT_EQ(client.getTextCached(s->baseUrl() + "/ok", 3000), "<gml/>");
  EXPECT_EQ(client.getTextCached(s->baseUrl() + "/busy", 3000), "");
  EXPECT_EQ(client.getTextCached(s->baseUrl() + "/empty", 3000), "");
  EXPECT_EQ(stats(*s)["total"], 3);  // the second /ok came from disk, /busy was not retried
  EXPECT_EQ(cacheFolder.files(),
            std::vector<std::string>{fs::path(cachePathFor(s->baseUrl() + "/ok", "gml")).filename().string()});
}

TEST_F(Cache, SweepRemovesLeftoverPartialsAndOldFiles) {
  fs::create_directories(dir());
  auto make = [&](const std::string& name, std::chrono::hours age) {
    std::ofstream(dir() / name) << "data";
    fs::last_write_time(dir() / name, fs::file_time_type::clock::now() - age);
  };
  make("abc.part.1.2", std::chrono::hours(2));
  make("x.zip.part.99.0", std::chrono::hours(3));
  make("busy.zip.part.7.1", std::chrono::hours(0));   // another process may be writing it
  make("fresh.zip", std::chrono::hours(1));
  make("d29.gml", std::chrono::hours(29 * 24));
  make("d31.zip", std::chrono::hours(31 * 24));
  make(".pa", std::chrono::hours(0));  // too short to be tested
  fs::create_directories(dir() / "sub.part");
  sweepCache(dir().string());
  auto files = cacheFolder.files();
  std::sort(files.begin(), files.end());
  EXPECT_EQ(files, (std::vector<std::string>{".pa", "busy.zip.part.7.1", "d29.gml", "fresh.zip", "sub.part"}));
  sweepCache((dir() / "missing").string());  // no folder: nothing happens
}

}  // namespace
}  // namespace veldra
