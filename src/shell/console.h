// Outcome texts of unattended ("-silent") runs.
#pragma once

#include <string_view>

// Writes `text` to standard output as it is, without a line break, and flushes it at once.
void WriteOutcome(std::string_view text);
