// Pieces every step screen is made of: centred text, the bottom button, the button pair and the
// smoothed progress bar. They draw into the current full-window ImGui window.
#pragma once

#include <imgui.h>

#include <string_view>

// One line centred horizontally at the cursor's height, drawn literally ("%" shows as "%").
void DrawCentredText(std::string_view text);

// A 100 x 30 button centred at y = window height - 75; true in the frame it is clicked.
bool DrawBottomButton(const char* label);

struct ButtonPairClicks {
  bool left = false;
  bool right = false;
};
// Two 100 x 30 buttons at y = window height - 75: the left at x = 100, the right at
// x = window width - 200.
ButtonPairClicks DrawButtonPair(const char* left_label, const char* right_label);

// The one progress bar of a run. Its smoothing state carries over from step to step.
class ProgressBar {
 public:
  ProgressBar(float window_width, float window_height)
      : x(30), y(window_height - 75), width(window_width - 60), shown_end(30), previous_target(30) {}

  // Draws the bar for `percent` (normally 0..100, not clamped) after a frame of `dt` seconds.
  void Draw(int percent, float dt);
  // The smoothing alone: advances the state as Draw does and returns whether a fill is drawn
  // (percent above 0), its right end then being `shown_end`.
  bool Advance(int percent, float dt);

  float x;
  float y;
  float width;
  float height = 15;
  ImVec4 fill_colour{0.0f, 77.0f / 255.0f, 64.0f / 255.0f, 1.0f};
  ImVec4 background_colour{0.1137255f, 0.1137255f, 0.1137255f, 1.0f};
  float rounding = 3;
  float elapsed = 0;
  float shown_end;
  float previous_target;
};
