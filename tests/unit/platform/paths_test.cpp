#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "unit/TestSupport.h"

namespace veldra::platform {
namespace {

namespace fs = std::filesystem;

using testing::readText;
using testing::ScopedEnv;
using testing::TempDir;

// Each test gets a fresh folder of its own.
class Paths : public ::testing::Test {
 protected:
  TempDir tmp;
  const fs::path dir = tmp.path();
};

TEST_F(Paths, FoldersFollowXdgVariablesThenHome) {
  ScopedEnv c("XDG_CONFIG_HOME", "/x/config");
  ScopedEnv l("XDG_CACHE_HOME", "");
  ScopedEnv h("HOME", "/home/ola");
  EXPECT_EQ(roamingDataDir(), fs::path("/x/config"));
  EXPECT_EQ(localDataDir(), fs::path("/home/ola/.cache"));   // empty variable counts as unset
  ScopedEnv noHome("HOME", nullptr);
  EXPECT_EQ(localDataDir(), fs::path("."));
}

TEST_F(Paths, DiagnosticsGoToTheConfiguredFolderAndFailSilently) {
  {
    ScopedEnv d("VELDRA_DIAG_DIR", dir.c_str());
    appendDiagLine("orvane_test.txt", "a=1");
    appendDiagLine("orvane_test.txt", "b=2");
    rewriteDiagFile("orvane_geo.txt", "x\n");
    rewriteDiagFile("orvane_geo.txt", "y\n");
    EXPECT_EQ(readText(dir / "orvane_test.txt"), "a=1\nb=2\n");
    EXPECT_EQ(readText(dir / "orvane_geo.txt"), "y\n");
  }
  {
    // A folder that cannot exist: a regular file in its way.
    ScopedEnv d("VELDRA_DIAG_DIR", (dir / "orvane_test.txt" / "sub").c_str());
    EXPECT_NO_THROW(appendDiagLine("f.txt", "x"));
  }
}

// Working folders under the shared temporary folder can be made first by another local user,
// who could then read or replace what we write there. The work folder of the server is refused
// when open to others, someone else's or a link in the black-box test; here the diagnostics.
TEST_F(Paths, DiagnosticsFolderIsPrivateAndASpoiltOneGetsNothing) {
  ScopedEnv none("VELDRA_DIAG_DIR", nullptr);
  ScopedEnv run("XDG_RUNTIME_DIR", dir.c_str());
  EXPECT_EQ(diagDir(), dir / "veldra");
  appendDiagLine("orvane_test.txt", "a=1");
  EXPECT_EQ(fs::status(dir / "veldra").permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(fs::exists(dir / "veldra" / "orvane_test.txt"));
  fs::permissions(dir / "veldra", fs::perms::all);
  rewriteDiagFile("orvane_geo.txt", "x");
  EXPECT_FALSE(fs::exists(dir / "veldra" / "orvane_geo.txt"));
}

TEST_F(Paths, DiagnosticsNeverWriteThroughALink) {
  ScopedEnv d("VELDRA_DIAG_DIR", dir.c_str());
  { std::ofstream(dir / "victim") << "kept"; }
  fs::create_symlink(dir / "victim", dir / "orvane_a.txt");
  fs::create_symlink(dir / "victim", dir / "orvane_b.txt");
  appendDiagLine("orvane_a.txt", "line");
  rewriteDiagFile("orvane_b.txt", "text");
  EXPECT_EQ(readText(dir / "victim"), "kept");
}

TEST_F(Paths, AtomicWriteReplacesWholeFilesAndLeavesNoTemporaries) {
  fs::path f = dir / "deep" / "file.json";
  ASSERT_EQ(writeFileAtomically(f, "first"), "");
  ASSERT_EQ(writeFileAtomically(f, std::string(100000, 'x')), "");
  ASSERT_EQ(writeFileAtomically(f, ""), "");
  std::string text = "junk";
  ASSERT_TRUE(readWholeFile(f, text));
  EXPECT_EQ(text, "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir / "deep"), fs::directory_iterator()), 1);
}

TEST_F(Paths, ConcurrentWritersNeverTearTheFile) {
  fs::path f = dir / "s.json";
  ASSERT_EQ(writeFileAtomically(dir / "s.json.tmp", "mine"), "");   // the user's file, named like a temporary
  std::vector<std::thread> ts;
  for (int t = 0; t < 4; ++t)
    ts.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) ASSERT_EQ(writeFileAtomically(f, std::string(4096, char('a' + t))), "");
    });
  for (auto& t : ts) t.join();
  const std::string text = readText(f);
  ASSERT_EQ(text.size(), 4096u);
  EXPECT_EQ(text.find_first_not_of(text[0]), std::string::npos);
  EXPECT_EQ(readText(dir / "s.json.tmp"), "mine");
}

TEST_F(Paths, FileWrittenInPiecesAppearsOnlyWhenComplete) {
  fs::path f = dir / "out.txt";
  ASSERT_EQ(writeFileAtomically(f, "old"), "");
  {
    AtomicFile file(f);
    ASSERT_TRUE(file.append("head-0000-"));
    ASSERT_TRUE(file.append(std::string(3 << 20, 'b')));
    ASSERT_TRUE(file.overwrite(5, "1234"));   // patched after the start was written out
    EXPECT_EQ(readText(f), "old");
    ASSERT_EQ(file.commit(), "");
  }
  std::string text;
  ASSERT_TRUE(readWholeFile(f, text));
  EXPECT_EQ(text.substr(0, 10), "head-1234-");
  EXPECT_EQ(text.size(), 10u + (3u << 20));

  // A failed piece or an abandoned file keeps the old content and leaves no temporary.
  {
    AtomicFile file(f);
    file.append("new");
    EXPECT_FALSE(file.overwrite(2, "xy"));
    EXPECT_FALSE(file.append("more"));
    EXPECT_NE(file.commit(), "");
  }
  { AtomicFile file(f); file.append("abandoned"); }
  ASSERT_TRUE(readWholeFile(f, text));
  EXPECT_EQ(text.substr(0, 10), "head-1234-");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
  EXPECT_NE(AtomicFile(dir / "out.txt" / "x").commit(), "");
  // The target is a folder: the rename fails and the temporary goes.
  fs::create_directories(dir / "taken" / "x");
  EXPECT_NE(writeFileAtomically(dir / "taken", "data"), "");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 2);
}

}  // namespace
}  // namespace veldra::platform
