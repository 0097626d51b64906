#include "app/gl/panel_controls.h"

#include <imgui.h>

#include <algorithm>

#include "app/run_options.h"

namespace kestrel::app {

namespace {

constexpr float kListWidth = 180;
constexpr float kButtonWidth = 150;
constexpr float kFieldWidth = 120;
constexpr float kFramePad = 6;
constexpr int kListRows = 6;

// Right edge of everything drawn so far (window coordinates), for sizing the window.
float& right_edge() {
  static float x = 0;
  return x;
}

void note(std::vector<WidgetRect>& rects, const std::string& name) {
  const ImVec2 lo = ImGui::GetItemRectMin(), hi = ImGui::GetItemRectMax();
  rects.push_back({name, lo.x, lo.y, hi.x - lo.x, hi.y - lo.y});
  right_edge() = std::max(right_edge(), hi.x);
}

// An embossed frame around a group of controls.
void begin_frame() {
  ImGui::Dummy(ImVec2(0, kFramePad));
  ImGui::Indent(kFramePad);
  ImGui::BeginGroup();
}

void end_frame() {
  ImGui::EndGroup();
  const ImVec2 lo = ImGui::GetItemRectMin(), hi = ImGui::GetItemRectMax();
  ImGui::Unindent(kFramePad);
  ImGui::Dummy(ImVec2(0, kFramePad));
  ImDrawList* draw = ImGui::GetWindowDrawList();
  const ImVec2 a(lo.x - kFramePad, lo.y - kFramePad), b(hi.x + kFramePad, hi.y + kFramePad);
  draw->AddRect(ImVec2(a.x + 1, a.y + 1), ImVec2(b.x + 1, b.y + 1), IM_COL32(255, 255, 255, 255));
  draw->AddRect(a, b, IM_COL32(128, 128, 128, 255));
  right_edge() = std::max(right_edge(), b.x + 1);
}

// A float field with step buttons, held within [lo, hi] whatever is typed.
// Returns whether the user changed the value in this frame.
bool spinner(std::vector<WidgetRect>& rects, const char* label, const char* id, float& value,
             float lo, float hi, float step) {
  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted(label);
  ImGui::SameLine(140);
  ImGui::SetNextItemWidth(kFieldWidth);
  const bool changed = ImGui::InputFloat(id, &value, step, step * 10, "%.3f");
  note(rects, id + 2);
  value = std::clamp(value, lo, hi);
  return changed;
}

void file_list(GlSession& s, std::vector<WidgetRect>& rects, const char* id, int& current,
               PanelAction action) {
  const float height = ImGui::GetTextLineHeightWithSpacing() * kListRows + 4;
  if (!ImGui::BeginListBox(id, ImVec2(kListWidth, height))) return;
  for (int i = 0; i < static_cast<int>(s.model_files.size()); ++i) {
    const std::string& name = s.model_files[static_cast<size_t>(i)];
    ImGui::PushID(i);
    if (ImGui::Selectable(name.c_str(), current == i) && !s.busy &&
        s.pending == PanelAction::kNone) {
      current = i;
      s.pending = action;
      s.pending_file = name;
    }
    if (ImGui::IsItemVisible()) note(rects, std::string(id + 2) + ":" + name);
    ImGui::PopID();
  }
  ImGui::EndListBox();
}

void button(GlSession& s, std::vector<WidgetRect>& rects, const char* label, PanelAction action) {
  if (ImGui::Button(label, ImVec2(kButtonWidth, 0)) && !s.busy && s.pending == PanelAction::kNone)
    s.pending = action;
  note(rects, label);
}

}  // namespace

ImVec2 draw_panel_controls(GlSession& s, std::vector<WidgetRect>& rects) {
  core::RunParameters& params = s.state.params;
  right_edge() = 0;
  ImGui::TextUnformatted("3D surface matching");

  begin_frame();
  ImGui::TextUnformatted("Parameters");
  const RunOption& overlap = run_option("-o");
  const RunOption& delta = run_option("--delta");
  // An overlap the user typed counts as given, also for the any-pose search.
  if (spinner(rects, "Overlap(0.1-1.0):", "##overlap", params.overlap_estimation, overlap.lo,
              overlap.hi, 0.01f))
    params.overlap_given = true;
  spinner(rects, "delta(0.0-10.0):", "##delta", params.delta, delta.lo, delta.hi, 0.1f);
  ImGui::Checkbox("Any pose", &params.any_pose);
  note(rects, "Any pose");
  end_frame();

  begin_frame();
  ImGui::TextUnformatted("Model P:");
  file_list(s, rects, "##P", s.current_p, PanelAction::kLoadP);
  ImGui::TextUnformatted("Model Q:");
  file_list(s, rects, "##Q", s.current_q, PanelAction::kLoadQ);
  end_frame();

  begin_frame();
  ImGui::BeginGroup();
  button(s, rects, "Start Kestrel", PanelAction::kStartKestrel);
  button(s, rects, "Random position", PanelAction::kRandomPosition);
  ImGui::EndGroup();
  ImGui::SameLine();
  ImGui::BeginGroup();
  button(s, rects, "Start ICP", PanelAction::kStartIcp);
  button(s, rects, "Add noise", PanelAction::kAddNoise);
  ImGui::EndGroup();
  end_frame();

  button(s, rects, "Start basic RANSAC", PanelAction::kStartRansac);
  button(s, rects, "Quit", PanelAction::kQuit);

  const ImGuiStyle& style = ImGui::GetStyle();
  return ImVec2(right_edge() + style.WindowPadding.x,
                ImGui::GetCursorPosY() - style.ItemSpacing.y + style.WindowPadding.y);
}

}  // namespace kestrel::app
