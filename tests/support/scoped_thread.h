#pragma once
// Threads and clean-ups that end with their scope on every path, including
// the early return of a failed ASSERT: a test never leaves a joinable thread
// or a running capture behind.
#include <functional>
#include <thread>
#include <utility>

namespace pmrtest {

// Runs `fn` when the scope ends.
class OnExit {
 public:
  explicit OnExit(std::function<void()> fn) : fn_(std::move(fn)) {}
  ~OnExit() {
    if (fn_) fn_();
  }
  OnExit(const OnExit&) = delete;
  OnExit& operator=(const OnExit&) = delete;

 private:
  std::function<void()> fn_;
};

// A thread running `body`; the destructor calls `stop` (which must make the
// body return) and joins.
class ScopedThread {
 public:
  ScopedThread(std::function<void()> body, std::function<void()> stop)
      : stop_(std::move(stop)), thread_(std::move(body)) {}
  ~ScopedThread() {
    if (stop_) stop_();
    if (thread_.joinable()) thread_.join();
  }
  ScopedThread(const ScopedThread&) = delete;
  ScopedThread& operator=(const ScopedThread&) = delete;

 private:
  std::function<void()> stop_;
  std::thread thread_;
};

}  // namespace pmrtest
