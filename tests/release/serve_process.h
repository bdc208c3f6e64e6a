// A real `zelk-release serve` for tests: started as a child process on a free loopback port with
// its own data folder, the environment values it prints read back, stopped with a signal.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/temp_folder.h"

// Runs zelk-release with `arguments` and waits for it.
struct ToolResult {
  int exit_code = -1;
  std::string output;
};
ToolResult RunReleaseTool(const std::vector<std::string>& arguments);

class ServeProcess {
 public:
  // Starts serving `release_folder` with the data in `data_folder`, with `extra_arguments`, and
  // waits until it prints its environment values (a test failure and a stopped child when not).
  ServeProcess(const std::filesystem::path& release_folder, const std::filesystem::path& data_folder,
               const std::vector<std::string>& extra_arguments = {});
  // Stops it with SIGTERM if it still runs.
  ~ServeProcess();
  ServeProcess(const ServeProcess&) = delete;
  ServeProcess& operator=(const ServeProcess&) = delete;

  bool started() const { return !values_.empty(); }
  // CURL_CA_BUNDLE, ZELK_RELEASE_SERVER_URL, ZELK_ANALYTICS_PROXY_URL, ZELK_ANALYTICS_API_KEY as
  // printed.
  const std::map<std::string, std::string>& environment() const { return values_; }
  std::string base_url() const { return values_.at("ZELK_RELEASE_SERVER_URL"); }
  std::string ca_file() const { return values_.at("CURL_CA_BUNDLE"); }
  std::string api_key() const { return values_.at("ZELK_ANALYTICS_API_KEY"); }

  // Sends `signal` and waits; the wait status.
  int Stop(int signal);
  // Everything it printed so far.
  std::string Output() const;

 private:
  TempFolder scratch_;
  pid_t pid_ = -1;
  std::map<std::string, std::string> values_;
};
