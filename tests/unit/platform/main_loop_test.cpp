#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

#include "platform/MainLoop.h"

namespace veldra::platform {
namespace {

TEST(MainLoop, TasksFromManyThreadsRunOneAtATimeInPostingOrderPerThread) {
  MainLoop loop;
  std::vector<std::pair<int, int>> seen;   // touched only by the loop's thread
  std::vector<std::thread> posters;
  for (int t = 0; t < 4; ++t)
    posters.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) loop.post([&seen, t, i] { seen.emplace_back(t, i); });
    });
  for (auto& p : posters) p.join();
  EXPECT_EQ(loop.runPending(), 800u);
  std::vector<int> next(4, 0);
  for (auto [t, i] : seen) EXPECT_EQ(i, next[t]++) << "thread " << t;
}

TEST(MainLoop, RunWaitsForOutstandingWorkBeforeLeavingWhenIdle) {
  MainLoop loop;
  std::atomic<bool> ran{false};
  loop.beginWork();
  std::thread worker([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    loop.post([&] { ran = true; });
    loop.endWork();
  });
  loop.run([] { return true; });   // idle at once, but a worker is still out
  worker.join();
  EXPECT_TRUE(ran);
}

TEST(MainLoop, IdlePredicateTurningTrueLaterEndsTheLoop) {
  MainLoop loop;
  std::atomic<bool> inputDone{false};
  int handled = 0;
  std::thread reader([&] {
    for (int i = 0; i < 3; ++i) loop.post([&] { ++handled; });
    loop.post([&] { inputDone = true; });
  });
  loop.run([&] { return inputDone.load(); });
  reader.join();
  EXPECT_EQ(handled, 3);
}

TEST(MainLoop, ThrowingTaskDoesNotStopTheLoop) {
  MainLoop loop;
  int after = 0;
  loop.post([] { throw std::runtime_error("task failed"); });
  loop.post([&] { ++after; });
  EXPECT_EQ(loop.runPending(), 2u);
  EXPECT_EQ(after, 1);
}

TEST(MainLoop, StopDropsLaterPostsAndResetReopens) {
  MainLoop loop;
  loop.stop();
  loop.post([] { FAIL() << "posted after stop"; });
  loop.run();   // returns at once
  EXPECT_EQ(loop.runPending(), 0u);
  loop.reset();
  int n = 0;
  loop.post([&] { ++n; });
  EXPECT_EQ(loop.runPending(), 1u);
}

TEST(MainLoop, WorkTokenCountsUntilDestroyedAndMoves) {
  MainLoop& loop = MainLoop::instance();
  const auto before = loop.outstandingWork();
  {
    WorkToken a;
    EXPECT_EQ(loop.outstandingWork(), before + 1);
    WorkToken b(std::move(a));
    EXPECT_EQ(loop.outstandingWork(), before + 1);
  }
  EXPECT_EQ(loop.outstandingWork(), before);
}

}  // namespace
}  // namespace veldra::platform
