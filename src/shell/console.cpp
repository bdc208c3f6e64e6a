#include "shell/console.h"

#include <cstdio>

void WriteOutcome(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}
