// The launcher run, read top to bottom as Dear ImGui's examples read: set up, loop (messages or
// a frame: the window, the logo, the current step), tear down in reverse order.
#include <stb_image.h>

#include "analytics/analytics_manager.h"
#include "platform/clock.h"
#include "shell/launcher.h"
#include "shell/log.h"
#include "steps/install_step.h"
#include "steps/launch_step.h"
#include "steps/self_update_step.h"
#include "steps/uninstall_step.h"
#include "steps/update_zelk_step.h"

namespace {

constexpr int kWindowWidth = 500;
constexpr int kWindowHeight = 200;
constexpr float kFontSize = 16.0f;

const ImVec4 kWindowBackground(18 / 255.0f, 18 / 255.0f, 18 / 255.0f, 1.0f);

void ApplyLauncherStyle(ImGuiStyle& style) {
  ImGui::StyleColorsDark(&style);
  style.WindowRounding = 0;
  style.ChildRounding = 0;
  style.FrameRounding = 5;
  style.GrabRounding = 0;
  style.PopupRounding = 0;
  style.ScrollbarRounding = 0;
  style.WindowBorderSize = 0;
  style.FrameBorderSize = 0;
  style.Colors[ImGuiCol_WindowBg] = kWindowBackground;
  style.Colors[ImGuiCol_Border] = ImVec4(35 / 255.0f, 35 / 255.0f, 35 / 255.0f, 1.0f);
  style.Colors[ImGuiCol_Button] = ImVec4(35 / 255.0f, 35 / 255.0f, 35 / 255.0f, 1.0f);
  style.Colors[ImGuiCol_ButtonHovered] = ImVec4(69 / 255.0f, 69 / 255.0f, 69 / 255.0f, 1.0f);
  style.Colors[ImGuiCol_ButtonActive] = ImVec4(90 / 255.0f, 90 / 255.0f, 90 / 255.0f, 1.0f);
}

struct Logo {
  ImTextureID texture = nullptr;
  int width = 0;
  int height = 0;
};

// A logo that cannot be decoded or uploaded stays 0 x 0, without a message.
Logo LoadLogo(std::span<const unsigned char> png, IWindowHost& host) {
  Logo logo;
  int width = 0, height = 0, channels = 0;
  unsigned char* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width,
                                                &height, &channels, 4);
  if (pixels == nullptr) return logo;
  if (auto texture = host.CreateTexture(pixels, width, height)) {
    logo = {*texture, width, height};
  }
  stbi_image_free(pixels);
  return logo;
}

// Tears down what start-up set up, in reverse order, on every path out of RunLauncher.
class Teardown {
 public:
  explicit Teardown(IWindowHost& host) : host_(host) {}
  ~Teardown() { Run(); }
  void Run() {
    if (context_) {
      if (logo_texture_) host_.DestroyTexture(logo_texture_);
      host_.ShutdownBackends();
      ImGui::DestroyContext();
    }
    context_ = false;
    host_.Destroy();
  }
  void ContextCreated() { context_ = true; }
  void LogoUploaded(ImTextureID texture) { logo_texture_ = texture; }

 private:
  IWindowHost& host_;
  bool context_ = false;
  ImTextureID logo_texture_ = nullptr;
};

}  // namespace

StepList GetSteps(const LaunchOptions& options, ProgressBar& progress_bar) {
  Logger logger = CreateLogger("main(GetSteps())");
  StepList steps;
  if (options.uninstall) {
    logger->info("Uninstalling Zelk");
    steps.push_back(std::make_unique<UninstallZelkStep>(progress_bar));
    return steps;
  }
  steps.push_back(std::make_unique<InstallStep>());
  steps.push_back(std::make_unique<SelfUpdateStep>(!options.updated, progress_bar));
  steps.push_back(std::make_unique<UpdateZelkStep>(progress_bar, options.repair));
  steps.push_back(std::make_unique<LaunchZelkStep>());
  return steps;
}

int RunLauncher(const std::vector<std::string>& arguments, IWindowHost& host,
                const IResourceProvider& resources, StepListFactory make_steps) {
  Logger logger = CreateLogger("main");
  logger->info("Starting ZelkGoLauncher");

  LaunchOptions options;
  if (!ParseCommandLine(arguments, options)) {
    logger->error("Failed parsing cmd line");
    return 1;
  }
  SilentMode = options.silent;
  SkipAutoProxy = options.skip_auto_proxy;

  Teardown teardown(host);
  if (!host.Create(kWindowWidth, kWindowHeight, "Zelk")) return 1;

  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  teardown.ContextCreated();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  ApplyLauncherStyle(ImGui::GetStyle());
  if (!host.InitBackends()) return 1;

  const auto font = resources.Find(ResourceId::Font);
  if (!font) {
    logger->error("Failed loading font");
    return 1;
  }
  ImFontConfig font_config;
  font_config.FontDataOwnedByAtlas = false;
  io.Fonts->AddFontFromMemoryTTF(const_cast<unsigned char*>(font->data()),
                                 static_cast<int>(font->size()), kFontSize, &font_config);

  const auto logo_png = resources.Find(ResourceId::Logo);
  if (!logo_png) {
    logger->error("Failed loading icon");
    return 1;
  }
  const Logo logo = LoadLogo(*logo_png, host);
  if (logo.texture) teardown.LogoUploaded(logo.texture);

  const WindowRect rect = host.Rect();
  ProgressBar progress_bar(static_cast<float>(rect.width), static_cast<float>(rect.height));
  StepList steps = make_steps(options, progress_bar);

  size_t current = 0;
  bool done = steps.empty();
  bool report = true;
  int exit_code = 0;
  if (!done) steps[current]->Start();

  float previous_clock = 0;
  while (!done) {
    const float dt = static_cast<float>(ProcessClockMs()) / 1000.0f - previous_clock;
    previous_clock = static_cast<float>(ProcessClockMs()) / 1000.0f;

    if (host.MessagePending()) {
      host.DispatchMessages();
      if (host.CloseRequested()) break;
      continue;
    }

    host.NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0), ImGuiCond_Always, ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize, ImGuiCond_Always);
    ImGui::Begin("Zelk", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse);
    ImGui::Image(logo.texture, ImVec2(static_cast<float>(logo.width), static_cast<float>(logo.height)),
                 ImVec2(0, 0), ImVec2(1, 1), ImVec4(1, 1, 1, 1), ImVec4(0, 0, 0, 0));

    switch (steps[current]->Update(dt)) {
      case Done:
        if (++current < steps.size()) {
          steps[current]->Start();
        } else {
          done = true;
        }
        break;
      case Quit:
        done = true;
        break;
      case QuitWithError:
        done = true;
        exit_code = 1;
        break;
      case QuitWithoutReport:
        done = true;
        report = false;
        break;
      default:
        break;
    }

    ImGui::End();
    ImGui::Render();
    host.Present(kWindowBackground);
    // A close request handled while the frame was paced ends the run like one handled above.
    if (host.CloseRequested()) break;
  }

  // Every ending but QuitWithoutReport reports every step, started or not, before the window goes.
  if (report) SendStepRecords(steps);

  teardown.Run();
  // Steps go first to last, before the logger.
  for (auto& step : steps) step.reset();
  return exit_code;
}
