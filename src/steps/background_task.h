// Polling the results of a step's background tasks from the frame loop.
#pragma once

#include <chrono>
#include <future>

// True when `result` holds a task whose answer can be taken without blocking.
template <typename T>
bool IsReady(const std::future<T>& result) {
  return result.valid() && result.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

// Blocks until a started task has finished; for the end of a run only, never inside a frame.
template <typename T>
void WaitUntilFinished(const std::future<T>& result) {
  if (result.valid()) result.wait();
}
