#include "app/run_options.h"

#include <cassert>

namespace kestrel::app {

namespace {

#define PARAM(f) [](core::RunParameters& p, AlignOptions&, int) -> void* { return &p.f; }
#define ALIGN(f) [](core::RunParameters&, AlignOptions& a, int) -> void* { return &a.f; }

constexpr float kNone = 1, kNo = 0;  // lo > hi: no limits
constexpr float kMaxCount = 1e9f;

// -no sets three fields in turn.
void* noise_field(core::RunParameters& p, AlignOptions&, int k) {
  return k == 0 ? &p.noise_level : k == 1 ? &p.outl1 : &p.outl2;
}

}  // namespace

const std::vector<RunOption>& run_options() {
  using K = OptionKind;
  static const std::vector<RunOption> table = {
      // kestrel, in the order of its usage text
      {"-h", K::kUsage, "", -1, "", 0, kNone, kNo, nullptr},
      {"-w1", K::kFloat, "do_scale", 1, "", 0, kNone, kNo, PARAM(do_scale)},
      {"-w2", K::kFloat, "scale_tol", 1, "", 0, kNone, kNo, PARAM(scale_tol)},
      {"-e", K::kDouble, "epsilon", 1, "", 0, kNone, kNo, PARAM(epsilon)},
      {"-t", K::kFloat, "thr", 1, "", 0, kNone, kNo, PARAM(thr)},
      {"-q", K::kFloat, "base_max_len", 2, "", 0, kNone, kNo, PARAM(base_max_len)},
      {"-no", K::kThreeFloats, "noise_level outl1 outl2", 2, "", 0, kNone, kNo, noise_field},
      {"-cut", K::kFloat, "cut_y", 2, "", 0, kNone, kNo, PARAM(cut_y)},
      {"-y", K::kInt, "num_try", 2, "", 0, kNone, kNo, PARAM(num_try)},
      {"-s", K::kInt, "sample", 2, "", 0, kNone, kNo, PARAM(sample)},
      {"-m", K::kInt, "margin", 3, "", 0, kNone, kNo, PARAM(margin)},
      {"-dd", K::kFloat, "min_draw_dist", 3, "", 0, kNone, kNo, PARAM(min_draw_dist)},
      {"-sh", K::kFloat, "shear", 3, "", 0, kNone, kNo, PARAM(shear)},
      {"-o", K::kFloat, "overlap_estimation", 4, "", 0, 0.1f, 1.0f, PARAM(overlap_estimation)},
      {"-l", K::kText, "trans_file", 5, "", 0, kNone, kNo, PARAM(trans_file)},
      // The reader divides the point count by isamp, so it must be at least 1.
      {"-i", K::kInt, "isamp", 6, "", 0, 1, kMaxCount, PARAM(isamp)},
      {"-nd", K::kFloat, "norm_diff", 7, "", 0, kNone, kNo, PARAM(norm_diff)},
      {"-c", K::kToggle, "", 8, "no centering", 3, kNone, kNo, PARAM(centering)},
      {"-r", K::kSet, "", 8, "do test with periodic patterns", 1, kNone, kNo, PARAM(periodic_test)},
      {"-d", K::kSet, "", 8, "set debug to ON", 2, kNone, kNo, PARAM(debug)},
      {"-f", K::kFloat, "delta_default", -1, "", 0, kNone, kNo, PARAM(delta_default)},
      // the aligner's own
      {"--delta", K::kClampedFloat, "D", 0,
       "run tolerance in units of the point spacing (panel field\n\"delta\", default 0.9, 0 to 10)",
       0, 0.0f, 10.0f, PARAM(delta)},
      {"--any-pose", K::kSet, "", 0,
       "search in any orientation without -o: normals fitted in 3D,\nsettings taken from the "
       "scans (see README)",
       0, kNone, kNo, PARAM(any_pose)},
      {"--ransac", K::kSet, "", 0, "run the basic RANSAC instead of Kestrel", 0, kNone, kNo,
       ALIGN(ransac)},
      {"--random-position", K::kInt, "N", 0, "press \"Random position\" N times before the run", 0,
       0, kMaxCount, ALIGN(random_positions)},
      {"--noise", K::kSet, "", 0, "press \"Add noise\" before the run (-no sets the level)", 0,
       kNone, kNo, ALIGN(noise)},
      {"--icp", K::kSet, "", 0,
       "refine with \"Start ICP\" after the run; the results then\ncarry the refinement too", 0,
       kNone, kNo, ALIGN(icp)},
      {"--out", K::kText, "FILE", 0, "results file (default results.tfm)", 0, kNone, kNo,
       ALIGN(out)},
      {"--reconstruct", K::kText, "FILE", 0, "also write both models joined into FILE", 0, kNone,
       kNo, ALIGN(reconstruct)},
      {"--matrix", K::kText, "FILE", 0,
       "also write the motion as a plain 4x4 matrix (four lines\nof four numbers, full precision)",
       0, kNone, kNo, ALIGN(matrix)},
      {"--json", K::kSet, "", 0, "print one JSON object with the outcome as the last line", 0,
       kNone, kNo, ALIGN(json)},
      {"--profile", K::kSet, "", 0,
       "print the engine's time per stage and its counts after the\nrun (with --json, in the "
       "object's \"profile\")",
       0, kNone, kNo, ALIGN(profile)},
      {"--quiet", K::kSet, "", 0,
       "no progress line (drawn on standard error while the run\nworks, only when it is a "
       "terminal)",
       0, kNone, kNo, ALIGN(quiet)},
      {"--help", K::kAlignHelp, "", 0, "this text", 0, kNone, kNo, nullptr},
  };
  return table;
}

const RunOption& run_option(const std::string& name) {
  for (const RunOption& o : run_options())
    if (name == o.name) return o;
  assert(false && "no such option in the table");
  return run_options().front();
}

}  // namespace kestrel::app
