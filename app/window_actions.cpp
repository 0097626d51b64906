#include "app/window_actions.h"

#include <fstream>
#include <sstream>

#include "app/messages.h"
#include "app/result_files.h"
#include "app/run_actions.h"
#include "core/atomic_file.h"

namespace kestrel::app {

const char kStoppedLine[] =
    "stopped: the run was stopped before it ended; lines 5 to 8 hold the best motion it had found";

namespace {

const char* run_label(const AppState& state, RunKind kind) {
  if (kind == RunKind::kRansac) return "RANSAC run";
  return state.params.any_pose ? "any-pose Kestrel run" : "Kestrel run";
}

const char* button_name(RunKind kind) {
  switch (kind) {
    case RunKind::kKestrel:
      return "Start Kestrel";
    case RunKind::kRansac:
      return "Start basic RANSAC";
    case RunKind::kIcp:
      break;
  }
  return "Start ICP";
}

bool both_loaded(const AppState& state) {
  return !state.models.model_p.empty() && !state.models.model_q.empty();
}

// Back to the copy taken before the action, which stays on the stack: the action changed
// nothing worth undoing.
void take_back(AppState& state, UndoStack& undo) {
  restore(state, undo.entries.back());
  undo.entries.pop_back();
}

void run_registration(AppState& state, UndoStack& undo, RunKind kind, const ActionHooks& hooks) {
  const registration::EngineResult r =
      kind == RunKind::kRansac ? on_start_ransac(state, hooks) : on_start_kestrel(state, hooks);
  if (!r.improved || r.best_lcp <= 0) {
    const int32_t time_ms = state.run_time_ms;
    take_back(state, undo);
    forget_result(state);
    state.run_time_ms = time_ms;
    tell(state, no_motion_reason(r) + (r.stopped ? " (stopped)" : "") + "; Q left where it was");
    return;
  }
  state.result_label = run_label(state, kind);
  state.result_stopped = r.stopped;
  if (r.stopped) tell(state, "Stopped: Q stands at the best motion found so far");
}

void run_icp(AppState& state, UndoStack& undo, const ActionHooks& hooks) {
  const icp::IcpRefineResult r = on_start_icp(state, hooks);
  if (!r.ran) {
    undo.entries.pop_back();
    tell(state, r.message, Echo::kNone);  // printed by the ICP action
    return;
  }
  if (r.error < 0) {
    take_back(state, undo);
    tell(state, "ICP failed; Q left where it was");
    return;
  }
  state.result_label = state.result_label.empty() ? "ICP" : state.result_label + ", then ICP";
}

// The text of a results file with `line` added at its end.
bool append_line(const std::string& path, const std::string& line, std::string* error) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  const std::string body = text.str();
  return core::write_file_atomically(
      path, [&body, &line](std::ostream& out) { out << body << line << "\n"; }, error);
}

}  // namespace

void forget_result(AppState& state) {
  state.best_lcp = 0;
  state.base_points = core::PointSet(4);
  state.judgement = registration::Judgement();
  state.result_label.clear();
  state.result_stopped = false;
  state.run_time_ms = 0;
}

bool window_load(AppState& state, UndoStack& undo, ModelSide side, const std::string& file,
                 const ActionHooks& hooks) {
  std::string error;
  if (!load_model(state, side, file, hooks, &error)) {
    tell(state, error, Echo::kNone);  // printed by the load
    return false;
  }
  undo.entries.clear();
  forget_result(state);
  return true;
}

void window_random_position(AppState& state, UndoStack& undo) {
  push_undo(undo, state, "Random position", false);
  on_random_position(state);
  forget_result(state);
}

void window_add_noise(AppState& state, UndoStack& undo) {
  push_undo(undo, state, "Add noise", true);
  on_add_noise(state);
  forget_result(state);
}

void window_run(AppState& state, UndoStack& undo, RunKind kind, const ActionHooks& hooks) {
  if (!both_loaded(state)) {
    tell(state, std::string(button_name(kind)) + " needs both models: load model P and model Q");
    return;
  }
  push_undo(undo, state, button_name(kind), false);
  if (kind == RunKind::kIcp)
    run_icp(state, undo, hooks);
  else
    run_registration(state, undo, kind, hooks);
}

void window_undo(AppState& state, UndoStack& undo) {
  const std::string label = pop_undo(undo, state);
  tell(state, label.empty() ? "Nothing to undo" : "Undone: " + label);
}

bool window_export(AppState& state, const std::string& results_path,
                   const std::string& reconstruct_path) {
  std::string error;
  if (state.models.file_p.empty() || state.models.file_q.empty()) {
    export_results(state, results_path, reconstruct_path, nullptr, &error);
    tell(state, "Nothing written: " + error, Echo::kNone);  // printed by the export
    return false;
  }
  if (state.result_label.empty()) {
    tell(state,
         "Nothing written: no motion found since the models changed (run Kestrel, "
         "RANSAC or ICP first)");
    return false;
  }
  const bool ok = export_results(state, results_path, reconstruct_path, nullptr, &error) &&
                  (!state.result_stopped || append_line(results_path, kStoppedLine, &error));
  if (!ok) {
    tell(state, error, Echo::kNone);  // printed by the export
    return false;
  }
  std::string what = "Wrote " + results_path;
  if (!reconstruct_path.empty()) what += " and " + reconstruct_path;
  what += ": Q's place after the " + state.result_label;
  if (state.result_stopped) what += " (stopped)";
  tell(state, what + ", verdict " + registration::verdict_name(state.judgement.verdict));
  return true;
}

bool window_save(AppState& state, const std::string& folder) {
  if (state.models.file_p.empty() && state.models.file_q.empty()) {
    tell(state, "Nothing written: no model is loaded");
    return false;
  }
  std::string error;
  if (!save_models(state, folder, &error)) {
    tell(state, error, Echo::kNone);  // printed by the writer
    return false;
  }
  tell(state, "Wrote out1.obj, out2.obj, full1.obj, full2.obj and reconstruct.obj", Echo::kNone);
  return true;
}

}  // namespace kestrel::app
