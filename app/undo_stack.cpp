#include "app/undo_stack.h"

namespace kestrel::app {

void push_undo(UndoStack& undo, const AppState& state, const std::string& label, bool with_p) {
  const ModelSets& m = state.models;
  ModelSnapshot s;
  s.label = label;
  s.has_p = with_p;
  if (with_p) {
    s.model_p = m.model_p;
    s.full_p = m.full_p;
    s.saved_p = m.saved_p;
  }
  s.model_q = m.model_q;
  s.full_q = m.full_q;
  s.saved_q = m.saved_q;
  s.saved_full_q = m.saved_full_q;
  s.q_placement = m.q_placement;
  s.current_transform = state.current_transform;
  s.best_lcp = state.best_lcp;
  s.base_points = state.base_points;
  s.judgement = state.judgement;
  s.result_label = state.result_label;
  s.result_stopped = state.result_stopped;
  s.run_time_ms = state.run_time_ms;
  s.noise_added = state.noise_added;
  if (undo.entries.size() >= UndoStack::kDepth) undo.entries.erase(undo.entries.begin());
  undo.entries.push_back(std::move(s));
}

void restore(AppState& state, const ModelSnapshot& s) {
  ModelSets& m = state.models;
  if (s.has_p) {
    // The tree over the working P was built at the load, before any noise: it matches again.
    m.model_p = s.model_p;
    m.full_p = s.full_p;
    m.saved_p = s.saved_p;
  }
  m.model_q = s.model_q;
  m.full_q = s.full_q;
  m.saved_q = s.saved_q;
  m.saved_full_q = s.saved_full_q;
  m.q_placement = s.q_placement;
  state.current_transform = s.current_transform;
  state.best_lcp = s.best_lcp;
  state.base_points = s.base_points;
  state.judgement = s.judgement;
  state.result_label = s.result_label;
  state.result_stopped = s.result_stopped;
  state.run_time_ms = s.run_time_ms;
  state.noise_added = s.noise_added;
}

std::string pop_undo(UndoStack& undo, AppState& state) {
  if (undo.entries.empty()) return "";
  const std::string label = undo.entries.back().label;
  restore(state, undo.entries.back());
  undo.entries.pop_back();
  return label;
}

}  // namespace kestrel::app
