#include "app/run_options.h"

#include <cassert>
#include <cstdint>
#include <iterator>
#include <limits>

namespace kestrel::app {

namespace {

#define PARAM(f) [](core::RunParameters& p, AlignOptions&, int) -> void* { return &p.f; }
#define ALIGN(f) [](core::RunParameters&, AlignOptions& a, int) -> void* { return &a.f; }

constexpr float kNone = 1, kNo = 0;  // lo > hi: no panel limits

// Ranges of the values. Lengths, tolerances and scales are in model units: the point files'
// coordinates are read as floats, and past a million the squared distances that the searches form
// in float keep no useful precision, so larger values cannot give a meaningful run.
constexpr double kMaxFloat = std::numeric_limits<float>::max();
constexpr double kMaxInt = std::numeric_limits<int32_t>::max();
constexpr double kMaxLength = 1e6;
// Below this overlap the trial formula ln(0.00001) / ln(1 - overlap^4) passes two billion and
// gives no trial count (so the fewest trials where it asks for the most).
constexpr double kMinOverlap = 0.0088;

constexpr ValueRange kNoValue{0, 0};
constexpr ValueRange kAnyFinite{-kMaxFloat, kMaxFloat};  // stored, or soon derived anew
constexpr ValueRange kAnyDouble{-std::numeric_limits<double>::max(),
                                std::numeric_limits<double>::max()};
constexpr ValueRange kLength{-kMaxLength, kMaxLength};   // a position or signed length
constexpr ValueRange kNonNegativeLength{0, kMaxLength};  // a tolerance or limit
constexpr ValueRange kScale{0, kMaxLength, true};        // a factor: 0 would collapse Q
constexpr ValueRange kOverlap{kMinOverlap, kMaxLength};  // above 1 the bases are unlimited
constexpr ValueRange kMargin{0, 2};                      // bases anywhere, right or left
constexpr ValueRange kPositiveCount{1, kMaxInt};
constexpr ValueRange kCount{0, kMaxInt};
constexpr ValueRange kPresses{0, 1e9};
constexpr ValueRange kSeconds{0, 1e9, true};
constexpr ValueRange kThreads{1, 2};

// -no sets three fields in turn.
void* noise_field(core::RunParameters& p, AlignOptions&, int k) {
  return k == 0 ? &p.noise_level : k == 1 ? &p.outl1 : &p.outl2;
}

using K = OptionKind;

// Every option, kestrel's first in the order of its usage text, then the aligner's own.
const RunOption kTable[] = {
    // kestrel, in the order of its usage text
    {"-h", K::kUsage, "", -1, "", 0, kNone, kNo, nullptr, kNoValue},
    {"-w1", K::kFloat, "do_scale", 1, "", 0, kNone, kNo, PARAM(do_scale), kScale},
    {"-w2", K::kFloat, "scale_tol", 1, "", 0, kNone, kNo, PARAM(scale_tol), kLength},
    {"-e", K::kDouble, "epsilon", 1, "", 0, kNone, kNo, PARAM(epsilon), kAnyDouble},
    {"-t", K::kFloat, "thr", 1, "", 0, kNone, kNo, PARAM(thr), kAnyFinite},
    {"-q", K::kFloat, "base_max_len", 2, "", 0, kNone, kNo, PARAM(base_max_len), kAnyFinite},
    {"-no", K::kThreeFloats, "noise_level outl1 outl2", 2, "", 0, kNone, kNo, noise_field, kLength},
    {"-cut", K::kFloat, "cut_y", 2, "", 0, kNone, kNo, PARAM(cut_y), kLength},
    {"-y", K::kInt, "num_try", 2, "", 0, kNone, kNo, PARAM(num_try), kPositiveCount},
    {"-s", K::kInt, "sample", 2, "", 0, kNone, kNo, PARAM(sample), kCount},
    {"-m", K::kInt, "margin", 3, "", 0, kNone, kNo, PARAM(margin), kMargin},
    {"-dd", K::kFloat, "min_draw_dist", 3, "", 0, kNone, kNo, PARAM(min_draw_dist),
     kNonNegativeLength},
    {"-sh", K::kFloat, "shear", 3, "", 0, kNone, kNo, PARAM(shear), kAnyFinite},
    {"-o", K::kFloat, "overlap_estimation", 4, "", 0, 0.1f, 1.0f, PARAM(overlap_estimation),
     kOverlap},
    {"-l", K::kText, "trans_file", 5, "", 0, kNone, kNo, PARAM(trans_file), kNoValue},
    // The reader divides the point count by isamp, so it must be at least 1.
    {"-i", K::kInt, "isamp", 6, "", 0, kNone, kNo, PARAM(isamp), kPositiveCount},
    {"-nd", K::kFloat, "norm_diff", 7, "", 0, kNone, kNo, PARAM(norm_diff), kNonNegativeLength},
    {"-c", K::kToggle, "", 8, "no centering", 3, kNone, kNo, PARAM(centering), kNoValue},
    {"-r", K::kSet, "", 8, "do test with periodic patterns", 1, kNone, kNo, PARAM(periodic_test),
     kNoValue},
    {"-d", K::kSet, "", 8, "set debug to ON", 2, kNone, kNo, PARAM(debug), kNoValue},
    {"-f", K::kFloat, "delta_default", -1, "", 0, kNone, kNo, PARAM(delta_default), kAnyFinite},
    // the aligner's own
    {"--delta", K::kClampedFloat, "D", 0,
     "run tolerance in units of the point spacing (panel field\n\"delta\", default 0.9, 0 to 10)",
     0, 0.0f, 10.0f, PARAM(delta), kAnyFinite},
    {"--any-pose", K::kSet, "", 0,
     "search in any orientation without -o: normals fitted in 3D,\nsettings taken from the "
     "scans (see README); -t, -q and -y are\nrefused with it, as it sets its own",
     0, kNone, kNo, PARAM(any_pose), kNoValue},
    {"--threads", K::kInt, "N", 0,
     "threads of the any-pose search and the ICP, 1 or 2 (default\n2); the results are the "
     "same either way",
     0, kNone, kNo, PARAM(threads), kThreads},
    {"--ransac", K::kSet, "", 0, "run the basic RANSAC instead of Kestrel", 0, kNone, kNo,
     ALIGN(ransac), kNoValue},
    {"--random-position", K::kInt, "N", 0, "press \"Random position\" N times before the run", 0,
     kNone, kNo, ALIGN(random_positions), kPresses},
    {"--noise", K::kSet, "", 0, "press \"Add noise\" before the run (-no sets the level)", 0, kNone,
     kNo, ALIGN(noise), kNoValue},
    {"--max-seconds", K::kFloat, "S", 0,
     "stop the run (and its ICP) after S seconds as Escape does,\nkeeping the best motion so far "
     "(not refined by --icp);\nCtrl-C does the same (a second one ends the program)",
     0, kNone, kNo, ALIGN(max_seconds), kSeconds},
    {"--icp", K::kSet, "", 0,
     "refine with \"Start ICP\" after a run that was not stopped;\nthe results then carry "
     "the refinement too",
     0, kNone, kNo, ALIGN(icp), kNoValue},
    {"--out", K::kText, "FILE", 0,
     "results file (default results.tfm); outputs replace only\nregular files, never an input, and "
     "are all written or none",
     0, kNone, kNo, ALIGN(out), kNoValue},
    {"--reconstruct", K::kText, "FILE", 0, "also write both models joined into FILE", 0, kNone, kNo,
     ALIGN(reconstruct), kNoValue},
    {"--matrix", K::kText, "FILE", 0,
     "also write the motion as a plain 4x4 matrix (four lines\nof four numbers, full precision)", 0,
     kNone, kNo, ALIGN(matrix), kNoValue},
    {"--json", K::kSet, "", 0,
     "print one JSON object with the outcome as the last line\n(with \"error\" when no motion "
     "was found or a step failed)",
     0, kNone, kNo, ALIGN(json), kNoValue},
    {"--profile", K::kSet, "", 0,
     "print the engine's time per stage and its counts after the\nrun (with --json, in the "
     "object's \"profile\")",
     0, kNone, kNo, ALIGN(profile), kNoValue},
    {"--quiet", K::kSet, "", 0,
     "no progress lines: neither the line drawn on standard error\non a terminal nor the run's "
     "\"\\r\" trial lines on standard output",
     0, kNone, kNo, ALIGN(quiet), kNoValue},
    {"--help", K::kAlignHelp, "", 0, "this text", 0, kNone, kNo, nullptr, kNoValue},
};

}  // namespace

const std::vector<RunOption>& run_options() {
  static const std::vector<RunOption> table(std::begin(kTable), std::end(kTable));
  return table;
}

const RunOption& run_option(const std::string& name) {
  for (const RunOption& o : run_options())
    if (name == o.name) return o;
  assert(false && "no such option in the table");
  return run_options().front();
}

}  // namespace kestrel::app
