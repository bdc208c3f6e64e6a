#include "shell/options.h"

#include <string_view>

bool SilentMode = false;
bool SkipAutoProxy = false;

bool ParseCommandLine(const std::vector<std::string>& arguments, LaunchOptions& options) {
  if (arguments.empty()) return false;
  const struct {
    std::string_view text;
    bool LaunchOptions::*field;
  } kOptions[] = {
      {"-silent", &LaunchOptions::silent},       {"-skipautoproxy", &LaunchOptions::skip_auto_proxy},
      {"-uninstall", &LaunchOptions::uninstall}, {"-updated", &LaunchOptions::updated},
      {"-repair", &LaunchOptions::repair},
  };
  for (size_t i = 1; i < arguments.size(); ++i) {
    for (const auto& option : kOptions) {
      if (arguments[i] == option.text) options.*option.field = true;
    }
  }
  return true;
}
