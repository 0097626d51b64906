#pragma once
// The controls of the panel, top to bottom: the title text, "Parameters" (overlap and delta),
// the two file lists, the four action buttons in two columns, "Start basic RANSAC" and "Quit".

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

// Lays the controls out in the current ImGui frame. The two fields edit the run parameters
// directly; a click on a file or a button only sets s.pending (nothing runs inside the frame).
// Returns the size the window needs to show every control (pixels).
ImVec2 draw_panel_controls(GlSession& s, std::vector<WidgetRect>& rects);

}  // namespace kestrel::app
