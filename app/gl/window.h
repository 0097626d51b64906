#pragma once
// The 3D window "Kestrel: 3D surface matching" and its GLUT handlers: display, reshape, mouse
// rotation and zoom, and the idle step that keeps the scene and derived parameters fresh.

#include "app/gl/session.h"

namespace kestrel::app {

// Creates the 620 x 620 window at (50, 50) (RGB, double buffer, depth), registers its handlers
// and lights. Leaves it current.
void create_main_window(GlSession& s);

void on_display();
void on_reshape(int width, int height);
void on_mouse(int button, int state, int x, int y);
void on_motion(int x, int y);
// Redraws both windows, refreshes the derived run parameters and runs what the panel asked for.
void on_idle();

// Draws the 3D window (and shows the panel's last frame) at once, from inside an action. Frames
// closer together than the screen can show are skipped, except the first of an action.
void repaint_during_action(GlSession& s);
// The next repaint_during_action draws whatever time has passed.
void reset_repaint_throttle();

}  // namespace kestrel::app
