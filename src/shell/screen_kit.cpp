#include "shell/screen_kit.h"

#include <cmath>

namespace {
const ImVec2 kButtonSize(100, 30);
}

void DrawCentredText(std::string_view text) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  const float text_width = ImGui::CalcTextSize(begin, end, false, -1.0f).x;
  ImGui::SetCursorPosX(ImGui::GetWindowSize().x * 0.5f - text_width * 0.5f);
  ImGui::TextUnformatted(begin, end);
}

bool DrawBottomButton(const char* label) {
  const ImVec2 window = ImGui::GetWindowSize();
  ImGui::SetCursorPosY(window.y - 75);
  ImGui::SetCursorPosX(window.x * 0.5f - 50);
  return ImGui::Button(label, kButtonSize);
}

ButtonPairClicks DrawButtonPair(const char* left_label, const char* right_label) {
  const ImVec2 window = ImGui::GetWindowSize();
  ButtonPairClicks clicks;
  ImGui::SetCursorPosY(window.y - 75);
  ImGui::SetCursorPosX(100);
  clicks.left = ImGui::Button(left_label, kButtonSize);
  ImGui::SameLine(window.x - 200, -1.0f);
  clicks.right = ImGui::Button(right_label, kButtonSize);
  return clicks;
}

bool ProgressBar::Advance(int percent, float dt) {
  elapsed += dt;
  if (percent <= 0) return false;
  const float target = x + (static_cast<float>(percent) / 100.0f) * width;
  // Exponential smoothing towards a target that moves in a straight line from the previous
  // target; the decay uses the bar's whole elapsed time, so the lag shrinks as time goes on.
  // At elapsed 0 the velocity is 0/0 or x/0: the fill then starts at x.
  const float k = elapsed * 0.05f;
  const float velocity = (target - previous_target) / k;
  const float e = std::exp(-0.05f * elapsed);
  float new_end = e * (shown_end - previous_target + velocity) + (target - velocity);
  if (std::isnan(new_end)) new_end = 0;
  shown_end = x > new_end ? x : new_end;
  previous_target = target;
  return true;
}

void ProgressBar::Draw(int percent, float dt) {
  ImDrawList* draw_list = ImGui::GetWindowDrawList();
  const bool fill = Advance(percent, dt);
  draw_list->AddRectFilled(ImVec2(x, y), ImVec2(x + width, y + height),
                           ImGui::ColorConvertFloat4ToU32(background_colour), rounding);
  if (fill) {
    draw_list->AddRectFilled(ImVec2(x, y), ImVec2(shown_end, y + height),
                             ImGui::ColorConvertFloat4ToU32(fill_colour), rounding);
  }
}
