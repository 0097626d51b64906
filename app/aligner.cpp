#include "app/aligner.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/command_line.h"
#include "app/model_actions.h"
#include "app/result_files.h"
#include "app/run_actions.h"
#include "core/random15.h"

namespace kestrel::app {

namespace {

struct AlignOptions {
  bool has_delta = false;
  float delta = 0;
  bool ransac = false;
  int random_positions = 0;
  bool noise = false;
  bool icp = false;
  bool json = false;
  std::string out = "results.tfm";
  std::string reconstruct;
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

void json_matrix(FILE* out, const double (&m)[4][4]) {
  std::fprintf(out, "[");
  for (int r = 0; r < 4; ++r) {
    std::fprintf(out, "%s[", r ? "," : "");
    for (int c = 0; c < 4; ++c) std::fprintf(out, "%s%.17g", c ? "," : "", m[r][c]);
    std::fprintf(out, "]");
  }
  std::fprintf(out, "]");
}

// The fields every JSON outcome starts with: the files, the point counts and the run.
void json_run_fields(FILE* out, const AppState& state) {
  std::fprintf(out, "\"p_file\":");
  json_string(out, state.file_p);
  std::fprintf(out, ",\"q_file\":");
  json_string(out, state.file_q);
  std::fprintf(out,
               ",\"p_points\":%zu,\"q_points\":%zu,\"best_lcp\":%.6f,\"trials\":%d,"
               "\"run_time_s\":%.3f",
               state.reg.model_p.size(), state.reg.model_q.size(),
               static_cast<double>(state.reg.run_lcp), state.reg.trial_count,
               state.run_time_ms * 0.001);
}

// Takes the aligner's own long options out of argv; the rest goes to the kestrel parser.
bool split_options(int argc, const char* const* argv, AlignOptions& o,
                   std::vector<const char*>& rest, FILE* err, bool& help) {
  rest.push_back(argc > 0 ? argv[0] : "kestrel-align");
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    auto value = [&](const char* name) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(err, "Option %s needs a value.\n", name);
        return nullptr;
      }
      return argv[++i];
    };
    if (a == "--help") {
      help = true;
    } else if (a == "--delta") {
      const char* v = value("--delta");
      if (!v) return false;
      o.has_delta = true;
      o.delta = static_cast<float>(std::atof(v));
    } else if (a == "--ransac") {
      o.ransac = true;
    } else if (a == "--random-position") {
      const char* v = value("--random-position");
      if (!v) return false;
      o.random_positions = std::atoi(v);
      if (o.random_positions < 0) {
        std::fprintf(err, "--random-position needs a count of 0 or more.\n");
        return false;
      }
    } else if (a == "--noise") {
      o.noise = true;
    } else if (a == "--icp") {
      o.icp = true;
    } else if (a == "--json") {
      o.json = true;
    } else if (a == "--out") {
      const char* v = value("--out");
      if (!v) return false;
      o.out = v;
    } else if (a == "--reconstruct") {
      const char* v = value("--reconstruct");
      if (!v) return false;
      o.reconstruct = v;
    } else if (a.rfind("--", 0) == 0) {
      std::fprintf(err, "Unrecognized option %s (see --help).\n", a.c_str());
      return false;
    } else {
      rest.push_back(argv[i]);
    }
  }
  return true;
}

}  // namespace

void print_align_help(const char* program, FILE* out) {
  std::fprintf(out,
               "Usage: %s [options of kestrel] [--delta D] [--ransac] [--random-position N]\n"
               "       [--noise] [--icp] [--out FILE] [--reconstruct FILE] [--json] P_FILE Q_FILE\n"
               "\n"
               "Aligns Q_FILE onto P_FILE without a window, doing what a user of kestrel would:\n"
               "load P, load Q, optionally turn Q and add noise, run, then write the results\n"
               "as key 'o' does.\n"
               "\n"
               "  --delta D            run tolerance in units of the point spacing (panel field\n"
               "                       \"delta\", default 0.9, 0 to 10)\n"
               "  --ransac             run the basic RANSAC instead of Kestrel\n"
               "  --random-position N  press \"Random position\" N times before the run\n"
               "  --noise              press \"Add noise\" before the run (-no sets the level)\n"
               "  --icp                refine with \"Start ICP\" after the run; the results then\n"
               "                       carry the refinement too\n"
               "  --out FILE           results file (default results.tfm)\n"
               "  --reconstruct FILE   also write both models joined into FILE\n"
               "  --json               print one JSON object with the outcome as the last line\n"
               "                       (with \"error\" when the run found no motion)\n"
               "  --help               this text\n"
               "\n"
               "Options of kestrel (-o overlap, -i isamp, -nd norm_diff, -d, ...): see -h.\n"
               "\n"
               "Exit status: 0 results written; 1 bad options or input files (-l included),\n"
               "or a result that cannot be written; 2 the run found no motion (nothing written).\n",
               program);
}

int align_main(int argc, const char* const* argv, FILE* out, FILE* err) {
  const char* program = argc > 0 ? argv[0] : "kestrel-align";
  AlignOptions o;
  std::vector<const char*> rest;
  bool help = false;
  if (!split_options(argc, argv, o, rest, err, help)) return 1;
  if (help) {
    print_align_help(program, out);
    return 0;
  }

  auto state = std::make_unique<AppState>();
  core::srand15(0);
  std::vector<std::string> files;
  switch (
      parse_command_line(static_cast<int>(rest.size()), rest.data(), state->params, err, &files)) {
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
  if (state->params.has_trans_file &&
      !read_trans_file(state->params.trans_file, state->params, &error)) {
    std::fprintf(err, "%s\n", error.c_str());
    return 1;
  }
  derive_parameters(state->params);
  if (o.has_delta) state->params.delta = std::min(10.0f, std::max(0.0f, o.delta));

  const registration::EngineHooks hooks;  // nothing to draw, no Escape to poll
  if (!load_model_p(*state, files[0], hooks, &error) ||
      !load_model_q(*state, files[1], hooks, &error))
    return 1;
  refresh_parameters(state->params);
  for (int i = 0; i < o.random_positions; ++i) on_random_position(*state);
  if (o.noise) on_add_noise(*state);
  if (o.ransac)
    on_start_ransac(*state, hooks);
  else
    on_start_kestrel(*state, hooks);
  std::fflush(stdout);
  const std::string no_motion = no_motion_reason(state->reg);
  if (!no_motion.empty()) {
    // A results file would carry an earlier or the identity motion as if the run had found it.
    std::fprintf(err, "%s\n", no_motion.c_str());
    if (o.json) {
      std::fprintf(out, "\n{");
      json_run_fields(out, *state);
      std::fprintf(out, ",\"error\":");
      json_string(out, no_motion);
      std::fprintf(out, "}\n");
    }
    std::fflush(out);
    return 2;
  }

  double refinement[4][4] = {};
  icp::IcpRefineResult icp_result;
  double icp_seconds = 0;
  if (o.icp) {
    const auto t0 = std::chrono::steady_clock::now();
    icp_result = on_start_icp(*state, hooks);
    icp_seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    if (!icp_result.ran) return 1;
    for (int r = 0; r < 4; ++r)
      for (int c = 0; c < 4; ++c) refinement[r][c] = icp_result.xf2(r, c);
  }

  ExportedMotion motion;
  if (!export_results(*state, o.out, o.reconstruct, &motion, &error,
                      o.icp ? refinement : nullptr)) {
    std::fprintf(err, "%s\n", error.c_str());
    return 1;
  }
  if (o.json) {
    std::fprintf(out, "\n{");
    json_run_fields(out, *state);
    std::fprintf(out, ",\"matrix\":");
    json_matrix(out, motion.m);
    if (o.icp) {
      std::fprintf(out, ",\"coarse_matrix\":");
      json_matrix(out, motion.coarse);
      std::fprintf(out, ",\"icp_error\":%.6g,\"icp_time_s\":%.3f",
                   static_cast<double>(icp_result.error), icp_seconds);
    }
    std::fprintf(out, "}\n");
  }
  std::fflush(out);
  return 0;
}

}  // namespace kestrel::app
