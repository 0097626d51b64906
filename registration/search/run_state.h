#pragma once
// The state of one search, split by who writes it: the set-up every trial reads (shared by
// threads), the best so far that trials improve (a trial round copies only this), and each
// trial's own tally, reporting and generator.

#include <cstdint>
#include <optional>
#include <vector>

#include "core/point_set.h"
#include "core/random15.h"
#include "core/rigid_transform.h"
#include "registration/records.h"
#include "registration/search/parts.h"
#include "registration/search/same_place.h"

namespace kestrel::registration {

// A scored (and, with a polish, polished) candidate and the trial that found it.
struct Finding {
  core::RigidTransform motion;
  double score = 0;
  int32_t trial = 0;
  double near = 0;  // its LCP, where the score that competes is another measure (else 0)
  std::optional<core::RigidTransform> polished_from = std::nullopt;  // where a polish started
};

// What every trial of a run reads and none writes. The references must outlive the run.
struct RunSetup {
  SearchParts parts;
  const core::PointSet& p_sample;  // bases are drawn from it
  const core::PointSet& q;         // searched and scored
  float run_tol;                   // delta * point spacing
  int32_t num_try;                 // trials at most
  bool ransac_wording;             // progress lines worded for random triples
};

// What trials improve.
struct BestSoFar {
  core::RigidTransform motion;  // identity until some candidate beats LCP 0
  float lcp = 0;
  // Raw candidates are scored by their LCP: the best's LCP per unit of its score sets the bar
  // they must reach in those units (1 where the scores are LCPs).
  double near_per_score = 1;
  bool improved = false;
  int32_t trial = 0;                           // the trial that found it
  PolishedMotions polished;                    // motions a polish started from or produced
  std::vector<Finding> findings;              // every candidate that competed, in order
  int32_t confirmations = 0;                   // later trials that found the best motion again
  int32_t confirming_trial = 0;                // the last of them
  bool confirmed = false;                      // enough of them: the run is done

  // The best motion's LCP, as progress lines and hooks show it.
  float shown_lcp() const { return static_cast<float>(lcp * near_per_score); }
};

// What a trial adds up; merged into the run's.
struct Tally {
  int32_t trials = 0;  // trials begun
  bool stopped = false;
  EngineCounts counts;
  StageTimes times;
};

// How a trial reports.
struct TrialIO {
  EngineHooks hooks;
  bool console = true;           // the progress lines
  bool console_progress = true;  // with console: the "\r" lines too
  bool debug = false;            // the debug timings and counts
};

// A trial's candidates found ahead, while a round's thread had nothing else to do: the base
// they came from, whether the candidate source found any, what finding them counted and took,
// and the trial's generator after it. The trial takes them only when it draws that very base.
struct Lookahead {
  bool ready = false;
  int index[4] = {-1, -1, -1, -1};
  bool found = false;
  TrialCandidates candidates;
  Tally tally;
  core::Random15 rng_after;
};

// One trial's view of the run.
struct Trial {
  const RunSetup& setup;
  const TrialIO& io;
  core::Random15& rng;
  BestSoFar& best;
  Tally& tally;
  bool& first_selection;  // no base drawn yet in this process; cleared by the first draw
  // Trials of a round keep what they find here for the merge (trial_rounds.h).
  std::vector<Finding>* findings = nullptr;
  Lookahead* ahead = nullptr;  // candidates found ahead for it, if any
};

// A whole run: what the trial scheduling works on.
struct Search {
  Search(const RunSetup& s, const TrialIO& i, core::Random15& r) : setup(s), io(i), rng(r) {}

  const RunSetup& setup;
  const TrialIO& io;
  core::Random15& rng;
  BestSoFar best;
  Tally tally;
  bool first_selection = true;

  Trial trial() { return {setup, io, rng, best, tally, first_selection}; }
};

}  // namespace kestrel::registration
