// Waiting on a condition that a test can poll: a file that gains a line, a window that appears,
// a process that exits. Polls every `interval` until the condition holds or `timeout` passes.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

// True as soon as `condition` holds; false when it still does not after `timeout`.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30),
                      std::chrono::milliseconds interval = std::chrono::milliseconds(20)) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  for (;;) {
    if (condition()) return true;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(interval);
  }
}
