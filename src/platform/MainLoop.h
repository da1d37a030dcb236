// The host's main thread: one FIFO of tasks run one at a time, in order.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>

namespace veldra::platform {

class MainLoop {
 public:
  using Task = std::function<void()>;

  // The process-wide loop that runOnMainThread posts to.
  static MainLoop& instance();

  // Thread-safe. Tasks posted after stop() are dropped.
  void post(Task task);

  // Runs tasks on the calling thread until stop(), or until `idle` returns
  // true while the queue is empty and no work is outstanding.
  void run(const std::function<bool()>& idle = {});
  // Runs every task queued now or queued by those tasks; returns how many ran.
  std::size_t runPending();
  void stop();
  // Allows run() again after stop() (tests).
  void reset();

  // Outstanding background work: a worker holds a WorkToken until its last task
  // is posted, so a loop that exits when idle does not leave before it.
  void beginWork();
  void endWork();
  std::size_t outstandingWork() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<Task> queue_;
  std::size_t work_ = 0;
  std::size_t workGeneration_ = 0;
  bool stopped_ = false;
};

// Moves a worker's result onto the main thread.
void runOnMainThread(MainLoop::Task task);

// RAII hold on the main loop's outstanding-work count; movable.
class WorkToken {
 public:
  WorkToken() : loop_(&MainLoop::instance()) { loop_->beginWork(); }
  WorkToken(WorkToken&& o) noexcept : loop_(o.loop_) { o.loop_ = nullptr; }
  WorkToken(const WorkToken&) = delete;
  WorkToken& operator=(const WorkToken&) = delete;
  WorkToken& operator=(WorkToken&&) = delete;
  ~WorkToken() {
    if (loop_) loop_->endWork();
  }

 private:
  MainLoop* loop_;
};

}  // namespace veldra::platform
