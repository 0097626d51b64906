#pragma once
// The records of one engine call (run_kestrel, run_ransac, run_any_pose in registration.h):
// what it searches, how, whom it tells along the way, and what it found. The engine reads its
// inputs and options and writes only its result; everything the window shows comes through
// the hooks.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "core/run_parameters.h"
#include "registration/any_pose/point_grid.h"
#include "registration/congruent/ann_index.h"

namespace kestrel::registration {

using NormalList = std::vector<std::array<double, 3>>;

// The working sets of the specified search. They must outlive the call and not change during it.
struct EngineInputs {
  const core::PointSet& p;  // P's working set: bases are drawn from it
  const AnnIndex& p_index;  // exact search over p's positions (LCP scoring)
  float point_spacing;      // typical spacing of p; run_tol = delta * point_spacing
  const core::PointSet& q;  // Q's working set: searched for congruent bases, scored by LCP
};

// The scans of the any-pose search. They must outlive the call and not change during it.
struct AnyPoseInputs {
  const core::PointSet& full_p;   // P at full resolution: thinned, and the result's polish
  const core::PointSet& full_q;   // Q at full resolution, unmoved: thinned
  const core::PointSet& model_p;  // the user's working P: the thinning keeps about its size
  const AnnIndex& p_index;        // over model_p: the reported LCP
  const core::PointSet& model_q;  // the user's working Q: the reported LCP is its share
  const GridToCome* full_p_grid = nullptr;  // a grid over full_p built beside the run, if any
};

// The specified search's settings (Kestrel and RANSAC); the app builds them from its run
// parameters.
struct EngineOptions {
  int32_t num_try = 4;       // trials at most
  float thr = 0.55f;         // LCP above which the run stops early
  float base_max_len = 110;  // longest triangle edge of a base (model units)
  int32_t margin = 0;        // 0: bases anywhere; 1/2: from the quarter of P of largest/smallest x
  float delta = 0.9f;        // run tolerance in units of point_spacing
  float scale_tol = 1.0f;    // 1 = rigid; otherwise tolerances widen and the affine step runs
  float normal_tol = 0.02f;  // tolerance of the normal-difference test of pairs
  bool first_selection = true;   // the first base of the process: a non-zero margin is the mode
  bool debug = false;            // print the timings and counts of every trial
  bool console = true;           // print the progress lines and the run time on stdout
  bool console_progress = true;  // with console: the "\r" progress lines too (off while a
                                 // caller shows its own progress line on the same terminal)
};

// The any-pose search's settings: everything else comes from the scans.
struct AnyPoseOptions {
  float overlap = 0;   // in (0, 1]: the stopping threshold and the base widths; otherwise the
                       // run stops when later bases confirm the best motion
  float delta = 0.9f;  // run tolerance in units of the thinned scans' spacing
  int32_t threads = core::kDefaultThreads;  // 1 or 2; the same motion either way
  int32_t max_trials = 0;  // > 0: at most this many trials (a caller with many pairs to try)
  // Motions from matched surface features compete with the search's (a caller that can use
  // only results the search's bases found again, such as the assembly, turns them off).
  bool feature_motions = true;
  bool debug = false;
  bool console = true;
  bool console_progress = true;
};

// Where a run stands, as reported to the on_step hook and the progress lines.
struct ProgressPoint {
  bool ransac = false;  // the two modes word their lines differently
  int trial = 0;        // trials begun in this run
  int num_try = 0;
  float lcp = 0;       // best LCP so far
  uint64_t pos = 0;    // candidate position
  uint64_t count = 0;  // candidates of the trial; 0 while they are still being found
  bool done = false;   // the run's trials are over (the last step, before its closing line)
};

// One candidate that beat the best LCP of the run.
struct Improvement {
  const core::RigidTransform& motion;  // carries Q onto P (centre and translation unrounded)
  float lcp;                           // its LCP, rounded to float
};

// The engine's links to whoever runs it; any of them may be empty.
struct EngineHooks {
  std::function<void()> repaint;      // draw a frame now
  std::function<bool()> should_stop;  // polled before each later trial and per candidate
  std::function<void(const Improvement&)> on_improvement;  // before the repaint that shows it
  std::function<void(const std::string&)> on_progress;     // the window's progress line
  std::function<void(const core::PointSet&)> on_base;      // a trial's base b0..b3
  // Where the run stands: at each trial's start (count 0), with every progress line and every
  // improvement, and once when the trials are over (done). Called often: pace any drawing.
  std::function<void(const ProgressPoint&)> on_step;

  void request_repaint() const {
    if (repaint) repaint();
  }
  bool stop() const { return should_stop && should_stop(); }
};

// Counts summed over the trials of a run.
struct EngineCounts {
  int64_t pairs_d1 = 0;              // IndexPair records of distance d1 (each pair counts twice)
  int64_t pairs_d2 = 0;              // the same for d2
  int64_t quads = 0;                 // congruent quads found
  int64_t candidates = 0;            // candidates scored by LCP
  int64_t lcp_early_exits = 0;       // scorings abandoned once they could no longer win
  int64_t normal_rejections = 0;     // candidates whose matched normals disagreed (any pose)
  int64_t presample_rejections = 0;  // candidates that failed on the sample of Q (any pose)
  int64_t polished = 0;              // candidates polished before comparison (any pose)
  int64_t near_polished = 0;         // candidates skipped for landing where a polished one did

  EngineCounts& operator+=(const EngineCounts& c) {
    pairs_d1 += c.pairs_d1;
    pairs_d2 += c.pairs_d2;
    quads += c.quads;
    candidates += c.candidates;
    lcp_early_exits += c.lcp_early_exits;
    normal_rejections += c.normal_rejections;
    presample_rejections += c.presample_rejections;
    polished += c.polished;
    near_polished += c.near_polished;
    return *this;
  }
};

// Wall time per stage, in milliseconds. Motion estimation is the candidate loop without the
// scoring, so it includes building the matches and polling the stop hook.
struct StageTimes {
  double base_selection = 0;
  double pair_extraction = 0;
  double quad_search = 0;
  double motion_estimation = 0;
  double lcp_scoring = 0;
  double normals = 0;  // any pose: thinning, fitting the normals and deriving the settings
  double polish = 0;   // any pose: polishing the best motion against the full P
  double features = 0;  // any pose: motions from matched surface features

  StageTimes& operator+=(const StageTimes& t) {
    base_selection += t.base_selection;
    pair_extraction += t.pair_extraction;
    quad_search += t.quad_search;
    motion_estimation += t.motion_estimation;
    lcp_scoring += t.lcp_scoring;
    normals += t.normals;
    polish += t.polish;
    features += t.features;
    return *this;
  }
};

// A motion that competed with the best and lies elsewhere (more than 5 degrees or 5 run
// tolerances from it and from every better alternative).
struct Alternative {
  core::RigidTransform motion;
  double score = 0;  // its LCP in the search (after a polish where the search polishes)
};

struct EngineResult {
  core::RigidTransform motion;  // the best motion (identity when nothing beat LCP 0)
  float best_lcp = 0;           // its LCP
  bool improved = false;        // some candidate beat LCP 0
  int32_t trials = 0;           // trials begun
  bool stopped = false;         // the should_stop hook ended the run
  bool confirmed = false;       // a later trial found the best motion again (any-pose stop)
  int32_t confirmations = 0;    // later trials (other bases) that found the best motion again
  bool by_features = false;     // the motion came from matched surface features, not a base
  std::vector<Alternative> alternatives;  // up to 3 distinct runners-up, best first
  EngineCounts counts;
  StageTimes times;
};

}  // namespace kestrel::registration
