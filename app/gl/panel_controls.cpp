#include "app/gl/panel_controls.h"

#include <GL/freeglut.h>
#include <imgui.h>

#include <algorithm>
#include <filesystem>
#include <system_error>

#include "app/gl/model_files.h"
#include "app/gl/panel_fields.h"
#include "app/gl/window.h"
#include "app/messages.h"

namespace kestrel::app {

namespace {

constexpr float kListWidth = 180;
constexpr float kButtonWidth = 150;
constexpr float kFramePad = 6;
constexpr int kListRows = 6;

// Right edge of everything drawn so far (window coordinates), for sizing the window.
float& right_edge() {
  static float x = 0;
  return x;
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

bool idle(const GlSession& s) {
  return !s.busy && s.pending == PanelAction::kNone;
}

void file_list(GlSession& s, std::vector<WidgetRect>& rects, const char* id, int& current,
               PanelAction action) {
  const float height = ImGui::GetTextLineHeightWithSpacing() * kListRows + 4;
  if (!ImGui::BeginListBox(id, ImVec2(kListWidth, height))) return;
  for (int i = 0; i < static_cast<int>(s.model_files.size()); ++i) {
    const std::string& name = s.model_files[static_cast<size_t>(i)];
    ImGui::PushID(i);
    if (ImGui::Selectable(name.c_str(), current == i) && idle(s)) {
      current = i;
      s.pending = action;
      s.pending_file = list_file_path(s, name);
    }
    if (ImGui::IsItemVisible()) note_rect(rects, std::string(id + 2) + ":" + name);
    ImGui::PopID();
  }
  ImGui::EndListBox();
}

void button(GlSession& s, std::vector<WidgetRect>& rects, const char* label, PanelAction action) {
  if (ImGui::Button(label, ImVec2(kButtonWidth, 0)) && idle(s)) s.pending = action;
  note_rect(rects, label);
}

// The lists read anew from the folder field; a folder that cannot be read is said.
void refresh_lists(GlSession& s) {
  std::error_code ec;
  if (!std::filesystem::is_directory(s.folder, ec)) {
    tell(s.state, "Folder \"" + s.folder + "\" cannot be read; the lists are as they were");
    return;
  }
  s.model_files = list_model_files(s.folder);
  s.current_p = s.current_q = -1;
}

void folder_controls(GlSession& s, std::vector<WidgetRect>& rects) {
  static char text[512] = ".";
  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted("Folder:");
  ImGui::SameLine();
  ImGui::SetNextItemWidth(kListWidth - 60);
  ImGui::InputText("##folder", text, sizeof text, ImGuiInputTextFlags_AutoSelectAll);
  const bool entered = ImGui::IsItemDeactivatedAfterEdit();
  note_rect(rects, "folder");
  ImGui::SameLine();
  const bool clicked = ImGui::Button("Refresh");
  note_rect(rects, "Refresh");
  if (entered || clicked) {
    s.folder = text;
    refresh_lists(s);
  }
}

// "Parameters": the two specified fields and "Any pose", then every other option that changes
// a run, and the three values the window derives from them on every idle cycle.
void draw_parameters(GlSession& s, std::vector<WidgetRect>& rects) {
  core::RunParameters& p = s.state.params;
  begin_frame();
  ImGui::TextUnformatted("Parameters");
  // An overlap the user typed counts as given, also for the any-pose search.
  if (float_field(s, rects, "Overlap(0.1-1.0):", "##overlap", option_field("Overlap", "-o"),
                  p.overlap_estimation, 0.01))
    p.overlap_given = true;
  float_field(s, rects, "delta(0.0-10.0):", "##delta", option_field("delta", "--delta"), p.delta,
              0.1);
  ImGui::Checkbox("Any pose", &p.any_pose);
  note_rect(rects, "Any pose");
  float_field(s, rects, "Normal tol. (-nd):", "##normal", option_field("Normal tolerance", "-nd"),
              p.norm_diff, 0.01);
  whole_field(s, rects, "Base side (-m):", "##margin", option_field("Base side", "-m"), p.margin);
  float_field(s, rects, "Scale tol. (-w2):", "##scale", option_field("Scale tolerance", "-w2"),
              p.scale_tol, 0.01);
  float_field(s, rects, "Noise level (-no):", "##noise", option_field("Noise level", "-no"),
              p.noise_level, 0.1);
  whole_field(s, rects, "Divisor (-i):", "##divisor", option_field("Divisor", "-i"), p.isamp);
  float_field(s, rects, "Cut at x (-cut):", "##cut", option_field("Cut", "-cut"), p.cut_y, 1);
  ImGui::TextDisabled("-i and -cut act at the next load");
  ImGui::TextDisabled("Derived: stop above LCP %.3f,", static_cast<double>(p.thr));
  ImGui::TextDisabled("%d trials, bases up to %.3g", p.num_try,
                      static_cast<double>(p.base_max_len));
  end_frame();
}

// How the models are drawn: as lit points, and Q by its distance to P; "Fit view".
void draw_view_controls(GlSession& s, std::vector<WidgetRect>& rects) {
  begin_frame();
  bool points = points_drawn(s);
  if (ImGui::Checkbox("Draw points", &points)) {
    s.draw.points = points;
    s.draw.points_chosen = true;
    glutPostWindowRedisplay(s.main_window);
  }
  note_rect(rects, "Draw points");
  if (ImGui::Checkbox("Distance view", &s.draw.distances)) glutPostWindowRedisplay(s.main_window);
  note_rect(rects, "Distance view");
  if (ImGui::Button("Fit view", ImVec2(kButtonWidth, 0))) fit_view_to_models(s);
  note_rect(rects, "Fit view");
  end_frame();
}

}  // namespace

void note_rect(std::vector<WidgetRect>& rects, const std::string& name) {
  const ImVec2 lo = ImGui::GetItemRectMin(), hi = ImGui::GetItemRectMax();
  rects.push_back({name, lo.x, lo.y, hi.x - lo.x, hi.y - lo.y});
  right_edge() = std::max(right_edge(), hi.x);
}

ImVec2 draw_panel_controls(GlSession& s, std::vector<WidgetRect>& rects) {
  right_edge() = 0;
  ImGui::TextUnformatted("3D surface matching");
  draw_parameters(s, rects);

  begin_frame();
  folder_controls(s, rects);
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
  draw_view_controls(s, rects);
  button(s, rects, "Undo", PanelAction::kUndo);
  button(s, rects, "Quit", PanelAction::kQuit);

  const ImGuiStyle& style = ImGui::GetStyle();
  return ImVec2(right_edge() + style.WindowPadding.x,
                ImGui::GetCursorPosY() - style.ItemSpacing.y + style.WindowPadding.y);
}

}  // namespace kestrel::app
