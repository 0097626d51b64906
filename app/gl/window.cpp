#include "app/gl/window.h"

#include <GL/freeglut.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <thread>

#include "app/command_line.h"
#include "app/gl/keys.h"
#include "app/gl/panel.h"
#include "app/gl/panel_actions.h"
#include "app/gl/scene.h"
#include "app/view_fit.h"
#include "core/clock.h"

namespace kestrel::app {

namespace {

// Frames drawn from inside an action: at most about 30 a second, and never more than a third of
// the action's time (a software renderer can take tens of milliseconds per frame).
constexpr int64_t kMinFrameIntervalMs = 33;
constexpr int64_t kFrameCostFactor = 2;
// One wheel notch zooms as far as a zoom drag of this many pixels.
constexpr int kWheelNotchPixels = 10;
// GLUT reports the wheel as buttons 3 (up) and 4 (down) when no wheel handler takes it.
constexpr int kWheelUpButton = 3;
constexpr int kWheelDownButton = 4;

// Frames still owed to the last resize: with a software renderer the first frame after a resize
// can still land in a buffer of the old size (seen under Xvfb); the second fills the new one.
int& frames_after_reshape() {
  static int n = 0;
  return n;
}

int64_t& next_repaint_ms() {
  static int64_t t = -1;
  return t;
}

// Wheel up brings the scene closer, as dragging down does.
void zoom_by_notches(int notches) {
  session().view.zoom += static_cast<float>(notches * kWheelNotchPixels) * 0.01f;
  glutPostRedisplay();
}

void set_light(GLenum light, float level, float z) {
  const GLfloat ambient[4] = {level, level, level, 1};
  const GLfloat position[4] = {0, 0, z, 0};
  glLightfv(light, GL_AMBIENT, ambient);
  glLightfv(light, GL_DIFFUSE, ambient);
  glLightfv(light, GL_POSITION, position);
  glEnable(light);
}

}  // namespace

void create_main_window(GlSession& s) {
  glutInitDisplayMode(GLUT_RGB | GLUT_DOUBLE | GLUT_DEPTH);
  glutInitWindowPosition(50, 50);
  glutInitWindowSize(620, 620);
  s.main_window = glutCreateWindow("Kestrel: 3D surface matching");
  glutDisplayFunc(on_display);
  glutReshapeFunc(on_reshape);
  glutKeyboardFunc(on_key);
  glutMotionFunc(on_motion);
  glutMouseFunc(on_mouse);
  glutMouseWheelFunc(on_wheel);

  glEnable(GL_LIGHTING);
  glEnable(GL_NORMALIZE);
  // Directional lights fixed in eye space: one from the viewer, a weaker one from behind.
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  set_light(GL_LIGHT0, 0.5f, 1);
  set_light(GL_LIGHT1, 0.3f, -1);
  glEnable(GL_DEPTH_TEST);
}

void on_display() {
  GlSession& s = session();
  const ViewState& v = s.view;
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glFrustum(-v.aspect * 0.08, v.aspect * 0.08, -0.08, 0.08, 0.1, 200);
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glTranslatef(0, 0, -10.2f);
  glRotatef(v.rot_y, 0, 1, 0);
  glRotatef(v.rot_x, 1, 0, 0);
  const auto scale = static_cast<float>(static_cast<double>(v.zoom) * 0.07);
  glScalef(scale, scale, scale);
  glTranslated(-v.centre[0], -v.centre[1], -v.centre[2]);
  glEnable(GL_LIGHTING);
  const int64_t start = core::tick_ms();
  const std::clock_t cpu_start = std::clock();
  draw_scene(s);
  glutSwapBuffers();
  if (s.print_widget_rects) {
    // Wall time, and CPU time of every thread (the software renderer's too): the second hardly
    // depends on what else the machine runs.
    const auto cpu_ms = static_cast<long long>((std::clock() - cpu_start) * 1000 / CLOCKS_PER_SEC);
    std::printf(s.state.progress_text.empty() ? "frame\t3d\t%lld ms\t%lld ms cpu\n"
                                              : "frame\t3d\tprogress\t%lld ms\t%lld ms cpu\n",
                static_cast<long long>(core::tick_ms() - start), cpu_ms);
  }
  int& owed = frames_after_reshape();
  if (owed > 0 && --owed > 0) glutPostWindowRedisplay(s.main_window);
}

void on_reshape(int width, int height) {
  // A window shrunk to no height keeps a finite aspect.
  session().view.aspect = static_cast<float>(width) / static_cast<float>(height > 0 ? height : 1);
  glViewport(0, 0, width, height);
  frames_after_reshape() = 2;
  glutPostRedisplay();
}

void on_mouse(int button, int state, int x, int y) {
  ViewState& v = session().view;
  if (session().drop_input) return;
  if (button == kWheelUpButton || button == kWheelDownButton) {
    if (state == GLUT_DOWN) zoom_by_notches(button == kWheelUpButton ? 1 : -1);
    return;
  }
  if ((button == GLUT_LEFT_BUTTON || button == GLUT_RIGHT_BUTTON) && state == GLUT_DOWN) {
    v.last_x = x;
    v.last_y = y;
    if (button == GLUT_LEFT_BUTTON) v.left_drag = true;
    if (button == GLUT_RIGHT_BUTTON) v.right_drag = true;
  } else {
    v.left_drag = v.right_drag = false;
  }
}

void on_motion(int x, int y) {
  ViewState& v = session().view;
  if (session().drop_input) return;
  if (v.left_drag) {
    v.rot_x += static_cast<float>(y - v.last_y);
    v.rot_y += static_cast<float>(x - v.last_x);
  } else {
    v.zoom += static_cast<float>(y - v.last_y) * 0.01f;
  }
  v.last_x = x;
  v.last_y = y;
  glutPostRedisplay();
}

void on_wheel(int, int direction, int, int) {
  if (session().drop_input) return;
  zoom_by_notches(direction > 0 ? 1 : -1);
}

void on_idle() {
  GlSession& s = session();
  // Everything queued while the last action ran has been delivered (and dropped) by now.
  if (s.drop_input && s.print_widget_rects) {
    std::printf("input-ready\n");  // a test driving the window may click again
    std::fflush(stdout);
  }
  s.drop_input = false;
  if (s.pending == PanelAction::kNone && !s.startup_loads.empty()) {
    s.pending = s.startup_loads.front().first;
    s.pending_file = s.startup_loads.front().second;
    s.startup_loads.erase(s.startup_loads.begin());
  }
  if (s.pending == PanelAction::kNone) {
    glutIdleFunc(nullptr);  // nothing to do: GLUT sleeps until the next event
    return;
  }
  glutSetWindow(s.main_window);
  refresh_parameters(s.state.params);
  run_pending_action(s);
  // The action's outcome is drawn at once, ahead of the panel's next frame (it may also fall
  // between two throttled repaints).
  glutSetWindow(s.main_window);
  on_display();
  if (s.panel_window != 0) glutPostWindowRedisplay(s.panel_window);
}

void request_idle_step() {
  glutIdleFunc(on_idle);
}

void repaint_during_action(GlSession& s) {
  const int64_t start = core::tick_ms();
  int64_t& next = next_repaint_ms();
  if (next >= 0 && start < next) return;
  const int previous = glutGetWindow();
  glutSetWindow(s.main_window);
  on_display();
  redraw_panel_last_frame(s);
  if (previous != 0) glutSetWindow(previous);
  const int64_t end = core::tick_ms();
  next = std::max(start + kMinFrameIntervalMs, end + (end - start) * kFrameCostFactor);
}

void fit_view_to_models(GlSession& s) {
  const ViewFit fit = fit_view(s.state.models.full_p, s.state.models.full_q, s.view.aspect);
  for (int k = 0; k < 3; ++k) s.view.centre[k] = fit.centre[k];
  s.view.zoom = fit.zoom;
  glutPostWindowRedisplay(s.main_window);
}

void reset_repaint_throttle() {
  next_repaint_ms() = -1;
}

}  // namespace kestrel::app
