// The five command-line flags of a run, and the two that act process-wide.
#pragma once

#include <string>
#include <vector>

struct LaunchOptions {
  bool silent = false;           // "-silent"
  bool skip_auto_proxy = false;  // "-skipautoproxy"
  bool uninstall = false;        // "-uninstall"
  bool updated = false;          // "-updated"
  bool repair = false;           // "-repair"
};

// Fills `options` from the process arguments, the launcher's own path first. Matches are exact
// and case-sensitive; anything else is ignored. False, with `options` untouched, when there is
// no argument list at all (not even the launcher's own path).
bool ParseCommandLine(const std::vector<std::string>& arguments, LaunchOptions& options);

// Written once by the entry right after parsing, before any step exists; only read afterwards,
// also from background tasks.
extern bool SilentMode;
extern bool SkipAutoProxy;
