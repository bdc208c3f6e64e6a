#include "support/x_server.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "support/child_process.h"
#include "support/run_command.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;

namespace {

constexpr int kFirstDisplay = 100;
constexpr int kLastDisplay = 499;

// Test processes reserve a display number with an flock on a file of their own, held for the
// server's lifetime. The X server's lock file cannot decide it: it names the server by a process
// ID, which means nothing to a test that runs in another process-ID namespace.
int ReserveDisplay(int number) {
  const fs::path path = fs::temp_directory_path() / ("zelk-tests-display-" + std::to_string(number) + ".lock");
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) return -1;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A server outside the tests (a desktop, another program's Xvfb) answers on the display's socket.
bool DisplayAnswers(int number) {
  const std::string path = "/tmp/.X11-unix/X" + std::to_string(number);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return true;
  const bool answers = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return answers;
}

// Reads the display number that Xvfb writes to its -displayfd descriptor once it accepts
// connections; empty when it exits first (the number was taken by a racing server).
std::string ReadReadyDisplay(int fd, std::chrono::seconds timeout) {
  std::string text;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (text.find('\n') == std::string::npos) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return {};
    pollfd poll_fd{fd, POLLIN, 0};
    if (poll(&poll_fd, 1, static_cast<int>(left.count())) <= 0) continue;
    char buffer[32];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) return {};
    text.append(buffer, static_cast<size_t>(n));
  }
  return text.substr(0, text.find('\n'));
}

}  // namespace

XServer::XServer() {
  // Several test processes start servers at the same time, and other programs may too: when Xvfb
  // cannot have a number it exits at once, and the next number is tried.
  for (int number = kFirstDisplay; number <= kLastDisplay && xvfb_ < 0; ++number) {
    const int reservation = ReserveDisplay(number);
    if (reservation < 0) continue;
    if (DisplayAnswers(number)) {
      close(reservation);
      continue;
    }
    int ready[2];
    if (pipe2(ready, O_CLOEXEC) != 0) throw std::runtime_error("XServer: pipe failed");
    ChildOptions options;
    options.environment = CurrentEnvironment();
    options.descriptor_3 = ready[1];
    const pid_t pid =
        SpawnChild({"Xvfb", ":" + std::to_string(number), "-screen", "0",
                    std::to_string(kWidth) + "x" + std::to_string(kHeight) + "x24", "-nolisten",
                    "tcp", "-noreset", "-displayfd", "3"},
                   options);
    close(ready[1]);
    if (pid < 0) {
      close(ready[0]);
      throw std::runtime_error("XServer: cannot start Xvfb (is it installed? run scripts/setup)");
    }
    const std::string ready_display = ReadReadyDisplay(ready[0], std::chrono::seconds(30));
    close(ready[0]);
    if (ready_display == std::to_string(number)) {
      xvfb_ = pid;
      display_ = ":" + ready_display;
      display_reservation_ = reservation;
    } else {
      StopChild(pid, SIGKILL);
      close(reservation);
    }
  }
  if (xvfb_ < 0) throw std::runtime_error("XServer: no free display number for Xvfb");

  ChildOptions options;
  options.environment = {{"DISPLAY", display_},
                         {"HOME", window_manager_home_.path().string()},
                         {"XDG_CONFIG_HOME", (window_manager_home_ / "config").string()},
                         {"PATH", "/usr/local/bin:/usr/bin:/bin"}};
  window_manager_ = SpawnChild({"openbox", "--sm-disable"}, options);
  if (window_manager_ < 0) {
    StopChild(xvfb_, SIGTERM);
    close(display_reservation_);
    throw std::runtime_error("XServer: cannot start openbox (run scripts/setup)");
  }
  // openbox announces itself on the root window once it manages the screen.
  const bool managed = WaitUntil(
      [&] {
        const CommandResult result =
            RunCommand({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}, Environment(), 10);
        return result.exit_code == 0 && result.output.find("window id") != std::string::npos;
      },
      std::chrono::seconds(30), std::chrono::milliseconds(50));
  if (!managed) {
    StopChild(window_manager_, SIGTERM);
    StopChild(xvfb_, SIGTERM);
    close(display_reservation_);
    throw std::runtime_error("XServer: openbox did not start managing " + display_);
  }
}

XServer::~XServer() {
  StopChild(window_manager_, SIGTERM);
  StopChild(xvfb_, SIGTERM);
  close(display_reservation_);
}

XServer& XServer::Shared() {
  static XServer server;
  return server;
}
