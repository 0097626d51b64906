#include "app/gl/panel_fields.h"

#include <imgui.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "app/messages.h"
#include "app/run_options.h"

namespace kestrel::app {

namespace {

constexpr float kLabelColumn = 150;
constexpr float kFieldWidth = 120;

// The text of a field between frames: shown from the value unless the user is typing in it.
struct FieldBuffer {
  char text[64] = "";
  bool editing = false;
};

FieldBuffer& buffer(const char* id) {
  static std::map<std::string, FieldBuffer> buffers;
  return buffers[id];
}

// Applies `text` to `value`, telling the message, if any, on the status line.
bool apply(GlSession& s, const FieldSpec& spec, const std::string& text, double& value) {
  const FieldEdit edit = apply_field_text(spec, text, value);
  if (!edit.message.empty()) tell(s.state, edit.message);
  return edit.changed;
}

}  // namespace

bool number_field(GlSession& s, std::vector<WidgetRect>& rects, const char* label, const char* id,
                  const FieldSpec& spec, double& value, double step) {
  FieldBuffer& b = buffer(id);
  if (!b.editing) {
    const std::string shown = field_text(spec, value);
    std::snprintf(b.text, sizeof b.text, "%s", shown.c_str());
  }
  ImGui::AlignTextToFramePadding();
  ImGui::TextUnformatted(label);
  ImGui::SameLine(kLabelColumn);
  ImGui::BeginGroup();
  const float h = ImGui::GetFrameHeight();
  const float inner = ImGui::GetStyle().ItemInnerSpacing.x;
  ImGui::SetNextItemWidth(std::max(1.0f, kFieldWidth - 2 * (h + inner)));
  ImGui::InputText(id, b.text, sizeof b.text,
                   ImGuiInputTextFlags_AutoSelectAll | ImGuiInputTextFlags_CharsNoBlank);
  b.editing = ImGui::IsItemActive();
  bool changed = false;
  if (ImGui::IsItemDeactivatedAfterEdit()) changed = apply(s, spec, b.text, value);
  ImGui::PushID(id);
  ImGui::SameLine(0, inner);
  if (ImGui::Button("-", ImVec2(h, h)))
    changed |= apply(s, spec, field_text(spec, value - step), value);
  ImGui::SameLine(0, inner);
  if (ImGui::Button("+", ImVec2(h, h)))
    changed |= apply(s, spec, field_text(spec, value + step), value);
  ImGui::PopID();
  ImGui::EndGroup();
  note_rect(rects, id + 2);
  return changed;
}

bool float_field(GlSession& s, std::vector<WidgetRect>& rects, const char* label, const char* id,
                 const FieldSpec& spec, float& value, double step) {
  double v = value;
  if (!number_field(s, rects, label, id, spec, v, step)) return false;
  value = static_cast<float>(v);
  return true;
}

FieldSpec option_field(const std::string& label, const std::string& name) {
  const RunOption& o = run_option(name);
  FieldSpec spec;
  spec.label = label;
  const bool panel_limits = o.lo <= o.hi;
  spec.lo = panel_limits ? o.lo : o.range.lo;
  spec.hi = panel_limits ? o.hi : o.range.hi;
  spec.whole = o.kind == OptionKind::kInt;
  return spec;
}

}  // namespace kestrel::app
