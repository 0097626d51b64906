#pragma once
// The window program's one process record: the GL-free session state plus what only the window
// needs (view, window ids, the panel's pending action, the Escape poll). GLUT callbacks are
// plain functions, so they reach it through session().

#include <string>
#include <utility>
#include <vector>

#include "app/action_hooks.h"
#include "app/app_state.h"
#include "app/distance_view.h"
#include "app/gl/escape_poll.h"
#include "app/model_drawing.h"
#include "app/undo_stack.h"

namespace kestrel::app {

// Rotation and zoom of the 3D view and the state of a mouse drag.
struct ViewState {
  float rot_x = 0;               // degrees about the x axis
  float rot_y = 0;               // degrees about the y axis
  float zoom = 1.0f;             // the scene is scaled by zoom * 0.07
  float aspect = 0;              // width / height, set by every reshape
  double centre[3] = {0, 0, 0};  // model point at the middle of the window ("Fit view")
  int last_x = 0, last_y = 0;
  bool left_drag = false;
  bool right_drag = false;
};

// What a panel control asked for; run by the idle step after the panel's frame has ended, so a
// long action never runs inside an ImGui frame.
enum class PanelAction {
  kNone,
  kLoadP,
  kLoadQ,
  kStartKestrel,
  kRandomPosition,
  kStartIcp,
  kAddNoise,
  kStartRansac,
  kUndo,
  kQuit,
};

// How the models are drawn beside the specified shaded surfaces.
struct DrawOptions {
  bool points_chosen = false;  // the user set `points`; until then it follows "Any pose"
  bool points = false;         // lit points with normals from their 3D neighbourhood
  bool distances = false;      // the distance view: Q coloured by its distance to P's surface
};

struct GlSession {
  AppState state;
  ViewState view;
  int main_window = 0;
  int panel_window = 0;

  std::vector<std::string> model_files;  // the panel's file lists: the folder's point files
  std::string folder = ".";              // where the lists come from (the "Folder" field)
  // Loads asked for on the command line (P, then Q), run by the first idle steps.
  std::vector<std::pair<PanelAction, std::string>> startup_loads;
  int current_p = -1, current_q = -1;  // entries last clicked in the two lists
  PanelAction pending = PanelAction::kNone;
  std::string pending_file;
  bool busy = false;        // an action is running; no second one starts
  bool drop_input = false;  // input that arrived while an action ran is being discarded

  // Reason of the last failed load (a model, or the -l file at start-up) while it is still the
  // status line; the load prompts do not replace it.
  std::string load_error;

  UndoStack undo;
  DrawOptions draw;
  ModelDrawing drawing_p, drawing_q;
  DistanceView distance_view;

  EscapePoll escape;
  ActionHooks hooks;  // repaint = draw the window now, should_stop = the Escape poll
  // KESTREL_WIDGET_RECTS=1: print the panel's control rectangles (screen pixels) whenever they
  // change, "action-done <name>" after each panel action, "input-ready" once input counts again
  // after it, and "frame 3d" with the time it took to draw for each frame of the 3D window
  // ("frame 3d progress" while it shows a progress line), for tests that drive the window.
  bool print_widget_rects = false;
};

GlSession& session();

// Whether the models are drawn as lit points now.
bool points_drawn(const GlSession& s);

// The file of the list entry `name`: the name itself in the working folder, else within the
// folder of the lists.
std::string list_file_path(const GlSession& s, const std::string& name);

}  // namespace kestrel::app
