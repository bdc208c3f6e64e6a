#include "platform/clock.h"

#include <chrono>

namespace {
// Taken during static initialisation, before main: as close to the process start as the
// program itself can see.
const auto process_start = std::chrono::steady_clock::now();
}  // namespace

int64_t ProcessClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                               process_start)
      .count();
}

int64_t WallClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}
