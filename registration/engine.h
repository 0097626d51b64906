#pragma once
// The records of one engine call (run_kestrel, run_ransac in run_registration.h): what it
// searches, how, whom it tells along the way, and what it found. The engine reads its inputs
// and options and writes only its result; everything the window shows comes through the hooks.

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/ann_index.h"

namespace kestrel::registration {

using NormalList = std::vector<std::array<double, 3>>;

// The working sets. They must outlive the call and not change during it.
struct EngineInputs {
  const core::PointSet& p;  // P's working set: bases are drawn from it
  const AnnIndex& p_index;  // exact search over p's positions (LCP scoring)
  float point_spacing;      // typical spacing of p; run_tol = delta * point_spacing
  const core::PointSet& q;  // Q's working set: searched for congruent bases, scored by LCP
  // Normals that replace the sets' own in the base and pair tests: one per point, or null to
  // use the normals the sets carry.
  const NormalList* p_normals = nullptr;
  const NormalList* q_normals = nullptr;
};

// The engine's settings; the app builds them from its run parameters.
struct EngineOptions {
  int32_t num_try = 4;         // trials at most
  float thr = 0.55f;           // LCP above which the run stops early
  float base_max_len = 110;    // longest triangle edge of a base (model units)
  int32_t margin = 0;          // 0: bases anywhere; 1/2: from the quarter of P of largest/smallest x
  float delta = 0.9f;          // run tolerance in units of point_spacing
  float scale_tol = 1.0f;      // 1 = rigid; otherwise tolerances widen and the affine step runs
  float normal_tol = 0.02f;    // tolerance of the normal-difference test of pairs
  bool first_selection = true; // the first base of the process: a non-zero margin is the mode
  bool debug = false;          // print the timings and counts of every trial
  // The any-pose search; the defaults keep the behaviour above unchanged.
  float min_fourth_distance = 10.0f;  // the fourth base point's least distance from the triangle
  std::vector<float> base_len_cycle;  // not empty: trial i draws bases up to entry i % size
                                      // instead of base_max_len, the fourth point kept
                                      // min_fourth_share of that length away
  float min_fourth_share = 0;
  bool exact_invariants = false;      // intersection at r1 on d1 pairs and r2 on d2 pairs only,
                                      // found through a grid
  float normal_agreement = -2;        // > -1: the four matched normals, turned by a candidate,
                                      // must agree with P's within this cosine, one sign for all
  bool oriented_pairs = false;        // pairs also match their normals' angles with the
                                      // segment, read from a table of Q's pairs by length
  int32_t max_pairs = 0;              // with oriented_pairs, > 0: at most this many pairs of
  int32_t max_quads = 0;              // each length and quads a trial, spread evenly
  float polish_share = 0.6f;          // with the polish hook: candidates within this share of
                                      // the bar are polished, then compared
  int32_t lcp_presample = 0;          // > 0: every n-th point of Q scores a candidate first
  bool mask_scoring = false;          // score through a mask of the space near P (one lookup a
                                      // point; the radius blurred by an eighth or so)
  bool grid_scoring = false;          // score through a grid over P instead of the kd-tree
                                      // (the same LCP, faster)
  float confirm_share = 0;            // > 0: stop when confirm_count later trials find the best
                                      // motion again with at least this share of its LCP
  int32_t confirm_count = 1;
  float confirm_degrees = 10;         // "again": turned by less than this from the best motion
  float confirm_tolerances = 5;       // and Q's centroid within this many run tolerances
  bool trial_rounds = false;          // trials two at a time from one state (trial_rounds.h)
  int32_t threads = 1;                // with trial_rounds: 2 runs the second trial on its own thread
  bool console = true;         // print the progress lines and the run time on stdout
  bool console_progress = true;  // with console: the "\r" progress lines too (off while a
                                 // caller shows its own progress line on the same terminal)
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
  // A candidate that scores near the best, before it is compared: may replace it by a better
  // motion (a few closest-point steps), so that raw and polished motions compete fairly.
  std::function<void(core::RigidTransform&)> polish;
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
  int64_t pairs_d1 = 0;         // IndexPair records of distance d1 (each pair counts twice)
  int64_t pairs_d2 = 0;         // the same for d2
  int64_t quads = 0;            // congruent quads found
  int64_t candidates = 0;       // candidates scored by LCP
  int64_t lcp_early_exits = 0;  // scorings abandoned once they could no longer win
  int64_t normal_rejections = 0;     // candidates whose matched normals disagreed (any pose)
  int64_t presample_rejections = 0;  // candidates that failed on the sample of Q (any pose)
  int64_t polished = 0;              // candidates the polish hook improved before comparison
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
  double normals = 0;  // any pose: fitting the normals and deriving the settings
  double polish = 0;   // any pose: polishing the best motion against the full P

  StageTimes& operator+=(const StageTimes& t) {
    base_selection += t.base_selection;
    pair_extraction += t.pair_extraction;
    quad_search += t.quad_search;
    motion_estimation += t.motion_estimation;
    lcp_scoring += t.lcp_scoring;
    normals += t.normals;
    polish += t.polish;
    return *this;
  }
};

struct EngineResult {
  core::RigidTransform motion;  // the best motion (identity when nothing beat LCP 0)
  float best_lcp = 0;           // its LCP
  bool improved = false;        // some candidate beat LCP 0
  int32_t trials = 0;           // trials begun
  bool stopped = false;         // the should_stop hook ended the run
  bool confirmed = false;       // a later trial found the best motion again (any-pose stop)
  EngineCounts counts;
  StageTimes times;
};

}  // namespace kestrel::registration
