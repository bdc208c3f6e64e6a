#include "support/launcher_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "support/child_process.h"
#include "support/run_command.h"
#include "support/wait_until.h"

// Last: Xlib defines macros (None, Bool, Status) that clash with names in the headers above.
#include <X11/Xlib.h>

namespace fs = std::filesystem;
using std::chrono::milliseconds;

std::ostream& operator<<(std::ostream& out, const Rgb& colour) {
  return out << "rgb(" << int(colour.r) << ", " << int(colour.g) << ", " << int(colour.b) << ")";
}

Rgb Screenshot::At(int x, int y) const {
  if (x < 0 || y < 0 || x >= width || y >= height) return {};
  const size_t at = (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
  return {rgb[at], rgb[at + 1], rgb[at + 2]};
}

int Screenshot::CountOtherThan(Rgb colour, int x0, int y0, int x1, int y1) const {
  int count = 0;
  for (int y = y0; y < y1; ++y) {
    for (int x = x0; x < x1; ++x) count += At(x, y) == colour ? 0 : 1;
  }
  return count;
}

std::vector<FixtureStart> ReadFixtureRecord(const fs::path& record) {
  std::vector<FixtureStart> starts;
  std::istringstream lines(ReadFile(record));
  FixtureStart start;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("exe=", 0) == 0) start.exe = line.substr(4);
    else if (line.rfind("cwd=", 0) == 0) start.cwd = line.substr(4);
    else if (line.rfind("arg=", 0) == 0) start.args.push_back(line.substr(4));
    else if (line == "end") starts.push_back(std::exchange(start, {}));
  }
  return starts;
}

LauncherProcess::LauncherProcess(const fs::path& launcher, const std::vector<std::string>& arguments,
                                 const fs::path& working_folder,
                                 const std::map<std::string, std::string>& environment)
    : log_file_(launcher.parent_path() / "zelk_launcher.txt") {
  if (auto it = environment.find("DISPLAY"); it != environment.end()) display_ = it->second;
  std::vector<std::string> argv{launcher.string()};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  ChildOptions options;
  options.environment = environment;
  options.environment.emplace("PATH", "/usr/local/bin:/usr/bin:/bin");
  options.working_folder = working_folder;
  int output_pipe[2], error_pipe[2];
  if (pipe2(output_pipe, O_CLOEXEC) != 0) throw std::runtime_error("LauncherProcess: pipe failed");
  if (pipe2(error_pipe, O_CLOEXEC) != 0) throw std::runtime_error("LauncherProcess: pipe failed");
  options.standard_output = output_pipe[1];
  options.standard_error = error_pipe[1];
  started_ = std::chrono::steady_clock::now();
  pid_ = SpawnChild(argv, options);
  const int spawn_error = errno;
  close(output_pipe[1]);
  close(error_pipe[1]);
  output_fd_ = output_pipe[0];
  error_fd_ = error_pipe[0];
  if (pid_ < 0) {
    close(output_fd_);
    close(error_fd_);
    throw std::runtime_error("LauncherProcess: cannot start " + launcher.string() + ": " +
                             std::strerror(spawn_error));
  }
  reader_ = std::thread([this] { ReadOutput(); });
}

LauncherProcess::~LauncherProcess() {
  if (Running()) {
    kill(pid_, SIGKILL);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  stop_reading_ = true;
  if (reader_.joinable()) reader_.join();
  close(output_fd_);
  close(error_fd_);
}

// Reads both streams until both end; a program started by the launcher gets /dev/null, but the
// reader still stops when told to, so nothing that inherited the pipes can hold a test up.
void LauncherProcess::ReadOutput() {
  bool output_open = true, error_open = true;
  while ((output_open || error_open) && !stop_reading_) {
    pollfd fds[2] = {{output_open ? output_fd_ : -1, POLLIN, 0},
                     {error_open ? error_fd_ : -1, POLLIN, 0}};
    if (poll(fds, 2, 50) <= 0) continue;
    for (int i = 0; i < 2; ++i) {
      if (fds[i].revents == 0) continue;
      char buffer[4096];
      const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        (i == 0 ? output_open : error_open) = false;
        continue;
      }
      std::lock_guard lock(output_mutex_);
      (i == 0 ? output_ : error_).append(buffer, static_cast<size_t>(n));
    }
  }
  reader_done_ = true;
}

bool LauncherProcess::Running() {
  if (exit_status_) return false;
  int status = 0;
  rusage usage{};
  if (wait4(pid_, &status, WNOHANG, &usage) == pid_) {
    exit_status_ = status;
    peak_resident_kib_ = usage.ru_maxrss;
    run_seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
    return false;
  }
  return true;
}

int LauncherProcess::WaitForExit(Seconds timeout) {
  if (!WaitUntil([this] { return !Running(); }, timeout, milliseconds(10))) {
    kill(pid_, SIGKILL);
    ADD_FAILURE() << "the launcher did not exit within " << timeout.count()
                  << " s and was killed; its log:\n"
                  << Log();
    WaitUntil([this] { return !Running(); }, Seconds(10));
    return -1;
  }
  // The launcher's ends of the pipes are closed now: let the reader take what is left, but do
  // not wait on a program the launcher started that kept them open by mistake.
  WaitUntil([this] { return reader_done_.load(); }, Seconds(2), milliseconds(5));
  stop_reading_ = true;
  if (reader_.joinable()) reader_.join();
  if (!WIFEXITED(*exit_status_)) {
    ADD_FAILURE() << "the launcher ended by signal " << WTERMSIG(*exit_status_) << "; its log:\n"
                  << Log() << "\nits standard error:\n" << StandardError();
    return -1;
  }
  return WEXITSTATUS(*exit_status_);
}

std::string LauncherProcess::StandardOutput() const {
  std::lock_guard lock(output_mutex_);
  return output_;
}

std::string LauncherProcess::StandardError() const {
  std::lock_guard lock(output_mutex_);
  return error_;
}

std::string LauncherProcess::Log() const { return ReadFile(log_file_); }

bool LauncherProcess::WaitForLog(const std::string& text, Seconds timeout) {
  if (WaitUntil([&] { return Log().find(text) != std::string::npos; }, timeout)) return true;
  ADD_FAILURE() << "the log never showed \"" << text << "\" within " << timeout.count()
                << " s; it holds:\n"
                << Log();
  return false;
}

std::map<std::string, std::string> LauncherProcess::XEnvironment() const {
  return {{"DISPLAY", display_}};
}

bool LauncherProcess::WaitForWindow(Seconds timeout) {
  if (window_ != 0) return true;
  const bool found = WaitUntil(
      [&] {
        if (!Running()) return false;
        const CommandResult result =
            RunCommand({"xdotool", "search", "--all", "--onlyvisible", "--pid",
                        std::to_string(pid_), "--name", "^Zelk$"},
                       XEnvironment(), 10);
        if (result.exit_code != 0) return false;
        window_ = std::stoul(result.output);
        return window_ != 0;
      },
      timeout, milliseconds(50));
  if (!found) {
    ADD_FAILURE() << "no visible window \"Zelk\" of the launcher within " << timeout.count()
                  << " s (launcher " << (Running() ? "still running" : "exited") << "); its log:\n"
                  << Log() << "\nits standard error:\n" << StandardError();
  }
  return found;
}

bool LauncherProcess::WaitForFirstFrame(Seconds timeout) {
  if (!WaitForWindow(timeout)) return false;
  const Rgb background{18, 18, 18};
  Rgb seen;
  if (WaitUntil(
          [&] {
            const Screenshot shot = TakeScreenshot();
            seen = shot.At(shot.width - 1, shot.height - 1);
            return shot.width > 0 && seen == background;
          },
          timeout, milliseconds(50))) {
    return true;
  }
  ADD_FAILURE() << "the launcher drew no frame within " << timeout.count()
                << " s: the window's corner shows " << seen;
  return false;
}

WindowGeometry LauncherProcess::Geometry() {
  WindowGeometry geometry;
  if (!WaitForWindow()) return geometry;
  const CommandResult result = RunCommand(
      {"xdotool", "getwindowgeometry", "--shell", std::to_string(window_)}, XEnvironment(), 10);
  std::istringstream lines(result.output);
  for (std::string line; std::getline(lines, line);) {
    const auto equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = line.substr(0, equals);
    const int value = std::atoi(line.c_str() + equals + 1);
    if (key == "X") geometry.x = value;
    if (key == "Y") geometry.y = value;
    if (key == "WIDTH") geometry.width = value;
    if (key == "HEIGHT") geometry.height = value;
  }
  return geometry;
}

void LauncherProcess::Click(int x, int y) {
  if (!WaitForWindow()) return;
  const CommandResult result =
      RunCommand({"xdotool", "mousemove", "--window", std::to_string(window_), std::to_string(x),
                  std::to_string(y), "sleep", "0.2", "click", "1"},
                 XEnvironment(), 10);
  EXPECT_EQ(result.exit_code, 0) << "xdotool click failed: " << result.output;
}

void LauncherProcess::PressAltF4() {
  if (!WaitForWindow()) return;
  // Keys typed with --window are sent to the window itself and never reach the window manager's
  // key binding; Alt+F4 is therefore typed into the active window, as a user types it.
  const CommandResult result = RunCommand(
      {"xdotool", "windowactivate", "--sync", std::to_string(window_), "key", "alt+F4"},
      XEnvironment(), 10);
  EXPECT_EQ(result.exit_code, 0) << "xdotool alt+F4 failed: " << result.output;
}

void LauncherProcess::RequestClose() {
  if (!WaitForWindow()) return;
  // "xdotool windowclose" destroys the window under the program instead of asking it to close
  // (the launcher then dies of an X BadWindow error with exit code 1); the window manager's close
  // is the _NET_CLOSE_WINDOW message to the root window, which openbox turns into
  // WM_DELETE_WINDOW for the client.
  Display* display = XOpenDisplay(display_.c_str());
  ASSERT_NE(display, nullptr) << "cannot open display " << display_;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window_;
  event.xclient.message_type = XInternAtom(display, "_NET_CLOSE_WINDOW", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = CurrentTime;
  event.xclient.data.l[1] = 2;  // from a pager or task bar, as a user's request
  XSendEvent(display, DefaultRootWindow(display), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &event);
  XSync(display, False);
  XCloseDisplay(display);
}

Screenshot LauncherProcess::TakeScreenshot(const std::optional<fs::path>& png) {
  Screenshot shot;
  if (!WaitForWindow()) return shot;
  const fs::path ppm = scratch_ / "screenshot.ppm";
  const CommandResult result =
      RunCommand({"import", "-window", std::to_string(window_), "-depth", "8", "ppm:" + ppm.string()},
                 XEnvironment(), 20);
  if (result.exit_code != 0) return shot;  // the window may just have gone
  if (png) RunCommand({"import", "-window", std::to_string(window_), png->string()}, XEnvironment(), 20);
  // Binary PPM: "P6", width, height, maximum 255, one white-space byte, then the pixels.
  const std::string data = ReadFile(ppm);
  std::istringstream header(data);
  std::string magic;
  int max_value = 0;
  header >> magic >> shot.width >> shot.height >> max_value;
  const auto pixels_at = static_cast<size_t>(header.tellg()) + 1;
  const size_t size = static_cast<size_t>(shot.width) * static_cast<size_t>(shot.height) * 3;
  if (magic != "P6" || max_value != 255 || data.size() < pixels_at + size) return {};
  shot.rgb.assign(data.begin() + static_cast<std::ptrdiff_t>(pixels_at),
                  data.begin() + static_cast<std::ptrdiff_t>(pixels_at + size));
  return shot;
}
