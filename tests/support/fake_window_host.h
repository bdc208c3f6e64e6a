// A window host without a window: frames are built by Dear ImGui and thrown away, so the frame
// loop can be driven from a test. Messages and close requests are scripted.
#pragma once

#include <functional>
#include <vector>

#include "platform/window_host.h"

class FakeWindowHost final : public IWindowHost {
 public:
  bool Create(int width, int height, const char*) override;
  WindowRect Rect() const override { return rect; }
  bool InitBackends() override { return true; }
  void ShutdownBackends() override { ++shutdowns; }
  void Destroy() override {}
  bool MessagePending() override;
  void DispatchMessages() override;
  bool CloseRequested() const override { return close_requested; }
  void NewFrame() override;
  void Present(const ImVec4&) override;
  std::optional<ImTextureID> CreateTexture(const unsigned char*, int width, int height) override;
  void DestroyTexture(ImTextureID) override {}

  bool create_succeeds = true;
  bool texture_succeeds = true;
  WindowRect rect;
  int frames = 0;
  int shutdowns = 0;
  bool close_requested = false;
  // Frame numbers (counted from 0) before which a message pass happens.
  std::vector<int> message_before_frame;
  // Frame number after whose present a close request arrives; -1 for none.
  int close_after_frame = -1;
  int created_texture_width = 0;
  int created_texture_height = 0;

 private:
  size_t next_message_ = 0;
};
