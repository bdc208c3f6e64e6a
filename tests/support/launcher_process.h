// One run of the real ZelkLauncher.exe, driven as a user drives it: its window found on the test's
// X server, clicked at window coordinates with xdotool, closed with Alt+F4 or the window
// manager's close, photographed with ImageMagick's import. Standard output and error are captured
// (silent runs print their outcome texts there, without a line break).
//
// Every wait polls its condition and ends with a clear test failure after its timeout; nothing
// waits a fixed time, but for the pause between moving the pointer and clicking.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_folder.h"

struct WindowGeometry {
  int x = 0;  // of the client area, in screen coordinates
  int y = 0;
  int width = 0;
  int height = 0;
};

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& colour);

struct Screenshot {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;  // rows top to bottom, 3 bytes a pixel
  Rgb At(int x, int y) const;
  // How many pixels of the rectangle [x0, x1) x [y0, y1) differ from `colour`.
  int CountOtherThan(Rgb colour, int x0, int y0, int x1, int y1) const;
};

// One start of the stand-in application, as it wrote it down (ZELK_FIXTURE_RECORD).
struct FixtureStart {
  std::string exe;
  std::string cwd;
  std::vector<std::string> args;
};
// Every start written to `record` so far, in order; empty when the file does not exist.
std::vector<FixtureStart> ReadFixtureRecord(const std::filesystem::path& record);

class LauncherProcess {
 public:
  using Seconds = std::chrono::seconds;

  // Starts `launcher` with `arguments` (after argv[0], which is the launcher's path) in
  // `working_folder`, with exactly `environment` plus a plain PATH. Throws when it cannot start.
  LauncherProcess(const std::filesystem::path& launcher, const std::vector<std::string>& arguments,
                  const std::filesystem::path& working_folder,
                  const std::map<std::string, std::string>& environment);
  // Kills the launcher if it still runs.
  ~LauncherProcess();
  LauncherProcess(const LauncherProcess&) = delete;
  LauncherProcess& operator=(const LauncherProcess&) = delete;

  pid_t pid() const { return pid_; }
  bool Running();
  // The exit code; -1 with a test failure when the launcher did not end in time (it is then
  // killed) or ended by a signal.
  int WaitForExit(Seconds timeout = Seconds(60));
  // Seconds from the start to the exit seen by WaitForExit.
  double RunSeconds() const { return run_seconds_; }
  // The launcher's peak resident memory over the whole run, in KiB; 0 before it has exited.
  long PeakResidentKib() const { return peak_resident_kib_; }
  std::string StandardOutput() const;
  std::string StandardError() const;

  // zelk_launcher.txt beside the launcher, and its text so far.
  std::filesystem::path log_file() const { return log_file_; }
  std::string Log() const;
  // Waits until the log holds `text`; false with a test failure after the timeout.
  bool WaitForLog(const std::string& text, Seconds timeout = Seconds(30));

  // Waits until the launcher's window "Zelk" is mapped; false with a test failure after the
  // timeout. The other window operations wait for it themselves.
  bool WaitForWindow(Seconds timeout = Seconds(30));
  // Waits until a frame has been drawn: the window's bottom right corner shows the window
  // background (a window that has not presented yet is black).
  bool WaitForFirstFrame(Seconds timeout = Seconds(30));
  unsigned long window() const { return window_; }
  WindowGeometry Geometry();
  // Moves the pointer to (x, y) of the window, lets a frame see the hover, and clicks the left
  // button (Dear ImGui takes the click on the release over the button).
  void Click(int x, int y);
  // Activates the window and types Alt+F4; openbox turns it into a close request.
  void PressAltF4();
  // Asks the window manager to close the window (_NET_CLOSE_WINDOW, as a task bar does).
  void RequestClose();
  // The window's pixels now; when `png` is given, the picture is also saved there.
  Screenshot TakeScreenshot(const std::optional<std::filesystem::path>& png = {});

 private:
  void ReadOutput();
  std::map<std::string, std::string> XEnvironment() const;

  pid_t pid_ = -1;
  std::optional<int> exit_status_;
  std::chrono::steady_clock::time_point started_;
  double run_seconds_ = 0;
  long peak_resident_kib_ = 0;
  std::string display_;
  std::filesystem::path log_file_;
  TempFolder scratch_;  // screenshots
  unsigned long window_ = 0;

  int output_fd_ = -1;
  int error_fd_ = -1;
  std::atomic<bool> stop_reading_{false};
  std::atomic<bool> reader_done_{false};
  mutable std::mutex output_mutex_;
  std::string output_;
  std::string error_;
  std::thread reader_;
};
