#pragma once
// The 3D window "Kestrel: 3D surface matching" and its GLUT handlers: display, reshape, mouse
// rotation and zoom (drag or wheel), and the idle step that runs the panel's actions. Frames
// are drawn only when something changed: input, a resize, an action's progress or its end.

#include "app/gl/session.h"

namespace kestrel::app {

// Creates the 620 x 620 window at (50, 50) (RGB, double buffer, depth), registers its handlers
// and lights. Leaves it current.
void create_main_window(GlSession& s);

void on_display();
void on_reshape(int width, int height);
void on_mouse(int button, int state, int x, int y);
void on_motion(int x, int y);
// One wheel notch zooms like a 10-pixel zoom drag; up brings the scene closer.
void on_wheel(int wheel, int direction, int x, int y);
// Runs what the panel asked for (derived run parameters refreshed first), then asks both
// windows for a frame; the next call, once the input queued meanwhile is dropped, unregisters
// itself, so an idle session sleeps in GLUT's event wait.
void on_idle();
// Registers on_idle: the panel calls it when a control asked for an action.
void request_idle_step();

// Draws the 3D window (and shows the panel's last frame) at once, from inside an action. Frames
// closer together than the screen can show are skipped, except the first of an action.
void repaint_during_action(GlSession& s);
// "Fit view": centres the view on both models and zooms so that they fit the window whole.
void fit_view_to_models(GlSession& s);

// The next repaint_during_action draws whatever time has passed.
void reset_repaint_throttle();

}  // namespace kestrel::app
