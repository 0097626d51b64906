#pragma once
// The panel's buttons and the window's keys as the window runs them: the model and run actions
// plus what keeps the window truthful. A model that changes drops the result shown for the old
// one; a run that finds nothing leaves Q where it was; a stopped run keeps its best motion,
// marked "stopped"; the keys that write files refuse, with a message, when there is nothing to
// write; the model-changing buttons can be undone.

#include <string>

#include "app/action_hooks.h"
#include "app/app_state.h"
#include "app/model_actions.h"
#include "app/undo_stack.h"

namespace kestrel::app {

enum class RunKind { kKestrel, kRansac, kIcp };

// A model changed: the LCP, the base markers, the verdict, the run time and the result go.
void forget_result(AppState& state);

// Loads `file` as one model; on success the result and the undo stack are dropped. A failed load
// changes nothing but the status line and the messages.
bool window_load(AppState& state, UndoStack& undo, ModelSide side, const std::string& file,
                 const ActionHooks& hooks);

// "Random position" and "Add noise", undoable.
void window_random_position(AppState& state, UndoStack& undo);
void window_add_noise(AppState& state, UndoStack& undo);

// "Start Kestrel", "Start basic RANSAC" or "Start ICP", undoable. Refused with a message while a
// model is missing. A run that finds no motion (also one stopped before it found one) leaves
// the models, the current transform and Q's placement as they were, without a result; a run
// stopped with a motion keeps it, marked stopped.
void window_run(AppState& state, UndoStack& undo, RunKind kind, const ActionHooks& hooks);

// "Undo": puts back the models as they were before the last undoable action.
void window_undo(AppState& state, UndoStack& undo);

// Key `o`: writes `results_path` and `reconstruct_path` when there is a result, says on the
// status line what it wrote, and adds a last line "stopped: ..." to the results of a stopped run
// (lines 1 to 10 keep their layout). Refuses with a message otherwise.
bool window_export(AppState& state, const std::string& results_path = "results.tfm",
                   const std::string& reconstruct_path = "reconstruct.obj");

// Key `s`: the five OBJ files into `folder`, refused with a message while no model is loaded.
bool window_save(AppState& state, const std::string& folder = ".");

// The line the results of a stopped run end with.
extern const char kStoppedLine[];

}  // namespace kestrel::app
