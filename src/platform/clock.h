// The two clocks of the launcher: a steady one for frame time steps, the wall clock for deadlines.
#pragma once

#include <cstdint>

// Milliseconds since the process started, on a steady clock.
int64_t ProcessClockMs();
// Milliseconds of the system's wall clock (it moves when the user sets the time).
int64_t WallClockMs();
