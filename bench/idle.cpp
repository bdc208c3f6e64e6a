// Figures of the launcher shell against the real ZelkLauncher.exe under a private Xvfb with Mesa's
// software renderer:
// - CPU use (percent of one core) and frames per second while a screen waits for a click: the
//   "Could not launch Zelk" screen, reached with an installed layout whose Zelk.exe is missing;
// - time from start to the first presented frame;
// - resident memory while that screen waits, at 5 s and at 60 s (does it grow?);
// - peak resident memory of a whole ordinary run (start Zelk, five seconds, exit).
// Frames are counted by a preloaded wrapper of glfwSwapBuffers (bench/shim/frame_counter.cpp).
#include <fcntl.h>
#include <sys/mman.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <thread>

#include "support/launcher_test.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

// User plus system time of every thread of the process so far, from /proc/<pid>/stat.
double CpuSeconds(pid_t pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  const auto after_name = stat.rfind(')');
  if (after_name == std::string::npos) return 0;
  std::istringstream fields(stat.substr(after_name + 2));
  std::string field;
  // Fields from the state (3rd) on; utime and stime are the 14th and 15th.
  for (int i = 3; i < 14; ++i) fields >> field;
  double user = 0, system = 0;
  fields >> user >> system;
  return (user + system) / double(sysconf(_SC_CLK_TCK));
}

// VmRSS from /proc/<pid>/status, in KiB.
long ResidentKib(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return 0;
}

double Mib(long kib) { return double(kib) / 1024.0; }

// The two counters the frame-counting wrapper writes (see bench/shim/frame_counter.cpp).
class FrameCounter {
 public:
  explicit FrameCounter(const fs::path& file) : file_(file) {
    WriteFile(file_, std::string(2 * sizeof(uint64_t), '\0'));
    const int fd = open(file_.c_str(), O_RDWR | O_CLOEXEC);
    mapped_ = static_cast<uint64_t*>(
        mmap(nullptr, 2 * sizeof(uint64_t), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0));
    close(fd);
  }
  uint64_t frames() const { return __atomic_load_n(&mapped_[0], __ATOMIC_SEQ_CST); }
  double first_frame_seconds() const { return double(mapped_[1]) / 1e9; }
  std::map<std::string, std::string> Environment() const {
    return {{"LD_PRELOAD", ZELK_FRAME_COUNTER_SHIM}, {"ZELK_FRAME_COUNTER", file_.string()}};
  }

 private:
  fs::path file_;
  uint64_t* mapped_ = nullptr;
};

void SleepUntil(double monotonic_seconds) {
  const double left = monotonic_seconds - MonotonicSeconds();
  if (left > 0) std::this_thread::sleep_for(std::chrono::duration<double>(left));
}

int WaitingScreen(const XServer& x_server) {
  LauncherSandbox sandbox;
  ReleaseServer release_server("1.0.0");
  const fs::path launcher = sandbox.PlaceInstalled("1.0.0");
  fs::remove(sandbox.application_folder() / "Zelk.exe");
  FrameCounter counter(sandbox.root() / "frames");

  const double started = MonotonicSeconds();
  LauncherProcess process(launcher, {}, launcher.parent_path(),
                          MakeLauncherEnvironment(x_server, sandbox, release_server,
                                                  counter.Environment()));
  if (!WaitUntil([&] { return counter.frames() > 0 || !process.Running(); }, 60s, 1ms) ||
      counter.frames() == 0) {
    std::fprintf(stderr, "the launcher presented no frame; its log:\n%s\n", process.Log().c_str());
    return 1;
  }
  const double first_frame = counter.first_frame_seconds() - started;
  if (!process.WaitForLog("Could not start Zelk")) return 1;

  // CPU and frames over ten seconds of the waiting screen, after two seconds to settle.
  SleepUntil(started + 2);
  const double cpu_begin = CpuSeconds(process.pid());
  const uint64_t frames_begin = counter.frames();
  const double begin = MonotonicSeconds();
  SleepUntil(started + 5);
  const long resident_5s = ResidentKib(process.pid());
  SleepUntil(begin + 10);
  const double cpu_end = CpuSeconds(process.pid());
  const uint64_t frames_end = counter.frames();
  const double end = MonotonicSeconds();
  SleepUntil(started + 60);
  const long resident_60s = ResidentKib(process.pid());
  const uint64_t frames_60s = counter.frames();
  const double at_60s = MonotonicSeconds();

  process.Click(250, 140);
  const int exit_code = process.WaitForExit(30s);

  const double seconds = end - begin;
  std::printf("start to first presented frame:        %.0f ms\n", first_frame * 1000);
  std::printf("CPU while \"Could not launch Zelk\" waits: %.1f %% of one core over %.1f s "
              "(target: at most 10 %%)\n",
              100 * (cpu_end - cpu_begin) / seconds, seconds);
  std::printf("frames drawn while it waits:           %.1f per second (%.1f over the whole minute)\n",
              double(frames_end - frames_begin) / seconds,
              double(frames_60s) / (at_60s - counter.first_frame_seconds()));
  std::printf("resident memory while it waits:        %.1f MiB at 5 s, %.1f MiB at 60 s "
              "(growth %+.1f MiB; target: none)\n",
              Mib(resident_5s), Mib(resident_60s), Mib(resident_60s - resident_5s));
  std::printf("peak resident memory of that run:      %.1f MiB (exit code %d after \"Exit\")\n",
              Mib(process.PeakResidentKib()), exit_code);
  return exit_code == 0 ? 0 : 1;
}

int OrdinaryRun(const XServer& x_server) {
  LauncherSandbox sandbox;
  ReleaseServer release_server("1.0.0");
  const fs::path launcher = sandbox.PlaceInstalled("1.0.0");
  LauncherProcess process(launcher, {}, launcher.parent_path(),
                          MakeLauncherEnvironment(x_server, sandbox, release_server));
  const int exit_code = process.WaitForExit(60s);
  std::printf("peak resident memory of a whole run:   %.1f MiB (start Zelk, %.1f s, exit code %d)\n",
              Mib(process.PeakResidentKib()), process.RunSeconds(), exit_code);
  return exit_code == 0 ? 0 : 1;
}

}  // namespace

int main() {
  XServer x_server;
  const int waiting = WaitingScreen(x_server);
  const int ordinary = OrdinaryRun(x_server);
  return waiting != 0 || ordinary != 0 ? 1 : 0;
}
