#include "app/aligner.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/align_models.h"
#include "app/app_state.h"
#include "app/command_line.h"
#include "app/profile_rows.h"
#include "app/result_files.h"
#include "app/terminal_progress.h"
#include "core/random15.h"

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

void print_json(FILE* out, const AppState& state, const AlignOptions& o, const AlignOutcome& a) {
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

// The aligner's sequence (align_models.h). On a terminal (unless --quiet) a progress line on
// `err` shows how far the run has come, its clock started by the run's first step; when stdout
// is that terminal too, the line stands in for the run's own "\r" lines there, which would keep
// overwriting it. False when a model cannot be read or ICP refuses (the actions said why).
bool run_with_progress(AppState& state, const AlignOptions& o,
                       const std::vector<std::string>& files, AlignOutcome& a, FILE* err) {
  ActionHooks hooks;  // nothing to draw, nothing that stops a run
  std::optional<TerminalProgress> line;
  if (!o.quiet && is_terminal(err)) {
    hooks.on_step = [&line, err](const registration::ProgressPoint& at) {
      if (!line) line.emplace(err);
      line->step(at);
    };
    state.console_progress = !same_terminal(fileno(stdout), fileno(err));
  }
  const bool ok = align_models(state, o, {files[0]}, {files[1]}, hooks, a);
  if (line) line->finish();
  return ok;
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
      !read_trans_file(state->params.trans_file, state->params, &error))
    std::fprintf(err, "%s\n", error.c_str());
  derive_parameters(state->params);

  AlignOutcome a;
  const bool loaded_and_run = run_with_progress(*state, o, files, a, err);
  if (!loaded_and_run) return 1;
  if (!export_results(*state, o.out, o.reconstruct, nullptr, &error,
                      a.icp.ran ? a.refinement : nullptr)) {
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
