#include "app/gl/panel_actions.h"

#include <GL/glx.h>

#include <cstdio>
#include <cstdlib>

#include "app/gl/panel_input.h"
#include "app/gl/window.h"
#include "app/window_actions.h"

namespace kestrel::app {

namespace {

constexpr int kListP = 7;
constexpr int kListQ = 8;

// Input that arrived while the action held the GUI thread still waits in GLUT's connection:
// fetch all of it now and let the next event pass drop it, so a click or key made meanwhile
// (the Escape that stopped a run among them) does not act afterwards.
void drop_input_of_action(GlSession& s) {
  if (Display* d = glXGetCurrentDisplay()) XSync(d, False);
  s.drop_input = true;
  clear_panel_input();
  s.view.left_drag = s.view.right_drag = false;
}

const char* action_name(PanelAction action) {
  switch (action) {
    case PanelAction::kLoadP:
      return "load-p";
    case PanelAction::kLoadQ:
      return "load-q";
    case PanelAction::kStartKestrel:
      return "start-kestrel";
    case PanelAction::kRandomPosition:
      return "random-position";
    case PanelAction::kStartIcp:
      return "start-icp";
    case PanelAction::kAddNoise:
      return "add-noise";
    case PanelAction::kStartRansac:
      return "start-ransac";
    case PanelAction::kUndo:
      return "undo";
    case PanelAction::kQuit:
      return "quit";
    case PanelAction::kNone:
      break;
  }
  return "none";
}

}  // namespace

ActionHooks window_hooks(GlSession& s) {
  ActionHooks hooks;
  hooks.repaint = [&s] { repaint_during_action(s); };
  hooks.should_stop = [&s] { return s.escape.pressed(); };
  // A trial's start is drawn whatever the frame pacing, so even a short run shows its line.
  hooks.on_step = [&s](const registration::ProgressPoint& at) {
    if (at.count != 0 || at.done) return;
    reset_repaint_throttle();
    repaint_during_action(s);
  };
  return hooks;
}

void on_load_model(GlSession& s, int id, const std::string& file) {
  if (id != kListP && id != kListQ) return;
  const ModelSide side = id == kListP ? ModelSide::kP : ModelSide::kQ;
  if (window_load(s.state, s.undo, side, file, s.hooks)) return;
  s.load_error = s.state.status_text;
  reset_repaint_throttle();
  repaint_during_action(s);
}

void run_pending_action(GlSession& s) {
  if (s.busy || s.pending == PanelAction::kNone) return;
  const PanelAction action = s.pending;
  s.pending = PanelAction::kNone;
  s.busy = true;
  s.load_error.clear();
  s.escape.reset();
  reset_repaint_throttle();
  switch (action) {
    case PanelAction::kLoadP:
      on_load_model(s, kListP, s.pending_file);
      break;
    case PanelAction::kLoadQ:
      on_load_model(s, kListQ, s.pending_file);
      break;
    case PanelAction::kStartKestrel:
      window_run(s.state, s.undo, RunKind::kKestrel, s.hooks);
      break;
    case PanelAction::kRandomPosition:
      window_random_position(s.state, s.undo);
      break;
    case PanelAction::kStartIcp:
      window_run(s.state, s.undo, RunKind::kIcp, s.hooks);
      break;
    case PanelAction::kAddNoise:
      window_add_noise(s.state, s.undo);
      break;
    case PanelAction::kStartRansac:
      window_run(s.state, s.undo, RunKind::kRansac, s.hooks);
      break;
    case PanelAction::kUndo:
      window_undo(s.state, s.undo);
      break;
    case PanelAction::kQuit:
      std::exit(0);
    case PanelAction::kNone:
      break;
  }
  drop_input_of_action(s);
  s.busy = false;
  if (s.print_widget_rects) {
    // Lets a test driving the window know when the program takes input again.
    std::printf("action-done\t%s\n", action_name(action));
    std::fflush(stdout);
  }
}

}  // namespace kestrel::app
