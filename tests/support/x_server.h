// A private X server for tests that run the real launcher: Xvfb (1024 x 768, 24 bits, no TCP) on a
// free display number with openbox managing it, so that Alt+F4 and close requests reach the
// launcher's window as they do on a desktop. Both programs are stopped by the destructor, and die
// with the test process if it is killed.
#pragma once

#include <sys/types.h>

#include <map>
#include <string>

#include "support/temp_folder.h"

class XServer {
 public:
  static constexpr int kWidth = 1024;
  static constexpr int kHeight = 768;

  // Starts both and waits until the window manager manages the screen; throws on failure.
  XServer();
  ~XServer();
  XServer(const XServer&) = delete;
  XServer& operator=(const XServer&) = delete;

  // The one server of this test process, started on first use (ctest runs each test case as a
  // process of its own, so test cases never share it).
  static XServer& Shared();

  // ":<number>"
  const std::string& display() const { return display_; }
  // {"DISPLAY", display()}, for the environment of a program that should use this server.
  std::map<std::string, std::string> Environment() const { return {{"DISPLAY", display_}}; }

 private:
  TempFolder window_manager_home_;  // openbox reads its defaults, not the user's settings
  std::string display_;
  int display_reservation_ = -1;  // flock held on the display number while the server runs
  pid_t xvfb_ = -1;
  pid_t window_manager_ = -1;
};
