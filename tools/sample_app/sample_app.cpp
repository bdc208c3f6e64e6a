// Zelk.exe of the demo: a small window that shows which version the launcher installed. It reads
// version.txt from its working folder (the application folder, where the launcher starts it) and
// stays until it is closed, or for ZELK_SAMPLE_APP_SECONDS seconds when that is set.
#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>
#include <imgui.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

std::string InstalledVersion() {
  std::ifstream file("version.txt");
  std::string line;
  std::getline(file, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line.empty() ? "unknown" : line;
}

void CentredText(const char* text) {
  ImGui::SetCursorPosX((ImGui::GetWindowWidth() - ImGui::CalcTextSize(text).x) / 2);
  ImGui::TextUnformatted(text);
}

}  // namespace

int main() {
  double lifetime = 0;
  if (const char* seconds = std::getenv("ZELK_SAMPLE_APP_SECONDS")) lifetime = std::atof(seconds);
  if (!glfwInit()) return 1;
  glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
  glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
  glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
  glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
  GLFWwindow* window = glfwCreateWindow(640, 360, "Zelk", nullptr, nullptr);
  if (window == nullptr) {
    glfwTerminate();
    return 1;
  }
  // Near the top left corner, clear of the launcher's window in the middle of the screen.
  glfwSetWindowPos(window, 40, 40);
  glfwShowWindow(window);
  glfwMakeContextCurrent(window);
  glfwSwapInterval(1);

  IMGUI_CHECKVERSION();
  ImGui::CreateContext();
  ImGuiIO& io = ImGui::GetIO();
  io.IniFilename = nullptr;
  ImFont* body = nullptr;
  ImFont* title = nullptr;
  if (std::filesystem::exists(ZELK_SAMPLE_FONT)) {
    body = io.Fonts->AddFontFromFileTTF(ZELK_SAMPLE_FONT, 20.0f);
    title = io.Fonts->AddFontFromFileTTF(ZELK_SAMPLE_FONT, 96.0f);
  }
  ImGui::StyleColorsDark();
  ImGui_ImplGlfw_InitForOpenGL(window, true);
  ImGui_ImplOpenGL3_Init("#version 130");

  const std::string version = "Version " + InstalledVersion();
  const auto started = std::chrono::steady_clock::now();
  bool quit = false;
  while (!glfwWindowShouldClose(window) && !quit) {
    // At most about 60 frames a second, also where the swap does not wait (Xvfb).
    glfwWaitEventsTimeout(1.0 / 60);
    const double elapsed =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (lifetime > 0 && elapsed > lifetime) break;

    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(io.DisplaySize);
    ImGui::Begin("Zelk", nullptr,
                 ImGuiWindowFlags_NoDecoration | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoSavedSettings | ImGuiWindowFlags_NoBringToFrontOnFocus);
    ImGui::Dummy(ImVec2(0, 60));
    if (title != nullptr) ImGui::PushFont(title);
    CentredText("Zelk");
    if (title != nullptr) ImGui::PopFont();
    if (body != nullptr) ImGui::PushFont(body);
    CentredText(version.c_str());
    CentredText("Installed and started by the Zelk launcher");
    ImGui::SetCursorPos(ImVec2(io.DisplaySize.x / 2 - 60, io.DisplaySize.y - 70));
    quit = ImGui::Button("Quit", ImVec2(120, 36));
    if (body != nullptr) ImGui::PopFont();
    ImGui::End();

    ImGui::Render();
    int width = 0, height = 0;
    glfwGetFramebufferSize(window, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(0.08f, 0.09f, 0.12f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window);
  }

  ImGui_ImplOpenGL3_Shutdown();
  ImGui_ImplGlfw_Shutdown();
  ImGui::DestroyContext();
  glfwDestroyWindow(window);
  glfwTerminate();
  return 0;
}
