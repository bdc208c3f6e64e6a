// Drives a step in-process, frame by frame, in a Dear ImGui context without a window: the
// full-window GUI window of the launcher is opened around each Update as the frame loop does.
#pragma once

#include <imgui.h>

#include <cfloat>

#include "shell/step.h"

class StepFrames {
 public:
  StepFrames() {
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.IniFilename = nullptr;
    io.DisplaySize = ImVec2(500, 200);
    io.DeltaTime = 1.0f / 60.0f;
    unsigned char* pixels = nullptr;
    int width = 0, height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
  }
  ~StepFrames() { ImGui::DestroyContext(); }
  StepFrames(const StepFrames&) = delete;
  StepFrames& operator=(const StepFrames&) = delete;

  // One frame of `dt` seconds; the status the step returned.
  int Run(IStep& step, float dt = 1.0f / 60.0f) {
    ImGui::NewFrame();
    ImGui::SetNextWindowPos(ImVec2(0, 0));
    ImGui::SetNextWindowSize(ImGui::GetIO().DisplaySize);
    ImGui::Begin("Zelk", nullptr, ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize);
    const int status = step.Update(dt);
    ImGui::End();
    ImGui::EndFrame();
    return status;
  }

  // A left click at window point (x, y) as Dear ImGui sees one: a frame with the pointer there,
  // one with the button down, one with it released (where a button reports the click). The
  // status of the first frame that did not return Running, else of the release frame.
  int Click(IStep& step, float x, float y) {
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = ImVec2(x, y);
    int status = Running;
    for (const bool down : {false, true, false}) {
      io.MouseDown[0] = down;
      status = Run(step);
      if (status != Running) break;
    }
    io.MouseDown[0] = false;
    io.MousePos = ImVec2(-FLT_MAX, -FLT_MAX);
    return status;
  }
};
