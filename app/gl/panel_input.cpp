#include "app/gl/panel_input.h"

#include <GL/freeglut.h>
#include <backends/imgui_impl_glut.h>
#include <imgui.h>

#include <deque>

#include "app/gl/session.h"

namespace kestrel::app {

namespace {

enum class Kind { kMotion, kButton, kKey, kSpecial, kWheel };

struct InputEvent {
  Kind kind = Kind::kMotion;
  int code = 0;       // GLUT button, character or special key; wheel direction
  bool down = false;  // press or release
  int x = 0, y = 0;
  int modifiers = 0;  // glutGetModifiers() when the event arrived
};

constexpr int kFramesAfterInput = 2;

std::deque<InputEvent>& queue() {
  static std::deque<InputEvent> q;
  return q;
}

int& frames_after_input() {
  static int n = 0;
  return n;
}

// Called from the panel's GLUT callbacks, so the panel is the current window.
void push(const InputEvent& e) {
  if (session().drop_input) return;  // input that arrived while an action ran
  queue().push_back(e);
  glutPostRedisplay();
}

void on_panel_mouse(int button, int state, int x, int y) {
  push({Kind::kButton, button, state == GLUT_DOWN, x, y, glutGetModifiers()});
}
void on_panel_motion(int x, int y) {
  push({Kind::kMotion, 0, false, x, y, 0});
}
// Leaving the panel moves ImGui's mouse away, so no control stays hovered.
void on_panel_entry(int state) {
  if (state == GLUT_LEFT) push({Kind::kMotion, 0, false, -100000, -100000, 0});
}
void on_panel_wheel(int, int dir, int x, int y) {
  push({Kind::kWheel, dir, false, x, y, 0});
}
void on_panel_key(unsigned char c, int x, int y) {
  push({Kind::kKey, c, true, x, y, glutGetModifiers()});
}
void on_panel_key_up(unsigned char c, int x, int y) {
  push({Kind::kKey, c, false, x, y, glutGetModifiers()});
}
void on_panel_special(int key, int x, int y) {
  push({Kind::kSpecial, key, true, x, y, glutGetModifiers()});
}
void on_panel_special_up(int key, int x, int y) {
  push({Kind::kSpecial, key, false, x, y, glutGetModifiers()});
}

void set_modifiers(ImGuiIO& io, int mods) {
  io.KeyCtrl = (mods & GLUT_ACTIVE_CTRL) != 0;
  io.KeyShift = (mods & GLUT_ACTIVE_SHIFT) != 0;
  io.KeyAlt = (mods & GLUT_ACTIVE_ALT) != 0;
}

// Character keys as the backend's key map reads them: Ctrl+letter also counts as the letter,
// and a letter counts in both cases. (The backend's own handler would call glutGetModifiers()
// outside a GLUT callback, where it is not valid.)
void set_key(ImGuiIO& io, int c, bool down) {
  io.KeysDown[c] = down;
  if (c >= 1 && c <= 26) io.KeysDown[c - 1 + 'a'] = io.KeysDown[c - 1 + 'A'] = down;
  if (c >= 'a' && c <= 'z') io.KeysDown[c - 'a' + 'A'] = down;
  if (c >= 'A' && c <= 'Z') io.KeysDown[c - 'A' + 'a'] = down;
}

// Returns true when the event changed a button or key state (one such change per frame).
bool apply(const InputEvent& e) {
  ImGuiIO& io = ImGui::GetIO();
  switch (e.kind) {
    case Kind::kMotion:
      io.MousePos = ImVec2(static_cast<float>(e.x), static_cast<float>(e.y));
      return false;
    case Kind::kWheel:
      io.MousePos = ImVec2(static_cast<float>(e.x), static_cast<float>(e.y));
      io.MouseWheel += e.code > 0 ? 1.0f : -1.0f;
      return false;
    case Kind::kButton: {
      set_modifiers(io, e.modifiers);
      ImGui_ImplGLUT_MouseFunc(e.code, e.down ? GLUT_DOWN : GLUT_UP, e.x, e.y);
      return true;
    }
    case Kind::kKey:
      set_key(io, e.code, e.down);
      if (e.down && e.code >= 32) io.AddInputCharacter(static_cast<unsigned>(e.code));
      set_modifiers(io, e.modifiers);
      return true;
    case Kind::kSpecial:
      // Special keys sit above the 256 character codes, as the backend's key map expects.
      if (e.code + 256 < IM_ARRAYSIZE(io.KeysDown)) io.KeysDown[e.code + 256] = e.down;
      set_modifiers(io, e.modifiers);
      return true;
  }
  return false;
}

}  // namespace

void install_panel_input() {
  ImGui_ImplGLUT_InstallFuncs();  // reshape; the input handlers are replaced below
  glutMouseFunc(on_panel_mouse);
  glutMotionFunc(on_panel_motion);
  glutPassiveMotionFunc(on_panel_motion);
  glutMouseWheelFunc(on_panel_wheel);
  glutEntryFunc(on_panel_entry);
  glutKeyboardFunc(on_panel_key);
  glutKeyboardUpFunc(on_panel_key_up);
  glutSpecialFunc(on_panel_special);
  glutSpecialUpFunc(on_panel_special_up);
}

void apply_panel_input() {
  std::deque<InputEvent>& q = queue();
  int& frames = frames_after_input();
  if (q.empty() && frames > 0) --frames;
  if (!q.empty()) frames = kFramesAfterInput;
  while (!q.empty()) {
    const InputEvent e = q.front();
    q.pop_front();
    if (apply(e)) break;
  }
}

bool panel_input_waiting() {
  return !queue().empty() || frames_after_input() > 0;
}

void clear_panel_input() {
  queue().clear();
  ImGuiIO& io = ImGui::GetIO();
  for (bool& down : io.MouseDown) down = false;
  for (bool& down : io.KeysDown) down = false;
  io.KeyCtrl = io.KeyShift = io.KeyAlt = false;
}

}  // namespace kestrel::app
