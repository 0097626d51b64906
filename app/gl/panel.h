#pragma once
// The control panel: a second top-level GLUT window titled "Kestrel" at (700, 50), drawn with
// Dear ImGui and sized to its controls.

#include "app/gl/session.h"

namespace kestrel::app {

// Creates the panel window, the ImGui context and its GLUT/OpenGL2 back ends, and reads the file
// lists from the working directory. Leaves the panel window current.
void build_panel(GlSession& s);

// Shows the panel's last frame again without starting a new ImGui frame: the repaint used
// while an action holds the GUI thread.
void redraw_panel_last_frame(GlSession& s);

}  // namespace kestrel::app
