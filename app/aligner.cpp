#include "app/aligner.h"

#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/interrupt_watch.h"
#include "app/model_actions.h"
#include "app/profile_rows.h"
#include "app/result_files.h"
#include "app/run_actions.h"
#include "app/terminal_progress.h"
#include "core/clock.h"
#include "core/random15.h"

namespace kestrel::app {

namespace {

// What one aligner run produced, for the closing reports.
struct AlignOutcome {
  ExportedMotion motion;
  registration::EngineResult run;
  icp::IcpRefineResult icp;
  double icp_ms = 0;
  const char* stop_reason = nullptr;  // "time limit" or "interrupt" when the run was stopped
};

// Prints a JSON string literal (file names may hold quotes or backslashes).
void json_string(FILE* out, const std::string& s) {
  std::fputc('"', out);
  for (char ch : s) {
    if (ch == '"' || ch == '\\') {
      std::fputc('\\', out);
      std::fputc(ch, out);
    } else if (static_cast<unsigned char>(ch) < 0x20) {
      std::fprintf(out, "\\u%04x", ch);
    } else {
      std::fputc(ch, out);
    }
  }
  std::fputc('"', out);
}

void json_matrix(FILE* out, const char* name, const double (&m)[4][4]) {
  std::fprintf(out, ",\"%s\":[", name);
  for (int r = 0; r < 4; ++r) {
    std::fprintf(out, "%s[", r ? "," : "");
    for (int c = 0; c < 4; ++c) std::fprintf(out, "%s%.17g", c ? "," : "", m[r][c]);
    std::fprintf(out, "]");
  }
  std::fprintf(out, "]");
}

void print_profile(FILE* out, const registration::EngineResult& r) {
  std::fprintf(out, "\nprofile:\n");
  for (const ProfileRow& row : stage_rows(r))
    std::fprintf(out, "  %-18s %12.3f ms\n", row.label, row.value);
  for (const ProfileRow& row : count_rows(r))
    std::fprintf(out, "  %-18s %12.0f\n", row.label, row.value);
}

void json_profile(FILE* out, const registration::EngineResult& r) {
  std::fprintf(out, ",\"profile\":{\"stages_ms\":{");
  const char* sep = "";
  for (const ProfileRow& row : stage_rows(r)) {
    std::fprintf(out, "%s\"%s\":%.3f", sep, row.key, row.value);
    sep = ",";
  }
  std::fprintf(out, "},\"counts\":{");
  sep = "";
  for (const ProfileRow& row : count_rows(r)) {
    std::fprintf(out, "%s\"%s\":%.0f", sep, row.key, row.value);
    sep = ",";
  }
  std::fprintf(out, "}}");
}

// The fields every JSON outcome starts with: the files, the point counts and the run.
void json_run_fields(FILE* out, const AppState& state, const AlignOutcome& a) {
  const ModelSets& m = state.models;
  std::fprintf(out, "\n{\"p_file\":");
  json_string(out, m.file_p);
  std::fprintf(out, ",\"q_file\":");
  json_string(out, m.file_q);
  std::fprintf(out,
               ",\"p_points\":%zu,\"q_points\":%zu,\"best_lcp\":%.6f,\"trials\":%d,"
               "\"stopped\":%s,\"run_time_s\":%.3f",
               m.model_p.size(), m.model_q.size(), static_cast<double>(state.best_lcp),
               state.trial_count, a.run.stopped ? "true" : "false", state.run_time_ms * 0.001);
  std::fprintf(out, ",\"stop_reason\":");
  if (a.stop_reason)
    json_string(out, a.stop_reason);
  else
    std::fprintf(out, "null");
}

void print_json(FILE* out, const AppState& state, const AlignOptions& o, const AlignOutcome& a) {
  json_run_fields(out, state, a);
  json_matrix(out, "matrix", a.motion.m);
  if (o.icp) {
    json_matrix(out, "coarse_matrix", a.motion.coarse);
    json_matrix(out, "refined_matrix", a.motion.m);
    std::fprintf(out, ",\"icp_error\":%.6g,\"icp_time_s\":%.3f,\"icp_time_ms\":%.3f",
                 static_cast<double>(a.icp.error), a.icp_ms * 0.001, a.icp_ms);
  }
  if (o.profile) json_profile(out, a.run);
  std::fprintf(out, "}\n");
}

// Runs the registration the options ask for. On a terminal (unless --quiet) a progress line on
// `err` shows how far it has come; when stdout is that terminal too, the line stands in for the
// run's own "\r" lines there, which would keep overwriting it. Ctrl-C and the time limit stop
// the run as Escape does in the window; `stop_reason` then says which.
registration::EngineResult run_with_progress(AppState& state, const AlignOptions& o, FILE* err,
                                             const char*& stop_reason) {
  ActionHooks hooks;
  const InterruptWatch interrupt;
  const core::Clock::time_point start = core::Clock::now();
  const double limit_ms = static_cast<double>(o.max_seconds) * 1000.0;
  stop_reason = nullptr;
  hooks.should_stop = [&interrupt, &stop_reason, start, limit_ms] {
    if (!stop_reason && interrupt.interrupted()) stop_reason = "interrupt";
    if (!stop_reason && limit_ms > 0 && core::elapsed_ms(start) >= limit_ms)
      stop_reason = "time limit";
    return stop_reason != nullptr;
  };
  std::optional<TerminalProgress> line;
  if (!o.quiet && is_terminal(err)) {
    line.emplace(err);
    hooks.on_step = [&line](const registration::ProgressPoint& at) { line->step(at); };
    state.console_progress = !same_terminal(fileno(stdout), fileno(err));
  }
  const registration::EngineResult run =
      o.ransac ? on_start_ransac(state, hooks) : on_start_kestrel(state, hooks);
  if (line) line->finish();
  return run;
}

// The console's word on a run that was stopped from outside; what it found follows as usual.
void print_stop_note(FILE* out, const AlignOptions& o, const AlignOutcome& a) {
  if (std::strcmp(a.stop_reason, "interrupt") == 0)
    std::fprintf(out, "\nRun stopped: interrupted (Ctrl-C) in trial %d.\n", a.run.trials);
  else
    std::fprintf(out, "\nRun stopped: time limit of %g s (--max-seconds) reached in trial %d.\n",
                 static_cast<double>(o.max_seconds), a.run.trials);
  std::fflush(out);
}

// A run that found no motion: says why and writes nothing, since a results file would carry
// the identity or an earlier motion as if this run had found it. Returns the exit status 2.
int report_no_motion(FILE* out, FILE* err, const AppState& state, const AlignOptions& o,
                     const AlignOutcome& a, const std::string& reason) {
  std::fprintf(err, "%s\n", reason.c_str());
  if (o.json) {
    json_run_fields(out, state, a);
    std::fprintf(out, ",\"error\":");
    json_string(out, reason);
    std::fprintf(out, "}\n");
  }
  std::fflush(out);
  return 2;
}

// Loads both models, turns and jitters Q as asked, runs, and refines when asked. Returns the
// exit status when the aligner must stop here (1: a model cannot be read or ICP refused;
// 2: the run found no motion), or -1 to go on and write the results.
int load_and_run(AppState& state, const AlignOptions& o, const std::vector<std::string>& files,
                 AlignOutcome& a, FILE* out, FILE* err) {
  const ActionHooks hooks;  // nothing to draw, nothing that stops a run
  std::string error;
  if (!load_model(state, ModelSide::kP, files[0], hooks, &error) ||
      !load_model(state, ModelSide::kQ, files[1], hooks, &error))
    return 1;
  refresh_parameters(state.params);
  for (int i = 0; i < o.random_positions; ++i) on_random_position(state);
  if (o.noise) on_add_noise(state);
  a.run = run_with_progress(state, o, err, a.stop_reason);
  std::fflush(stdout);
  if (a.run.stopped && a.stop_reason) print_stop_note(out, o, a);
  const std::string no_motion = no_motion_reason(a.run);
  if (!no_motion.empty()) return report_no_motion(out, err, state, o, a, no_motion);
  if (!o.icp) return -1;
  const core::Clock::time_point t0 = core::Clock::now();
  a.icp = on_start_icp(state, hooks);
  a.icp_ms = core::elapsed_ms(t0);
  return a.icp.ran ? -1 : 1;
}

}  // namespace

int align_main(int argc, const char* const* argv, FILE* out, FILE* err) {
  const char* program = argc > 0 ? argv[0] : "kestrel-align";
  auto state = std::make_unique<AppState>();
  core::srand15(0);
  AlignOptions o;
  std::vector<std::string> files;
  switch (parse_align_command_line(argc, argv, state->params, o, files, out, err)) {
    case ParseOutcome::kExitSuccess:
      return 0;
    case ParseOutcome::kExitFailure:
      return 1;
    case ParseOutcome::kContinue:
      break;
  }
  if (files.size() != 2) {
    std::fprintf(err, "%s needs two model files, P_FILE and Q_FILE (see --help).\n", program);
    return 1;
  }
  std::string error;
  if (!state->params.trans_file.empty() &&
      !read_trans_file(state->params.trans_file, state->params, &error)) {
    std::fprintf(err, "%s\n", error.c_str());
    return 1;
  }
  derive_parameters(state->params);

  state->models.full_surfaces = false;  // nothing here draws the full sets
  AlignOutcome a;
  const int status = load_and_run(*state, o, files, a, out, err);
  if (status >= 0) return status;
  if (!export_results(*state, o.out, o.reconstruct, &a.motion, &error)) {
    std::fprintf(err, "%s\n", error.c_str());
    return 1;
  }
  if (!o.matrix.empty() && !write_matrix_file(o.matrix, a.motion.m, &error)) {
    std::fprintf(err, "%s\n", error.c_str());
    return 1;
  }
  std::fflush(stdout);
  if (o.profile) print_profile(out, a.run);
  if (o.json) print_json(out, *state, o, a);
  std::fflush(out);
  return 0;
}

}  // namespace kestrel::app
