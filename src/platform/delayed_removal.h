// Removing a folder tree after the launcher has ended, so that the launcher's own executable and
// log file go with it.
#pragma once

#include <filesystem>

// Starts a detached process (its own session, no terminal, standard streams on /dev/null) that
// waits `delay_seconds` and then removes `folder` with everything in it, without following
// links. The launcher keeps no handle to it and never waits for it. True once the process runs;
// on failure errno holds the cause. Callers check that `folder` is theirs to remove.
bool StartDelayedTreeRemoval(const std::filesystem::path& folder, unsigned delay_seconds);
