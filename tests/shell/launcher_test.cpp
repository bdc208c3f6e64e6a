// The frame loop driven through RunLauncher with a window host that draws nowhere and steps
// whose statuses are scripted.
#include "shell/launcher.h"

#include <gtest/gtest.h>
#include <imgui_internal.h>

#include <chrono>
#include <deque>
#include <functional>
#include <thread>

#include "support/fake_window_host.h"
#include "support/temp_folder.h"

namespace fs = std::filesystem;

namespace {

// What the scripted steps and the host saw, in order.
struct Script {
  FakeWindowHost* host = nullptr;
  std::vector<std::deque<int>> statuses;  // per step; Running once a step's list is used up
  std::vector<std::string> events;        // "start 1 @frame 0", "destroy 0", ...
  std::vector<std::vector<float>> time_steps;
  std::function<void()> on_update;        // runs inside every Update, within the frame
};
Script* script = nullptr;

class ScriptedStep final : public IStep {
 public:
  explicit ScriptedStep(int index) : index_(index) {}
  ~ScriptedStep() override { script->events.push_back("destroy " + std::to_string(index_)); }
  int Update(float dt) override {
    script->time_steps[index_].push_back(dt);
    if (script->on_update) script->on_update();
    auto& statuses = script->statuses[index_];
    if (statuses.empty()) return Running;
    const int status = statuses.front();
    statuses.pop_front();
    return status;
  }
  void Start() override {
    script->events.push_back("start " + std::to_string(index_) + " @frame " +
                             std::to_string(script->host->frames));
  }
  nlohmann::json GetAnalyticsRecord() override { return {{"step", index_}}; }

 private:
  int index_;
};

StepList ScriptedSteps(const LaunchOptions&, ProgressBar&) {
  StepList steps;
  for (size_t i = 0; i < script->statuses.size(); ++i) {
    steps.push_back(std::make_unique<ScriptedStep>(static_cast<int>(i)));
  }
  script->time_steps.resize(script->statuses.size());
  return steps;
}

// Resources with the real font and a chosen logo.
class TestResources final : public IResourceProvider {
 public:
  std::optional<std::span<const unsigned char>> Find(ResourceId id) const override {
    if (id == ResourceId::Font) return font_missing ? std::nullopt : embedded_.Find(id);
    if (logo_missing) return std::nullopt;
    if (!logo_bytes.empty()) return std::span(logo_bytes);
    return embedded_.Find(id);
  }
  bool font_missing = false;
  bool logo_missing = false;
  std::vector<unsigned char> logo_bytes;

 private:
  EmbeddedResources embedded_;
};

class LauncherTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script = &script_;
    script_.host = &host_;
    // Runs that end with a report read and write the installation identifier and post the
    // records: keep both inside the test (nothing listens on port 1).
    setenv("HOME", profile_.path().c_str(), 1);
    setenv("XDG_CONFIG_HOME", (profile_ / "config").c_str(), 1);
    setenv("ZELK_ANALYTICS_PROXY_URL", "https://127.0.0.1:1", 1);
  }
  void TearDown() override { script = nullptr; }
  int Run(std::vector<std::deque<int>> statuses) {
    script_.statuses = std::move(statuses);
    return RunLauncher({"/opt/ZelkLauncher.exe"}, host_, resources_, ScriptedSteps);
  }

  TempFolder profile_;
  Script script_;
  FakeWindowHost host_;
  TestResources resources_;
};

}  // namespace

TEST_F(LauncherTest, StatusesEndTheRunWithTheirExitCodes) {
  const struct {
    std::vector<std::deque<int>> statuses;
    int exit_code;
    int frames;
  } cases[] = {
      {{{Done}, {Running, Done}}, 0, 3},
      {{{Quit}, {}}, 0, 1},
      {{{Running, QuitWithError}, {}}, 1, 2},
      {{{QuitWithoutReport}, {}}, 0, 1},
      {{{5, -1, 0, 99, Quit}}, 0, 5},
  };
  for (const auto& c : cases) {
    FakeWindowHost host;
    script_.host = &host;
    script_.statuses = c.statuses;
    script_.events.clear();
    EXPECT_EQ(RunLauncher({"/opt/ZelkLauncher.exe"}, host, resources_, ScriptedSteps), c.exit_code);
    EXPECT_EQ(host.frames, c.frames);
  }
}

TEST_F(LauncherTest, DoneStartsTheNextStepInTheSameFrame) {
  EXPECT_EQ(Run({{Done}, {Done}, {Running, Done}}), 0);
  EXPECT_EQ(script_.events,
            (std::vector<std::string>{"start 0 @frame 0", "start 1 @frame 0", "start 2 @frame 1",
                                      "destroy 0", "destroy 1", "destroy 2"}));
  EXPECT_EQ(script_.time_steps[1].size(), 1u);  // first updated in the frame after its start
  EXPECT_EQ(script_.time_steps[2].size(), 2u);
}

TEST_F(LauncherTest, LaterStepsAreNeverStartedAfterAQuit) {
  EXPECT_EQ(Run({{Quit}, {Done}}), 0);
  EXPECT_EQ(script_.events,
            (std::vector<std::string>{"start 0 @frame 0", "destroy 0", "destroy 1"}));
}

TEST_F(LauncherTest, ACloseRequestEndsTheRunWithExitCodeZero) {
  host_.close_after_frame = 2;
  EXPECT_EQ(Run({{}, {}}), 0);
  EXPECT_EQ(host_.frames, 3);
}

TEST_F(LauncherTest, AFrameAfterAMessagePassGetsOnlyTheTimeSinceThatPass) {
  // Frame 0 takes 200 ms to present; a message pass comes before frame 1.
  host_.message_before_frame = {1};
  script_.on_update = [this] {
    if (host_.frames == 0) std::this_thread::sleep_for(std::chrono::milliseconds(200));
  };
  EXPECT_EQ(Run({{Running, Quit}}), 0);
  ASSERT_EQ(script_.time_steps[0].size(), 2u);
  EXPECT_LT(script_.time_steps[0][1], 0.1f);
}

TEST_F(LauncherTest, FirstTimeStepCoversEverythingSinceTheProcessStarted) {
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(Run({{Quit}}), 0);
  ASSERT_EQ(script_.time_steps[0].size(), 1u);
  EXPECT_GE(script_.time_steps[0][0], 0.03f);
}

TEST_F(LauncherTest, StartUpFailuresEndWithExitCodeOneBeforeAnyStep) {
  const struct {
    const char* name;
    bool window_fails, font_missing, logo_missing;
  } cases[] = {
      {"no window", true, false, false},
      {"no font", false, true, false},
      {"no logo", false, false, true},
  };
  for (const auto& c : cases) {
    FakeWindowHost host;
    host.create_succeeds = !c.window_fails;
    script_.host = &host;
    resources_.font_missing = c.font_missing;
    resources_.logo_missing = c.logo_missing;
    script_.events.clear();
    script_.statuses = {{Quit}};
    EXPECT_EQ(RunLauncher({"/opt/ZelkLauncher.exe"}, host, resources_, ScriptedSteps), 1) << c.name;
    EXPECT_TRUE(script_.events.empty()) << c.name;
    EXPECT_EQ(host.frames, 0) << c.name;
  }
}

TEST_F(LauncherTest, AnUnparsableCommandLineFailsBeforeTheWindow) {
  script_.statuses = {{Quit}};
  EXPECT_EQ(RunLauncher({}, host_, resources_, ScriptedSteps), 1);
  EXPECT_EQ(host_.rect.width, 0);
}

TEST_F(LauncherTest, LogoIsUploadedAtItsSizeOrLeftOutWhenItCannotBeDecoded) {
  const struct {
    std::vector<unsigned char> logo;  // empty: the embedded logo
    bool texture_succeeds;
    float drawn_width;
  } cases[] = {
      {{}, true, 32},
      {{'n', 'o', 't', ' ', 'p', 'n', 'g'}, true, 0},
      {{}, false, 0},
  };
  for (const auto& c : cases) {
    FakeWindowHost host;
    host.texture_succeeds = c.texture_succeeds;
    script_.host = &host;
    resources_.logo_bytes = c.logo;
    float image_width = -1, image_x = -1, image_y = -1;
    script_.on_update = [&] {
      // The logo is the window's first item, drawn just before the step's Update.
      ImGuiWindow* window = ImGui::GetCurrentWindow();
      image_x = window->DC.CursorStartPos.x;
      image_y = window->DC.CursorStartPos.y;
      image_width = window->DC.CursorMaxPos.x - window->DC.CursorStartPos.x;
    };
    script_.statuses = {{Quit}};
    EXPECT_EQ(RunLauncher({"/opt/ZelkLauncher.exe"}, host, resources_, ScriptedSteps), 0);
    EXPECT_EQ(image_x, 8);
    EXPECT_EQ(image_y, 8);
    EXPECT_EQ(image_width, c.drawn_width);
  }
}

TEST_F(LauncherTest, CentredTextIsLiteralAndMayStartLeftOfTheWindow) {
  struct Drawn {
    float x, width;
  };
  std::vector<Drawn> drawn;
  script_.on_update = [&] {
    for (const char* text : {"100% done", "Launching zelk...",
                             "A message much wider than the five hundred pixels of the launcher's window, which starts left of it"}) {
      DrawCentredText(text);
      drawn.push_back({ImGui::GetItemRectMin().x, ImGui::GetItemRectSize().x});
    }
  };
  EXPECT_EQ(Run({{Quit}}), 0);
  ASSERT_EQ(drawn.size(), 3u);
  for (const auto& d : drawn) EXPECT_NEAR(d.x + d.width / 2, 250.0f, 1.0f);
  EXPECT_LT(drawn[2].x, 0.0f);
}

TEST_F(LauncherTest, NoIniFileIsReadOrWritten) {
  TempFolder folder;
  const auto previous = fs::current_path();
  fs::current_path(folder.path());
  WriteFile(folder / "imgui.ini", "[Window][Zelk]\nPos=100,100\nSize=10,10\n");
  float window_width = 0;
  script_.on_update = [&] { window_width = ImGui::GetWindowSize().x; };
  EXPECT_EQ(Run({{Quit}}), 0);
  EXPECT_EQ(Run({{Quit}}), 0);
  fs::current_path(previous);
  EXPECT_EQ(window_width, 500);
  EXPECT_EQ(ReadFile(folder / "imgui.ini"), "[Window][Zelk]\nPos=100,100\nSize=10,10\n");
}
