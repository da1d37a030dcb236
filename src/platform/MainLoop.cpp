#include "platform/MainLoop.h"

#include <exception>
#include <iostream>
#include <utility>

namespace veldra::platform {

namespace {

// A task that throws must not take the main thread (and the process) down.
void runGuarded(MainLoop::Task& t) {
  try {
    t();
  } catch (const std::exception& e) {
    std::cerr << "veldra: main-thread task failed: " << e.what() << "\n";
  } catch (...) {
    std::cerr << "veldra: main-thread task failed\n";
  }
}

}  // namespace

MainLoop& MainLoop::instance() {
  static MainLoop loop;
  return loop;
}

// Every notify below happens under the lock: a worker thread that notified after unlocking
// could still be inside notify_all when the main thread, seeing the work done, returns and the
// process destroys the loop at exit.
void MainLoop::post(Task task) {
  std::lock_guard lock(mutex_);
  if (stopped_) return;
  queue_.push_back(std::move(task));
  cv_.notify_all();
}

void MainLoop::run(const std::function<bool()>& idle) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (stopped_) return;
    if (!queue_.empty()) {
      Task t = std::move(queue_.front());
      queue_.pop_front();
      lock.unlock();
      runGuarded(t);
      lock.lock();
      continue;
    }
    if (idle && work_ == 0) {
      lock.unlock();
      bool done = idle();
      lock.lock();
      if (done && queue_.empty() && work_ == 0) return;
    }
    // Sleep until a task arrives, the loop stops, or the work count changes
    // (an input reader that finishes posts a task, which wakes us too).
    const std::size_t seen = workGeneration_;
    cv_.wait(lock, [&] { return stopped_ || !queue_.empty() || workGeneration_ != seen; });
  }
}

std::size_t MainLoop::runPending() {
  std::size_t n = 0;
  for (;;) {
    Task t;
    {
      std::lock_guard lock(mutex_);
      if (queue_.empty()) return n;
      t = std::move(queue_.front());
      queue_.pop_front();
    }
    runGuarded(t);
    ++n;
  }
}

void MainLoop::stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  cv_.notify_all();
}

void MainLoop::reset() {
  std::lock_guard lock(mutex_);
  stopped_ = false;
  queue_.clear();
}

void MainLoop::beginWork() {
  std::lock_guard lock(mutex_);
  ++work_;
  ++workGeneration_;
}

void MainLoop::endWork() {
  std::lock_guard lock(mutex_);
  if (work_ > 0) --work_;
  ++workGeneration_;
  cv_.notify_all();
}

std::size_t MainLoop::outstandingWork() const {
  std::lock_guard lock(mutex_);
  return work_;
}

void runOnMainThread(MainLoop::Task task) { MainLoop::instance().post(std::move(task)); }

}  // namespace veldra::platform
