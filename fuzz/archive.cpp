// The archive unpack: each input is a ZIP file unpacked into a fresh application folder. After
// each one nothing has appeared beside that folder, and nothing inside it is a link or anything
// but a plain file or folder.
#include <spdlog/sinks/null_sink.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <set>

#include "fuzz_check.h"
#include "steps/application_install.h"

namespace fs = std::filesystem;

namespace {

class Sandbox {
 public:
  Sandbox() {
    const fs::path base =
        fs::is_directory("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    root_ = base / ("zelk-fuzz-archive-" + std::to_string(getpid()));
    fs::remove_all(root_);
    fs::create_directories(Launcher());
    fs::create_directories(Canary());
  }
  ~Sandbox() {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  // root/launcher/{Zelk.zip, Zelk/} and root/canary/, which must stay empty.
  fs::path Launcher() const { return root_ / "launcher"; }
  fs::path Archive() const { return Launcher() / "Zelk.zip"; }
  fs::path Application() const { return Launcher() / "Zelk"; }
  fs::path Canary() const { return root_ / "canary"; }

  void Check() const {
    std::set<std::string> beside;
    for (const auto& entry : fs::directory_iterator(root_)) beside.insert(entry.path().filename());
    FUZZ_CHECK((beside == std::set<std::string>{"canary", "launcher"}));
    FUZZ_CHECK(fs::is_empty(Canary()));
    std::set<std::string> in_launcher;
    for (const auto& entry : fs::directory_iterator(Launcher())) {
      in_launcher.insert(entry.path().filename());
    }
    FUZZ_CHECK((in_launcher == std::set<std::string>{"Zelk", "Zelk.zip"}));

    for (auto it = fs::recursive_directory_iterator(Application()); it != fs::end(it); ++it) {
      const fs::file_status status = it->symlink_status();
      FUZZ_CHECK(fs::is_regular_file(status) || fs::is_directory(status));
      const fs::path relative = it->path().lexically_relative(Application());
      FUZZ_CHECK(!relative.empty() && *relative.begin() != "..");
    }
  }

 private:
  fs::path root_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Sandbox sandbox;
  static spdlog::logger logger("class UpdateZelkStep",
                               std::make_shared<spdlog::sinks::null_sink_st>());

  fs::remove_all(sandbox.Application());
  fs::create_directory(sandbox.Application());
  std::ofstream(sandbox.Archive(), std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));

  nlohmann::json record = {{"result", "succeeded"}};
  std::atomic<int32_t> percent{0};
  ExtractArchive(sandbox.Archive(), sandbox.Application(), {logger, record, percent});
  FUZZ_CHECK(percent.load() >= 0 && percent.load() <= 100);
  FUZZ_CHECK(record["result"].is_string());
  sandbox.Check();
  return 0;
}
