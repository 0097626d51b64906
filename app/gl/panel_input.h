#pragma once
// Input of the panel window. freeglut hands over a quick press and release in one pass, and
// ImGui 1.86's GLUT backend only records the button state, so a click would be lost between two
// frames. The panel's callbacks therefore queue every transition, and each frame applies the
// queue up to and including one button or key transition. Every event queued asks the panel for
// a frame; nothing else redraws it.

namespace kestrel::app {

// Installs the queuing callbacks on the current window (the panel) and ImGui's reshape handler.
void install_panel_input();
// Applies queued input to ImGui for one frame. Call right before the frame begins.
void apply_panel_input();
// True while queued input waits for a frame, or for two frames after the last applied input:
// ImGui draws some answers a frame late (a step button changes the value drawn before it).
bool panel_input_waiting();
// Forgets queued input and releases every mouse button and key in ImGui.
void clear_panel_input();

}  // namespace kestrel::app
