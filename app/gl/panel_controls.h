#pragma once
// The controls of the panel, top to bottom: the title text, "Parameters" (overlap, delta, any
// pose), the other run options with the values the window derives, the folder of the file lists
// with "Refresh", the two file lists, the four action buttons in two columns, "Start basic
// RANSAC", the view (points, distance view, "Fit view"), "Undo" and "Quit".

#include <string>
#include <vector>

#include "app/gl/session.h"
#include "imgui.h"

namespace kestrel::app {

// A control's rectangle in panel-window pixels, for tests that click it.
struct WidgetRect {
  std::string name;
  float x = 0, y = 0, w = 0, h = 0;
};

// Notes the last item's rectangle under `name`.
void note_rect(std::vector<WidgetRect>& rects, const std::string& name);

// Lays the controls out in the current ImGui frame. The fields edit the run parameters
// directly; a click on a file or an action button only sets s.pending (nothing long runs inside
// the frame). Returns the size the window needs to show every control (pixels).
ImVec2 draw_panel_controls(GlSession& s, std::vector<WidgetRect>& rects);

}  // namespace kestrel::app
