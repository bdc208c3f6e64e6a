#include "support/fake_window_host.h"

bool FakeWindowHost::Create(int width, int height, const char*) {
  rect = {(1024 - width) / 2, (768 - height) / 2, width, height};
  return create_succeeds;
}

bool FakeWindowHost::MessagePending() {
  return next_message_ < message_before_frame.size() &&
         message_before_frame[next_message_] == frames;
}

void FakeWindowHost::DispatchMessages() { ++next_message_; }

void FakeWindowHost::NewFrame() {
  ImGuiIO& io = ImGui::GetIO();
  io.DisplaySize = ImVec2(static_cast<float>(rect.width), static_cast<float>(rect.height));
  io.DeltaTime = 1.0f / 60.0f;
  if (!io.Fonts->IsBuilt()) {
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
  }
}

void FakeWindowHost::Present(const ImVec4&) {
  if (frames == close_after_frame) close_requested = true;
  ++frames;
}

std::optional<ImTextureID> FakeWindowHost::CreateTexture(const unsigned char*, int width,
                                                         int height) {
  if (!texture_succeeds) return std::nullopt;
  created_texture_width = width;
  created_texture_height = height;
  return reinterpret_cast<ImTextureID>(static_cast<intptr_t>(1));
}
