#pragma once
// Undo for the buttons that change the models ("Random position", "Add noise", the runs and
// ICP): each keeps a copy of what it may change, and "Undo" puts the last copy back. Loading a
// model empties the stack, since the copies then belong to other models.

#include <cstddef>
#include <string>
#include <vector>

#include "app/app_state.h"

namespace kestrel::app {

// The model sets an action may change, with what the window shows about Q's place.
struct ModelSnapshot {
  std::string label;   // the action it undoes, as the button names it
  bool has_p = false;  // P's sets were kept too ("Add noise")
  core::PointSet model_p, full_p, saved_p;
  core::PointSet model_q, full_q, saved_q, saved_full_q;
  QPlacement q_placement;
  core::RigidTransform current_transform;
  float best_lcp = 0;
  core::PointSet base_points;
  registration::Judgement judgement;
  std::string result_label;
  bool result_stopped = false;
  int32_t run_time_ms = 0;
  bool noise_added = false;
};

struct UndoStack {
  static constexpr size_t kDepth = 5;  // copies of two full scans each: kept short
  std::vector<ModelSnapshot> entries;  // oldest first
};

// Keeps a copy of `state` before the action `label`; with `with_p`, of P's sets too. The oldest
// copy goes when the stack is full.
void push_undo(UndoStack& undo, const AppState& state, const std::string& label, bool with_p);

// Puts `snapshot` back into `state`.
void restore(AppState& state, const ModelSnapshot& snapshot);

// Restores and drops the last copy; returns its label, or an empty text when there is none.
std::string pop_undo(UndoStack& undo, AppState& state);

}  // namespace kestrel::app
