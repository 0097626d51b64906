#include "app/command_line.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "core/point_formats.h"
#include "core/transform_file.h"

namespace kestrel::app {

namespace {

// trunc(ln(0.00001) / ln(1 - overlap^4)); an overlap of 1 gives 0. An overlap outside (0, 1]
// from the command line would give no number at all: count it as 0 too.
int trial_base_count(float overlap) {
  const double o = overlap;
  const double l = std::log(0.00001) / std::log(1.0 - o * o * o * o);
  if (!std::isfinite(l) || l < 0 || l > 2e9) return 0;
  return static_cast<int>(l);
}

int value_count(OptionKind kind) {
  switch (kind) {
    case OptionKind::kUsage:
    case OptionKind::kAlignHelp:
    case OptionKind::kSet:
    case OptionKind::kToggle:
      return 0;
    case OptionKind::kThreeFloats:
      return 3;
    default:
      return 1;
  }
}

// Records that the option was given where a later step must know it: -o for the any-pose
// search, -t, -q and -y for the refresh of a headless run (-1 asks for the derived value).
void note_given(const RunOption& o, core::RunParameters& params) {
  const std::string name = o.name;
  if (name == "-o") params.overlap_given = true;
  if (name == "-t") params.thr_given = params.thr != -1;
  if (name == "-q") params.base_max_len_given = params.base_max_len != -1;
  if (name == "-y") params.num_try_given = true;
}

// l * 80 trials per unit of base length, and at least 4 (also before a model gives a length).
int32_t refreshed_trials(const core::RunParameters& params) {
  const int l = trial_base_count(params.overlap_estimation);
  int32_t n = 0;
  if (params.base_max_len > 0) {
    const double t = l * 80.0 / params.base_max_len;
    n = t < 2e9 ? static_cast<int32_t>(t) : 2000000000;
  }
  return std::max(n, int32_t{4});
}

// Where the parser writes and what it knows of the program it parses for.
struct ParseContext {
  const char* program;
  bool aligner;  // kestrel-align: the aligner's own options count too
  FILE* out;
  FILE* err;
};

ParseOutcome refuse(const ParseContext& ctx, const RunOption& o, const std::string& message) {
  std::fprintf(ctx.err, "%s\n", message.c_str());
  if (o.usage_line != 0)
    print_usage(ctx.program, ctx.err);
  else
    std::fprintf(ctx.err, "(see --help)\n");
  return ParseOutcome::kExitFailure;
}

// Reads `word` as a value of option `o`: the whole word must be a number (a whole number for
// kInt) within the option's range; false otherwise.
bool read_value(const RunOption& o, const char* word, double& value) {
  if (*word == '\0' || std::isspace(static_cast<unsigned char>(*word))) return false;
  char* end = nullptr;
  errno = 0;
  if (o.kind == OptionKind::kInt) {
    const long long v = std::strtoll(word, &end, 10);
    value = static_cast<double>(v);
  } else {
    value = std::strtod(word, &end);
  }
  if (*end != '\0' || errno == ERANGE || !std::isfinite(value)) return false;
  const ValueRange& r = o.range;
  return (r.lo_open ? value > r.lo : value >= r.lo) && value <= r.hi;
}

// "needs a number from 0 to 2", worded for the range and kind of `o`.
std::string range_text(const RunOption& o) {
  const ValueRange& r = o.range;
  const bool whole = o.kind == OptionKind::kInt;
  const auto number = [](double v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%g", v);
    return std::string(buf);
  };
  const std::string kind = whole ? "a whole number" : "a number";
  if (r.hi == std::numeric_limits<int32_t>::max()) return kind + " of at least " + number(r.lo);
  return kind +
         (r.lo_open ? " above " + number(r.lo) + " and at most "
                    : " from " + number(r.lo) + " to ") +
         number(r.hi);
}

ParseOutcome refuse_value(const ParseContext& ctx, const RunOption& o, const char* word) {
  return refuse(
      ctx, o,
      std::string("Option ") + o.name + " needs " + range_text(o) + " (got \"" + word + "\").");
}

// Applies option `o` at argv[i], consuming its values (i moves past them).
ParseOutcome apply(const ParseContext& ctx, const RunOption& o, int& i, int argc,
                   const char* const* argv, core::RunParameters& params, AlignOptions& align) {
  const int needed = value_count(o.kind);
  if (i + needed >= argc)
    return refuse(ctx, o,
                  std::string("Option ") + o.name + " needs " + std::to_string(needed) +
                      (needed > 1 ? " values." : " value."));
  double v[3] = {};
  for (int k = 0; k < needed && o.kind != OptionKind::kText; ++k)
    if (!read_value(o, argv[i + 1 + k], v[k])) return refuse_value(ctx, o, argv[i + 1 + k]);
  void* field = o.field ? o.field(params, align, 0) : nullptr;
  switch (o.kind) {
    case OptionKind::kUsage:
      print_usage(ctx.program, ctx.err);
      return ParseOutcome::kExitSuccess;
    case OptionKind::kAlignHelp:
      print_align_help(ctx.program, ctx.out);
      return ParseOutcome::kExitSuccess;
    case OptionKind::kSet:
      *static_cast<bool*>(field) = true;
      break;
    case OptionKind::kToggle:
      *static_cast<bool*>(field) = !*static_cast<bool*>(field);
      break;
    case OptionKind::kThreeFloats:
      for (int k = 0; k < 3; ++k)
        *static_cast<float*>(o.field(params, align, k)) = static_cast<float>(v[k]);
      i += 3;
      break;
    case OptionKind::kFloat:
      *static_cast<float*>(field) = static_cast<float>(v[0]);
      ++i;
      break;
    case OptionKind::kClampedFloat:
      *static_cast<float*>(field) = std::min(o.hi, std::max(o.lo, static_cast<float>(v[0])));
      ++i;
      break;
    case OptionKind::kDouble:
      *static_cast<double*>(field) = v[0];
      ++i;
      break;
    case OptionKind::kInt:
      // Also isamp, unsigned: its range keeps it positive.
      *static_cast<int32_t*>(field) = static_cast<int32_t>(v[0]);
      ++i;
      break;
    case OptionKind::kText:
      *static_cast<std::string*>(field) = argv[++i];
      break;
  }
  return ParseOutcome::kContinue;
}

ParseOutcome parse_options(const ParseContext& ctx, int argc, const char* const* argv,
                           core::RunParameters& params, AlignOptions& align,
                           std::vector<std::string>* positional) {
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const RunOption* match = nullptr;
    for (const RunOption& o : run_options())
      if ((ctx.aligner || o.usage_line != 0) && std::strcmp(arg, o.name) == 0) match = &o;
    if (match) {
      const ParseOutcome outcome = apply(ctx, *match, i, argc, argv, params, align);
      if (outcome != ParseOutcome::kContinue) return outcome;
      note_given(*match, params);
    } else if (ctx.aligner && std::strncmp(arg, "--", 2) == 0) {
      std::fprintf(ctx.err, "Unrecognized option %s (see --help).\n", arg);
      return ParseOutcome::kExitFailure;
    } else if (arg[0] == '-') {
      // The whole word, as given: "-x" reads as before, and a lone "-" prints no NUL byte.
      std::fprintf(ctx.err, "Unrecognized option.(%s)\n", arg);
      return ParseOutcome::kExitFailure;
    } else if (positional) {
      positional->emplace_back(arg);
    }
  }
  return ParseOutcome::kContinue;
}

}  // namespace

void print_usage(const char* program, FILE* err) {
  // Only the formats marked in_usage: the wording of this line is fixed, later formats stay out.
  const std::string endings = core::joined_endings(core::FormatList::kUsage, ".", ",");
  std::fprintf(err, "\n\nUsage: %s set1(%s) set2(%s)\n", program, endings.c_str(), endings.c_str());
  constexpr int kUsageLines = 8;
  for (int line = 1; line <= kUsageLines; ++line) {
    std::string text;
    for (const RunOption& o : run_options()) {
      if (o.usage_line != line) continue;
      if (!text.empty()) text += " ";
      text += o.name;
      if (*o.values) text = text + " " + o.values;
    }
    std::fprintf(err, "      [%s]\n", text.c_str());
  }
  std::fprintf(err, "\n");
  for (int order = 1;; ++order) {
    const RunOption* note = nullptr;
    for (const RunOption& o : run_options())
      if (o.note_order == order) note = &o;
    if (!note) break;
    std::fprintf(err, "%s:\t%s\n", note->name, note->help);
  }
}

void print_align_help(const char* program, FILE* out) {
  std::string synopsis = "Usage: " + std::string(program) + " [options of kestrel]";
  // The synopsis wraps before 90 columns, continuing under the options.
  auto add = [&synopsis](const std::string& word) {
    const size_t newline = synopsis.rfind('\n');
    const size_t line_start = newline == std::string::npos ? 0 : newline;
    if (synopsis.size() - line_start + word.size() + 1 > 90) synopsis += "\n      ";
    synopsis += " " + word;
  };
  std::string lines;
  for (const RunOption& o : run_options()) {
    if (o.usage_line != 0) continue;
    const std::string word = std::string(o.name) + (*o.values ? " " + std::string(o.values) : "");
    if (o.kind != OptionKind::kAlignHelp) add("[" + word + "]");
    char head[64];
    std::snprintf(head, sizeof head, "  %-20s ", word.c_str());
    std::string help = o.help;
    for (size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
      help.insert(at + 1, std::string(23, ' '));
    lines += head + help + "\n";
  }
  add("P_FILE Q_FILE");
  std::fprintf(
      out,
      "%s\n\n"
      "Aligns Q_FILE onto P_FILE without a window, doing what a user of kestrel would:\n"
      "load P, load Q, optionally turn Q and add noise, run, then write the results\n"
      "as key 'o' does.\n\n%s\n"
      "Options of kestrel (-o overlap, -i isamp, -nd norm_diff, -d, ...): see -h.\n"
      "\n"
      "Every result ends with a line \"Verdict: confident|uncertain|no_match (...)\": the\n"
      "fit measured on the full scans (the share of Q lying on P's surface, how firmly\n"
      "it holds, other motions that fit as well); --json adds \"verdict\", \"evidence\"\n"
      "and \"alternatives\".\n\n"
      "Exit status: 0 results written and the verdict confident; 3 results written\n"
      "but not confident (the files hold the best guess); 2 the run found no motion\n"
      "(nothing written); 1 bad options or input files (-l included), or a result that\n"
      "cannot be written.\n",
      synopsis.c_str(), lines.c_str());
}

ParseOutcome parse_command_line(int argc, const char* const* argv, core::RunParameters& params,
                                FILE* err, std::vector<std::string>* positional) {
  AlignOptions unused;
  const ParseContext ctx{argc > 0 ? argv[0] : "kestrel", false, err, err};
  return parse_options(ctx, argc, argv, params, unused, positional);
}

ParseOutcome parse_align_command_line(int argc, const char* const* argv,
                                      core::RunParameters& params, AlignOptions& align,
                                      std::vector<std::string>& files, FILE* out, FILE* err) {
  const ParseContext ctx{argc > 0 ? argv[0] : "kestrel-align", true, out, err};
  return parse_options(ctx, argc, argv, params, align, &files);
}

bool read_trans_file(const std::string& name, core::RunParameters& params, std::string* error) {
  if (core::read_transform_file(name, params.trans_matrix, error)) return true;
  params.trans_file.clear();  // refused as a whole: Q is loaded as it is in its file
  return false;
}

void derive_parameters(core::RunParameters& params) {
  if (params.thr == -1) params.thr = static_cast<float>(params.overlap_estimation * 1.1);
  if (params.base_max_len == -1) params.base_max_len = params.overlap_estimation * 256;
  if (params.num_try == -1) {
    const int l = trial_base_count(params.overlap_estimation);
    // 5 * L in 64 bits: L reaches two billion for the smallest overlaps.
    const float n = static_cast<float>(5 * static_cast<int64_t>(l)) / params.base_max_len;
    params.num_try = !(n >= 1) ? 1 : n < 2e9f ? static_cast<int>(n) : 2000000000;
  }
  if (!params.centering) params.do_scale = 1.0f;
}

void refresh_parameters(core::RunParameters& params) {
  // The window recomputes all three on every idle cycle, whatever the command line said; a
  // headless run, with no idle cycle, keeps the values it was given.
  const bool keep = params.headless;
  params.delta_default = params.delta * params.point_spacing;
  params.epsilon = params.delta_default;
  if (!(keep && params.base_max_len_given))
    params.base_max_len = params.overlap_estimation * params.model_extent * 2;
  if (!(keep && params.num_try_given)) params.num_try = refreshed_trials(params);
  if (!(keep && params.thr_given)) params.thr = params.overlap_estimation;
}

}  // namespace kestrel::app
