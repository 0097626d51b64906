#include "app/aligner.h"

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/align_models.h"
#include "app/app_state.h"
#include "app/command_line.h"
#include "app/interrupt_watch.h"
#include "app/profile_rows.h"
#include "app/run_actions.h"
#include "app/terminal_progress.h"
#include "core/clock.h"

namespace kestrel::app {

namespace {

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

void print_profile(FILE* out, const AppState& state, const AlignOutcome& a) {
  const registration::EngineResult& r = a.run;
  std::fprintf(out, "\nprofile:\n");
  const std::vector<ProfileRow> read = read_rows(state.models);
  std::fprintf(out, "  %-18s %12.3f ms\n", read[0].label, read[0].value);
  std::fprintf(out, "  %-18s %12.3f ms\n", read[1].label, read[1].value);
  std::fprintf(out, "  %-18s %12.1f MB/s\n", "read rate", read[2].value);
  for (const ProfileRow& row : stage_rows(r))
    std::fprintf(out, "  %-18s %12.3f ms\n", row.label, row.value);
  if (a.icp.ran) std::fprintf(out, "  %-18s %12.3f ms\n", "ICP", a.icp_ms);
  for (const ProfileRow& row : count_rows(r))
    std::fprintf(out, "  %-18s %12.0f\n", row.label, row.value);
}

void json_profile(FILE* out, const AppState& state, const registration::EngineResult& r) {
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
  std::fprintf(out, "}");
  for (const ProfileRow& row : read_rows(state.models))
    std::fprintf(out, ",\"%s\":%.3f", row.key, row.value);
  std::fprintf(out, "}");
}

// The fields every JSON outcome starts with: the files, the point counts and the run.
void json_run_fields(FILE* out, const AppState& state, const AlignOutcome& a,
                     const char* stop_reason) {
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
  if (stop_reason)
    json_string(out, stop_reason);
  else
    std::fprintf(out, "null");
}

void json_verdict(FILE* out, const AppState& state) {
  std::fprintf(out, ",\"verdict\":\"%s\",\"evidence\":{",
               registration::verdict_name(state.judgement.verdict));
  const char* sep = "";
  if (state.judgement.fit.q_asked > 0) {
    for (const ProfileRow& row : evidence_rows(state.judgement, state.last_run)) {
      std::fprintf(out, "%s\"%s\":%.6g", sep, row.key, row.value);
      sep = ",";
    }
  }
  std::fprintf(out, "}");
}

// Up to three other motions the run found, in the files' coordinates, with their measures.
// The measured alternatives in the inputs' coordinates. Taken before the results are written:
// writing them moves the centre that later exports of Q start from.
std::vector<ExportedMotion> exported_alternatives(const AppState& state) {
  std::vector<ExportedMotion> out;
  for (const registration::AlternativeFit& a : state.judgement.alternatives)
    out.push_back(exported_run_motion(state, a.motion));
  return out;
}

void json_alternatives(FILE* out, const AppState& state,
                       const std::vector<ExportedMotion>& motions) {
  std::fprintf(out, ",\"alternatives\":[");
  const char* sep = "";
  for (size_t k = 0; k < state.judgement.alternatives.size() && k < motions.size(); ++k) {
    const registration::AlternativeFit& a = state.judgement.alternatives[k];
    std::fprintf(out, "%s{\"fine_share\":%.6g,\"on_surface\":%.6g,\"constraint\":%.6g", sep,
                 a.fine_share, a.on_surface, a.constraint);
    json_matrix(out, "matrix", motions[k].m);
    std::fprintf(out, "}");
    sep = ",";
  }
  std::fprintf(out, "]");
}

// The verdict line: on a line of its own, so that scripts can pick it out.
void print_verdict(FILE* out, const AppState& state) {
  std::fprintf(out, "Verdict: %s (%s)\n", registration::verdict_name(state.judgement.verdict),
               state.judgement.reason.c_str());
}

// With --icp the run's own motion comes as coarse_matrix; the ICP's fields only with a
// refinement, which a stopped run does not get.
void print_json(FILE* out, const AppState& state, const AlignOptions& o, const AlignOutcome& a,
                const std::vector<ExportedMotion>& alternatives, const char* stop_reason) {
  json_run_fields(out, state, a, stop_reason);
  json_matrix(out, "matrix", a.motion.m);
  if (o.icp) json_matrix(out, "coarse_matrix", a.motion.coarse);
  if (a.icp.ran) {
    json_matrix(out, "refined_matrix", a.motion.m);
    std::fprintf(out, ",\"icp_error\":%.6g,\"icp_time_s\":%.3f,\"icp_time_ms\":%.3f",
                 static_cast<double>(a.icp.error), a.icp_ms * 0.001, a.icp_ms);
  }
  json_verdict(out, state);
  json_alternatives(out, state, alternatives);
  if (o.profile) json_profile(out, state, a.run);
  std::fprintf(out, "}\n");
}

// The console's word on a run (or its ICP) that was stopped from outside; what it found follows
// as usual.
void print_stop_note(FILE* out, const AlignOptions& o, const AlignOutcome& a,
                     const char* stop_reason, const char* what = nullptr) {
  char where[64];
  if (what)
    std::snprintf(where, sizeof where, "in %s (the motion is the run's, unrefined)", what);
  else
    std::snprintf(where, sizeof where, "in trial %d", a.run.trials);
  if (std::strcmp(stop_reason, "interrupt") == 0)
    std::fprintf(out, "\nRun stopped: interrupted (Ctrl-C) %s.\n", where);
  else
    std::fprintf(out, "\nRun stopped: time limit of %g s (--max-seconds) reached %s.\n",
                 static_cast<double>(o.max_seconds), where);
  std::fflush(out);
}

// What the aligner watches while the run works. On a terminal (unless --quiet) a progress line
// on `err` shows how far the run has come; when stdout is that terminal too, the line stands in
// for the run's own "\r" lines there, which would keep overwriting it. Ctrl-C and the time
// limit, counted from the run's start, stop the run as Escape does in the window;
// `stop_reason` then says which.
struct RunWatch {
  const InterruptWatch interrupt;
  core::Clock::time_point start;
  const char* stop_reason = nullptr;  // "time limit" or "interrupt" when the run was stopped
  std::optional<TerminalProgress> line;
};

AlignHooks watch_hooks(AppState& state, const AlignOptions& o, FILE* out, FILE* err,
                       RunWatch& watch) {
  AlignHooks hooks;
  const double limit_ms = static_cast<double>(o.max_seconds) * 1000.0;
  hooks.action.should_stop = [&watch, limit_ms] {
    if (!watch.stop_reason && watch.interrupt.interrupted()) watch.stop_reason = "interrupt";
    if (!watch.stop_reason && limit_ms > 0 && core::elapsed_ms(watch.start) >= limit_ms)
      watch.stop_reason = "time limit";
    return watch.stop_reason != nullptr;
  };
  const bool show_line = !o.quiet && is_terminal(err);
  if (show_line)
    hooks.action.on_step = [&watch](const registration::ProgressPoint& at) {
      watch.line->step(at);
    };
  hooks.before_run = [&state, &watch, err, show_line] {
    watch.start = core::Clock::now();
    if (!show_line) return;
    watch.line.emplace(err);
    state.console_progress = !same_terminal(fileno(stdout), fileno(err));
  };
  hooks.after_run = [&watch, &o, out](const AlignOutcome& a) {
    if (watch.line) watch.line->finish();
    std::fflush(stdout);
    if (a.run.stopped && watch.stop_reason) print_stop_note(out, o, a, watch.stop_reason);
  };
  return hooks;
}

// A run that found no motion: says why and writes nothing, since a results file would carry
// the identity or an earlier motion as if this run had found it. Returns the exit status 2.
int report_no_motion(FILE* out, FILE* err, const AppState& state, const AlignOptions& o,
                     const AlignOutcome& a, const char* stop_reason, const std::string& reason) {
  std::fprintf(err, "%s\n", reason.c_str());
  print_verdict(out, state);
  if (o.json) {
    json_run_fields(out, state, a, stop_reason);
    json_verdict(out, state);
    std::fprintf(out, ",\"error\":");
    json_string(out, reason);
    std::fprintf(out, "}\n");
  }
  std::fflush(out);
  return 2;
}

// A failure after the options were read: the reason on `err` (unless the action printed it as
// it happened) and, with --json, a JSON line with "error" (and the run's fields once it ran).
int report_failure(FILE* out, FILE* err, const AppState& state, const AlignOptions& o,
                   const std::vector<std::string>& files, const std::string& reason, bool printed,
                   const AlignOutcome* a = nullptr, const char* stop_reason = nullptr) {
  if (!printed) std::fprintf(err, "%s\n", reason.c_str());
  if (o.json) {
    if (a) {
      json_run_fields(out, state, *a, stop_reason);
    } else {
      std::fprintf(out, "\n{\"p_file\":");
      json_string(out, files.size() > 0 ? files[0] : "");
      std::fprintf(out, ",\"q_file\":");
      json_string(out, files.size() > 1 ? files[1] : "");
    }
    std::fprintf(out, ",\"error\":");
    json_string(out, reason);
    std::fprintf(out, "}\n");
  }
  std::fflush(out);
  return 1;
}

// Whether everything printed so far reached standard output (and `out`): a full disk or a
// closed descriptor is a failure like any other, not a silent loss of the outcome.
bool output_lost(FILE* out, FILE* err) {
  const bool lost =
      std::fflush(stdout) != 0 || std::ferror(stdout) || std::fflush(out) != 0 || std::ferror(out);
  if (lost)
    std::fprintf(err, "kestrel-align: cannot write to standard output (%s)\n",
                 std::strerror(errno));
  return lost;
}

// The options and the two files, settled; 0 or 1 when the aligner ends here with that status.
std::optional<int> read_options(int argc, const char* const* argv, AppState& state, AlignOptions& o,
                                std::vector<std::string>& files, FILE* out, FILE* err) {
  switch (parse_align_command_line(argc, argv, state.params, o, files, out, err)) {
    case ParseOutcome::kExitSuccess:
      return 0;
    case ParseOutcome::kExitFailure:
      return 1;
    case ParseOutcome::kContinue:
      break;
  }
  if (files.size() != 2)
    return report_failure(out, err, state, o, files,
                          std::string(argc > 0 ? argv[0] : "kestrel-align") +
                              " needs two model files, P_FILE and Q_FILE (see --help).",
                          false);
  std::string error;
  if (!settle_parameters(state.params, o, &error))
    return report_failure(out, err, state, o, files, error, false);
  return std::nullopt;
}

}  // namespace

int align_main(int argc, const char* const* argv, FILE* out, FILE* err) {
  auto state = std::make_unique<AppState>();
  AlignOptions o;
  std::vector<std::string> files;
  if (const std::optional<int> status = read_options(argc, argv, *state, o, files, out, err))
    return *status;

  // --quiet silences every progress line: the run's "\r" trial lines too, wherever they go.
  if (o.quiet) state->console_progress = false;
  std::string error;
  if (!check_outputs(o, {files[0], files[1], state->params.trans_file}, &error))
    return report_failure(out, err, *state, o, files, error, false);

  // A model that cannot be read, or ICP's refusal, was reported on the console as it happened.
  RunWatch watch;
  AlignOutcome a;
  if (!align_models(*state, o, {files[0]}, {files[1]}, watch_hooks(*state, o, out, err, watch), a,
                    &error))
    return report_failure(out, err, *state, o, files, error, true);
  if (a.icp.stopped && watch.stop_reason) print_stop_note(out, o, a, watch.stop_reason, "ICP");
  if (!a.no_motion.empty())
    return report_no_motion(out, err, *state, o, a, watch.stop_reason, a.no_motion);
  // Nothing is written when the console has already lost what the run printed.
  if (output_lost(out, err)) return 1;
  const std::vector<ExportedMotion> alternatives = exported_alternatives(*state);
  if (!write_results(*state, o, a, &error))
    return report_failure(out, err, *state, o, files, error, false, &a, watch.stop_reason);
  print_verdict(out, *state);
  if (o.profile) print_profile(out, *state, a);
  if (o.json) print_json(out, *state, o, a, alternatives, watch.stop_reason);
  if (output_lost(out, err)) return 1;
  return state->judgement.verdict == registration::Verdict::kConfident ? 0 : 3;
}

}  // namespace kestrel::app
