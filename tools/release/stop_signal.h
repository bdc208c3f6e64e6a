// Ending `zelk-release serve` on SIGINT and SIGTERM: the signals are taken by a thread of their
// own instead of interrupting whatever thread they hit, so the server can finish the requests in
// progress before it exits.
#pragma once

#include <atomic>
#include <functional>
#include <thread>

// Blocks SIGINT and SIGTERM in the calling thread and every thread it starts afterwards, and
// ignores SIGPIPE (a client that goes away mid-answer must not end the server). Call it before
// any thread is started.
void BlockStopSignals();

class StopSignalWatch {
 public:
  // Calls `on_stop` once, on the watch's thread, when SIGINT or SIGTERM arrives.
  explicit StopSignalWatch(std::function<void()> on_stop);
  // Ends the watch (without calling on_stop when no signal came).
  ~StopSignalWatch();
  StopSignalWatch(const StopSignalWatch&) = delete;
  StopSignalWatch& operator=(const StopSignalWatch&) = delete;

  // The signal that arrived, or 0.
  int signal() const { return signal_.load(); }

 private:
  std::atomic<bool> done_{false};
  std::atomic<int> signal_{0};
  std::thread thread_;
};
