// Linux: /bin/sh runs a constant script; the folder reaches it as the positional argument $1, so
// no character of the path is ever read as shell syntax.
#include "platform/delayed_removal.h"

#include <string>

#include "platform/process.h"

namespace {
// rm -rf removes links inside the tree, never what they point to; "--" keeps a name that starts
// with "-" from being read as an option.
constexpr const char* kRemovalScript = "/bin/sleep \"$2\"; exec /bin/rm -rf -- \"$1\"";
}  // namespace

bool StartDelayedTreeRemoval(const std::filesystem::path& folder, unsigned delay_seconds) {
  // The working folder is the root, so that the waiting process does not hold the folder.
  return StartProcess("/bin/sh",
                      {"-c", kRemovalScript, "sh", folder.string(), std::to_string(delay_seconds)},
                      "/");
}
