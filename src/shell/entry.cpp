// Process entry of ZelkLauncher.exe.
#include "shell/launcher.h"

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv, argv + argc);
  const auto host = CreateWindowHost();
  const EmbeddedResources resources;
  return RunLauncher(arguments, *host, resources);
}
