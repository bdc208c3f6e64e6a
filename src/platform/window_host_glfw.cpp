// GLFW window with an OpenGL 3 context on X11, drawn with Dear ImGui's GLFW and OpenGL 3
// backends.
//
// Messages: Windows hands the loop one message at a time; GLFW handles everything that is
// queued in one glfwPollEvents. MessagePending asks X whether anything is queued, so a pass
// that finds events handles them all and draws no frame, and a pass that finds none draws. The
// loop thus keeps "a pass either handles input or draws", with a batch of events in place of a
// single message.
//
// Pacing: Present swaps with interval 1 and then waits, with glfwWaitEventsTimeout, until
// 1/60 s after the previous present. Where the swap waits for the display this costs nothing;
// where it returns at once (Xvfb, software rendering) it keeps the loop from spinning a core.
// Events that arrive during the wait are handled there, so input stays responsive.
#include "platform/window_host.h"

#define GLFW_EXPOSE_NATIVE_X11
#include <GL/gl.h>
#include <GLFW/glfw3.h>
#include <GLFW/glfw3native.h>
#include <backends/imgui_impl_glfw.h>
#include <backends/imgui_impl_opengl3.h>

#include <chrono>
#include <cstdint>

namespace {

constexpr auto kFrameInterval = std::chrono::microseconds(1'000'000 / 60);

class GlfwWindowHost final : public IWindowHost {
 public:
  ~GlfwWindowHost() override { Destroy(); }

  bool Create(int width, int height, const char* title) override {
    if (!glfwInit()) return false;
    glfw_initialised_ = true;
    glfwWindowHint(GLFW_VISIBLE, GLFW_FALSE);
    glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
    glfwWindowHint(GLFW_RESIZABLE, GLFW_FALSE);
    glfwWindowHint(GLFW_FOCUS_ON_SHOW, GLFW_TRUE);
    glfwWindowHint(GLFW_RED_BITS, 8);
    glfwWindowHint(GLFW_GREEN_BITS, 8);
    glfwWindowHint(GLFW_BLUE_BITS, 8);
    glfwWindowHint(GLFW_ALPHA_BITS, 8);
    glfwWindowHint(GLFW_SAMPLES, 0);
    glfwWindowHint(GLFW_DOUBLEBUFFER, GLFW_TRUE);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MAJOR, 3);
    glfwWindowHint(GLFW_CONTEXT_VERSION_MINOR, 0);
    window_ = glfwCreateWindow(width, height, title, nullptr, nullptr);
    if (window_ == nullptr) {
      Destroy();
      return false;
    }
    if (GLFWmonitor* monitor = glfwGetPrimaryMonitor()) {
      if (const GLFWvidmode* mode = glfwGetVideoMode(monitor)) {
        glfwSetWindowPos(window_, (mode->width - width) / 2, (mode->height - height) / 2);
      }
    }
    glfwMakeContextCurrent(window_);
    glfwSwapInterval(1);
    glfwShowWindow(window_);
    last_present_ = std::chrono::steady_clock::now();
    return true;
  }

  WindowRect Rect() const override {
    WindowRect rect;
    if (window_ != nullptr) {
      glfwGetWindowPos(window_, &rect.x, &rect.y);
      glfwGetWindowSize(window_, &rect.width, &rect.height);
    }
    return rect;
  }

  bool InitBackends() override {
    if (!ImGui_ImplGlfw_InitForOpenGL(window_, true)) return false;
    platform_backend_ = true;
    if (!ImGui_ImplOpenGL3_Init("#version 130")) return false;
    renderer_backend_ = true;
    return true;
  }

  void ShutdownBackends() override {
    if (renderer_backend_) ImGui_ImplOpenGL3_Shutdown();
    if (platform_backend_) ImGui_ImplGlfw_Shutdown();
    renderer_backend_ = platform_backend_ = false;
  }

  void Destroy() override {
    if (window_ != nullptr) glfwDestroyWindow(window_);
    window_ = nullptr;
    if (glfw_initialised_) glfwTerminate();
    glfw_initialised_ = false;
  }

  bool MessagePending() override {
    Display* display = glfwGetX11Display();
    return display != nullptr && XEventsQueued(display, QueuedAfterFlush) > 0;
  }

  void DispatchMessages() override { glfwPollEvents(); }

  bool CloseRequested() const override {
    return window_ != nullptr && glfwWindowShouldClose(window_);
  }

  void NewFrame() override {
    ImGui_ImplOpenGL3_NewFrame();
    ImGui_ImplGlfw_NewFrame();
    // The GLFW backend follows the pointer only while the window has the keyboard focus, so the
    // click that first focuses the window (or any click while the window manager is still busy
    // giving it the focus) would miss its button. The pointer over the window counts as well.
    if (!glfwGetWindowAttrib(window_, GLFW_FOCUSED) && glfwGetWindowAttrib(window_, GLFW_HOVERED)) {
      double x = 0, y = 0;
      glfwGetCursorPos(window_, &x, &y);
      ImGui::GetIO().MousePos = ImVec2(static_cast<float>(x), static_cast<float>(y));
    }
  }

  void Present(const ImVec4& clear_colour) override {
    int width = 0, height = 0;
    glfwGetFramebufferSize(window_, &width, &height);
    glViewport(0, 0, width, height);
    glClearColor(clear_colour.x, clear_colour.y, clear_colour.z, clear_colour.w);
    glClear(GL_COLOR_BUFFER_BIT);
    ImGui_ImplOpenGL3_RenderDrawData(ImGui::GetDrawData());
    glfwSwapBuffers(window_);

    const auto next_frame = last_present_ + kFrameInterval;
    for (auto now = std::chrono::steady_clock::now(); now < next_frame;
         now = std::chrono::steady_clock::now()) {
      glfwWaitEventsTimeout(std::chrono::duration<double>(next_frame - now).count());
      if (glfwWindowShouldClose(window_)) break;
    }
    last_present_ = std::chrono::steady_clock::now();
  }

  std::optional<ImTextureID> CreateTexture(const unsigned char* rgba, int width,
                                           int height) override {
    GLuint texture = 0;
    glGenTextures(1, &texture);
    if (texture == 0) return std::nullopt;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
    if (glGetError() != GL_NO_ERROR) {
      glDeleteTextures(1, &texture);
      return std::nullopt;
    }
    return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(texture));
  }

  void DestroyTexture(ImTextureID texture) override {
    const auto name = static_cast<GLuint>(reinterpret_cast<intptr_t>(texture));
    glDeleteTextures(1, &name);
  }

 private:
  GLFWwindow* window_ = nullptr;
  bool glfw_initialised_ = false;
  bool platform_backend_ = false;
  bool renderer_backend_ = false;
  std::chrono::steady_clock::time_point last_present_;
};

}  // namespace

std::unique_ptr<IWindowHost> CreateWindowHost() { return std::make_unique<GlfwWindowHost>(); }
