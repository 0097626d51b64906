#include "app/command_line.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "core/transform_file.h"

namespace kestrel::app {

namespace {

enum class Kind { kNone, kFloat, kInt, kUInt, kDouble, kText, kToggle, kSet, kHelp, kNoise };

struct Option {
  const char* name;
  Kind kind;
  void* field;
};

// trunc(ln(0.00001) / ln(1 - overlap^4)); an overlap of 1 gives 0. An overlap outside (0, 1]
// from the command line would give no number at all: count it as 0 too.
int trial_base_count(float overlap) {
  const double o = overlap;
  const double l = std::log(0.00001) / std::log(1.0 - o * o * o * o);
  if (!std::isfinite(l) || l < 0 || l > 2e9) return 0;
  return static_cast<int>(l);
}

bool missing_value(int i, int needed, int argc, const char* option, const char* program,
                   FILE* err) {
  if (i + needed < argc) return false;
  std::fprintf(err, "Option %s needs %d value%s.\n", option, needed, needed > 1 ? "s" : "");
  print_usage(program, err);
  return true;
}

}  // namespace

void print_usage(const char* program, FILE* err) {
  std::fprintf(err, "\n\nUsage: %s set1(.obj,.vrt,.pct,.txt) set2(.obj,.vrt,.pct,.txt)\n", program);
  std::fprintf(err, "      [-w1 do_scale -w2 scale_tol -e epsilon -t thr]\n");
  std::fprintf(err,
               "      [-q base_max_len -no noise_level outl1 outl2 -cut cut_y -y num_try -s "
               "sample]\n");
  std::fprintf(err, "      [-m margin -dd min_draw_dist -sh shear]\n");
  std::fprintf(err, "      [-o overlap_estimation]\n");
  std::fprintf(err, "      [-l trans_file]\n");
  std::fprintf(err, "      [-i isamp]\n");
  std::fprintf(err, "      [-nd norm_diff]\n");
  std::fprintf(err, "      [-c -r -d]\n\n");
  std::fprintf(err, "-r:\tdo test with periodic patterns\n");
  std::fprintf(err, "-d:\tset debug to ON\n");
  std::fprintf(err, "-c:\tno centering\n");
}

ParseOutcome parse_command_line(int argc, const char* const* argv, core::RunParameters& params,
                                FILE* err, std::vector<std::string>* positional) {
  const char* program = argc > 0 ? argv[0] : "kestrel";
  const Option options[] = {
      {"-h", Kind::kHelp, nullptr},
      {"-sh", Kind::kFloat, &params.shear},
      {"-l", Kind::kText, &params.trans_file},
      {"-i", Kind::kUInt, &params.isamp},
      {"-dd", Kind::kFloat, &params.min_draw_dist},
      {"-nd", Kind::kFloat, &params.norm_diff},
      {"-o", Kind::kFloat, &params.overlap_estimation},
      {"-w1", Kind::kFloat, &params.do_scale},
      {"-r", Kind::kSet, &params.periodic_test},
      {"-w2", Kind::kFloat, &params.scale_tol},
      {"-m", Kind::kInt, &params.margin},
      {"-q", Kind::kFloat, &params.base_max_len},
      {"-cut", Kind::kFloat, &params.cut_y},
      {"-no", Kind::kNoise, nullptr},
      {"-s", Kind::kInt, &params.sample},
      {"-y", Kind::kInt, &params.num_try},
      {"-c", Kind::kToggle, &params.centering},
      {"-e", Kind::kDouble, &params.epsilon},
      {"-d", Kind::kSet, &params.debug},
      {"-f", Kind::kFloat, &params.delta_default},
      {"-t", Kind::kFloat, &params.thr},
  };

  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    const Option* match = nullptr;
    for (const Option& o : options)
      if (std::strcmp(arg, o.name) == 0) match = &o;
    if (!match) {
      if (arg[0] == '-') {
        // The whole word, as given: "-x" reads as before, and a lone "-" prints no NUL byte.
        std::fprintf(err, "Unrecognized option.(%s)\n", arg);
        return ParseOutcome::kExitFailure;
      }
      if (positional) positional->emplace_back(arg);
      continue;
    }
    switch (match->kind) {
      case Kind::kHelp:
        print_usage(program, err);
        return ParseOutcome::kExitSuccess;
      case Kind::kSet:
        *static_cast<bool*>(match->field) = true;
        break;
      case Kind::kToggle:
        *static_cast<bool*>(match->field) = !*static_cast<bool*>(match->field);
        break;
      case Kind::kNoise:
        if (missing_value(i, 3, argc, arg, program, err)) return ParseOutcome::kExitFailure;
        params.noise_level = static_cast<float>(std::atof(argv[++i]));
        params.outl1 = static_cast<float>(std::atof(argv[++i]));
        params.outl2 = static_cast<float>(std::atof(argv[++i]));
        break;
      default: {
        if (missing_value(i, 1, argc, arg, program, err)) return ParseOutcome::kExitFailure;
        const char* value = argv[++i];
        if (match->kind == Kind::kFloat) {
          *static_cast<float*>(match->field) = static_cast<float>(std::atof(value));
        } else if (match->kind == Kind::kDouble) {
          *static_cast<double*>(match->field) = std::atof(value);
        } else if (match->kind == Kind::kInt) {
          *static_cast<int32_t*>(match->field) = std::atoi(value);
        } else if (match->kind == Kind::kText) {
          params.trans_file = value;
          params.has_trans_file = true;
        } else {
          // The reader divides the point count by isamp, so it must be at least 1.
          const int v = std::atoi(value);
          if (v < 1) {
            std::fprintf(err, "Option -i needs a whole number of at least 1.\n");
            print_usage(program, err);
            return ParseOutcome::kExitFailure;
          }
          *static_cast<uint32_t*>(match->field) = static_cast<uint32_t>(v);
        }
      }
    }
  }
  return ParseOutcome::kContinue;
}

bool read_trans_file(const std::string& name, core::RunParameters& params, std::string* error) {
  if (core::read_transform_file(name, params.trans_matrix, error)) return true;
  params.has_trans_file = false;  // refused as a whole: Q is loaded as it is in its file
  return false;
}

void derive_parameters(core::RunParameters& params) {
  if (params.thr == -1) params.thr = static_cast<float>(params.overlap_estimation * 1.1);
  if (params.base_max_len == -1) params.base_max_len = params.overlap_estimation * 256;
  if (params.num_try == -1) {
    const int l = trial_base_count(params.overlap_estimation);
    const float n = static_cast<float>(5 * l) / params.base_max_len;
    params.num_try = n >= 1 && n < 2e9f ? static_cast<int>(n) : 1;
  }
  if (!params.centering) params.do_scale = 1.0f;
}

void refresh_parameters(core::RunParameters& params) {
  params.delta_default = params.delta * params.point_spacing;
  params.epsilon = params.delta_default;
  params.base_max_len = params.overlap_estimation * params.model_extent * 2;
  const int l = trial_base_count(params.overlap_estimation);
  if (params.base_max_len > 0) {
    const double n = l * 80.0 / params.base_max_len;
    params.num_try = n < 2e9 ? static_cast<int>(n) : 2000000000;
  } else {
    params.num_try = 0;  // no model yet: counts as below the minimum
  }
  params.thr = params.overlap_estimation;
  if (params.num_try < 4) params.num_try = 4;
}

}  // namespace kestrel::app
