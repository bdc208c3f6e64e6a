// The launcher's one window and its rendering: what the frame loop needs of the host, without
// naming the windowing system or the graphics API.
#pragma once

#include <imgui.h>

#include <memory>
#include <optional>

struct WindowRect {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
};

class IWindowHost {
 public:
  virtual ~IWindowHost() = default;

  // Creates the window hidden, without title bar, frame or resize border, moves it to the centre
  // of the primary screen ((screen - size) / 2 in integer arithmetic), creates its rendering
  // context and shows it. False when either cannot be had; whatever was created is released.
  virtual bool Create(int width, int height, const char* title) = 0;
  virtual WindowRect Rect() const = 0;
  // Initialises the Dear ImGui platform and renderer backends; the ImGui context must exist.
  virtual bool InitBackends() = 0;
  // Renderer backend first, then platform backend.
  virtual void ShutdownBackends() = 0;
  virtual void Destroy() = 0;

  // True when window events wait to be handled. DispatchMessages handles what is pending.
  virtual bool MessagePending() = 0;
  virtual void DispatchMessages() = 0;
  // The user or the window manager asked the window to close (Alt+F4, a close request).
  virtual bool CloseRequested() const = 0;

  // Starts a backend frame: renderer first, then platform.
  virtual void NewFrame() = 0;
  // Clears to `clear_colour`, renders ImGui's draw data and presents; then waits out the rest of
  // the frame so that no more than 60 frames a second are drawn.
  virtual void Present(const ImVec4& clear_colour) = 0;

  // Uploads 8-bit RGBA pixels as a texture for ImGui::Image; nothing when it cannot be created.
  virtual std::optional<ImTextureID> CreateTexture(const unsigned char* rgba, int width,
                                                   int height) = 0;
  virtual void DestroyTexture(ImTextureID texture) = 0;
};

// The desktop window host of this platform.
std::unique_ptr<IWindowHost> CreateWindowHost();
