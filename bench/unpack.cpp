// Figures of the application unpack:
// - ExtractArchive against Info-ZIP's `unzip -q` and libarchive's `bsdtar -xf` on the same two
//   archives (5,000 small files; four large files, 300 MiB unpacked), each run a child process,
//   in alternating order, reported as medians and ratios of medians;
// - peak resident memory of each unpack (the child's ru_maxrss from wait4), which must not grow
//   with the archive's size;
// - the download and install of a 100 MiB release end to end through the application update step:
//   the real launcher under a private Xvfb against the local HTTPS release server, from its start
//   to "Extraction completed" in its log.
//
// bench_unpack --extract <archive> <folder> is the child that runs ExtractArchive.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <random>
#include <sstream>

#include <spdlog/sinks/null_sink.h>

#include "steps/application_install.h"
#include "support/launcher_test.h"
#include "support/run_command.h"
#include "support/wait_until.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr int kRounds = 5;

double MonotonicSeconds() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

struct ChildRun {
  double seconds = 0;
  double peak_mib = 0;
  int status = -1;
};

// Runs argv with standard output on /dev/null and waits for it with wait4: its wall time and its
// peak resident memory. Called in the small --measure process: a child's ru_maxrss counts the
// memory of the process it was forked from, so the bench itself (which holds the archives' data
// while it makes them) must not be that process.
ChildRun RunAndMeasure(char** argv) {
  ChildRun run;
  const double start = MonotonicSeconds();
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    execvp(argv[0], argv);
    _exit(127);
  }
  rusage usage{};
  int status = 0;
  wait4(pid, &status, 0, &usage);
  run.seconds = MonotonicSeconds() - start;
  run.peak_mib = double(usage.ru_maxrss) / 1024.0;
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

// Runs argv through "bench_unpack --measure" in `working_folder` and reads what it measured.
ChildRun RunChild(const std::vector<std::string>& argv, const fs::path& working_folder) {
  std::vector<std::string> command = {fs::read_symlink("/proc/self/exe").string(), "--measure"};
  command.insert(command.end(), argv.begin(), argv.end());
  const auto result = RunCommand(command, {}, 600, working_folder);
  ChildRun run;
  if (result.exit_code != 0 ||
      std::sscanf(result.output.c_str(), "%lf %lf %d", &run.seconds, &run.peak_mib, &run.status) != 3) {
    run.status = -1;
  }
  return run;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t n = values.size();
  return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Text that deflate compresses about as well as program files and data do (roughly 2:1 to 3:1).
std::string MixedContent(std::mt19937& random, size_t size) {
  static const char* const kWords[] = {"zelk", "launcher", "texture", "model", "vertex", "shader",
                                       "level", "sound", "{", "}", "0.25", "1024", "\n", "  "};
  std::string content;
  content.reserve(size);
  while (content.size() < size) {
    if (random() % 4 == 0) {
      for (int i = 0; i < 16 && content.size() < size; ++i) content.push_back(char(random()));
    } else {
      content += kWords[random() % std::size(kWords)];
      content.push_back(' ');
    }
  }
  content.resize(size);
  return content;
}

// Packs `source` with Info-ZIP's zip (as a release would be made) into `archive`.
void Pack(const fs::path& source, const fs::path& archive) {
  const auto result = RunCommand({"zip", "-q", "-r", archive.string(), "."}, {}, 600, source);
  if (result.exit_code != 0) throw std::runtime_error("zip failed: " + result.output);
}

fs::path MakeSmallFiles(const fs::path& root, std::mt19937& random) {
  const fs::path source = root / "small-source";
  for (int i = 0; i < 5000; ++i) {
    const fs::path file = source / ("folder" + std::to_string(i / 100)) / ("file" + std::to_string(i) + ".dat");
    fs::create_directories(file.parent_path());
    WriteFile(file, MixedContent(random, 512 + random() % 7680));
  }
  const fs::path archive = root / "small.zip";
  Pack(source, archive);
  fs::remove_all(source);
  return archive;
}

fs::path MakeLargeFiles(const fs::path& root, std::mt19937& random) {
  const fs::path source = root / "large-source";
  fs::create_directories(source / "data");
  for (int i = 0; i < 4; ++i) {
    WriteFile(source / "data" / ("pack" + std::to_string(i) + ".bin"), MixedContent(random, 75u << 20));
  }
  const fs::path archive = root / "large.zip";
  Pack(source, archive);
  fs::remove_all(source);
  return archive;
}

struct Tool {
  std::string name;
  std::function<std::vector<std::string>(const fs::path& archive, const fs::path& folder)> argv;
};

void CompareUnpackers(const fs::path& root, const std::vector<std::pair<std::string, fs::path>>& archives) {
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::vector<Tool> tools = {
      {"ExtractArchive", [&](const fs::path& a, const fs::path& f) {
         return std::vector<std::string>{self, "--extract", a.string(), f.string()};
       }},
      {"unzip -q", [](const fs::path& a, const fs::path&) {
         return std::vector<std::string>{"unzip", "-q", a.string()};
       }},
      {"bsdtar -xf", [](const fs::path& a, const fs::path&) {
         return std::vector<std::string>{"bsdtar", "-xf", a.string()};
       }},
  };
  const ChildRun idle = RunChild(tools[0].argv(root / "missing.zip", root), root);
  std::printf("ExtractArchive's program on a missing archive (start-up and libraries alone): %.3f s, "
              "peak resident %.1f MiB\n", idle.seconds, idle.peak_mib);
  for (const auto& [label, archive] : archives) {
    std::map<std::string, std::vector<double>> seconds, peaks;
    for (int round = 0; round < kRounds; ++round) {
      for (size_t k = 0; k < tools.size(); ++k) {
        const Tool& tool = tools[(k + round) % tools.size()];  // a different one goes first each round
        const fs::path folder = root / "out";
        fs::remove_all(folder);
        fs::create_directories(folder);
        const ChildRun run = RunChild(tool.argv(archive, folder), folder);
        if (run.status != 0) throw std::runtime_error(tool.name + " failed on " + label);
        seconds[tool.name].push_back(run.seconds);
        peaks[tool.name].push_back(run.peak_mib);
      }
    }
    fs::remove_all(root / "out");
    std::printf("%s (%.1f MiB archive), median of %d alternating runs:\n", label.c_str(),
                double(fs::file_size(archive)) / (1 << 20), kRounds);
    const double ours = Median(seconds["ExtractArchive"]);
    for (const auto& tool : tools) {
      const double median = Median(seconds[tool.name]);
      std::printf("  %-15s %7.3f s   peak resident %6.1f MiB", tool.name.c_str(), median,
                  *std::max_element(peaks[tool.name].begin(), peaks[tool.name].end()));
      if (tool.name != "ExtractArchive") std::printf("   ExtractArchive / this = %.2f", ours / median);
      std::printf("\n");
    }
  }
}

// Milliseconds since midnight of a log line "[2024-03-05 13:07:10.123] ..."; -1 when malformed.
double LogLineMs(const std::string& line) {
  int hours = 0, minutes = 0, seconds = 0, ms = 0;
  if (std::sscanf(line.c_str(), "[%*d-%*d-%*d %d:%d:%d.%d]", &hours, &minutes, &seconds, &ms) != 4) return -1;
  return ((hours * 60.0 + minutes) * 60.0 + seconds) * 1000.0 + ms;
}

double LineMs(const std::string& log, const std::string& text) {
  const size_t at = log.find(text);
  if (at == std::string::npos) return -1;
  return LogLineMs(log.substr(log.rfind('\n', at) + 1));
}

void EndToEnd(const fs::path& release) {
  XServer x_server;
  LauncherSandbox sandbox;
  ReleaseServer release_server("2.0.0");
  release_server.ServeFile("/files/Zelk.zip", release);
  std::vector<double> total, download, install;
  for (int round = 0; round < 3; ++round) {
    const fs::path launcher_path = sandbox.PlaceInstalled("1.0.0");
    const double start = MonotonicSeconds();
    LauncherProcess launcher(launcher_path, {}, launcher_path.parent_path(),
                             MakeLauncherEnvironment(x_server, sandbox, release_server));
    if (!launcher.WaitForLog("Extraction completed", std::chrono::seconds(300))) {
      throw std::runtime_error("no install: " + launcher.Log());
    }
    const double seen = MonotonicSeconds() - start;
    launcher.WaitForExit();
    const std::string log = launcher.Log();
    const double first = LogLineMs(log);
    const double downloading = LineMs(log, "Downloading new version");
    const double downloaded = LineMs(log, "Download completed");
    const double extracted = LineMs(log, "Extraction completed");
    total.push_back(seen);
    download.push_back((downloaded - downloading) / 1000.0);
    install.push_back((extracted - downloaded) / 1000.0);
    std::printf("  run %d: start to \"Extraction completed\" %.2f s (first log line to it %.2f s)\n",
                round + 1, seen, (extracted - first) / 1000.0);
    fs::remove(launcher.log_file());
  }
  std::printf("  median: %.2f s from start, of which download %.2f s and install %.2f s\n",
              Median(total), Median(download), Median(install));
}

fs::path MakeRelease(const fs::path& root, std::mt19937& random) {
  const fs::path source = root / "release-source";
  CopyExecutable(ZELK_FIXTURE_APP_EXE, source / "Zelk.exe");
  fs::create_directories(source / "data");
  WriteFile(source / "version.txt", "2.0.0\r\n");
  // Data that deflate cannot shrink, so that the archive itself is 100 MiB.
  for (int i = 0; i < 4; ++i) {
    std::string data(25u << 20, '\0');
    for (auto& byte : data) byte = char(random());
    WriteFile(source / "data" / ("pack" + std::to_string(i) + ".bin"), data);
  }
  const fs::path archive = root / "release.zip";
  Pack(source, archive);
  fs::remove_all(source);
  return archive;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 3 && std::strcmp(argv[1], "--measure") == 0) {
    const ChildRun run = RunAndMeasure(argv + 2);
    std::printf("%.6f %.3f %d\n", run.seconds, run.peak_mib, run.status);
    return 0;
  }
  if (argc == 4 && std::strcmp(argv[1], "--extract") == 0) {
    spdlog::logger logger("bench", std::make_shared<spdlog::sinks::null_sink_mt>());
    nlohmann::json record;
    std::atomic<int32_t> percent{0};
    return ExtractArchive(argv[2], argv[3], {logger, record, percent}) ? 0 : 1;
  }

  TempFolder root;
  std::mt19937 random(20240305);
  std::printf("Making the archives (zip -q -r)...\n");
  std::fflush(stdout);
  const std::vector<std::pair<std::string, fs::path>> archives = {
      {"5,000 small files", MakeSmallFiles(root.path(), random)},
      {"4 large files, 300 MiB unpacked", MakeLargeFiles(root.path(), random)},
  };
  CompareUnpackers(root.path(), archives);
  for (const auto& [label, archive] : archives) fs::remove(archive);

  std::printf("Download and install of a 100 MiB release through the application update step:\n");
  std::fflush(stdout);
  const fs::path release = MakeRelease(root.path(), random);
  std::printf("  archive %.1f MiB\n", double(fs::file_size(release)) / (1 << 20));
  EndToEnd(release);
  return 0;
}
