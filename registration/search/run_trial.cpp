#include "registration/search/run_trial.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "core/clock.h"
#include "registration/congruent/base_selection.h"
#include "registration/search/progress.h"
#include "registration/search/trial_reports.h"

namespace kestrel::registration {

namespace {

using core::Clock;
using core::elapsed_ms;

// The score at which a candidate is worth scoring in full: the bar itself, or with a polish a
// share of it, since a raw motion from four points scores below its polished self (in LCP
// units, where polished candidates compete by another score).
double entry_bar(const Trial& trial, bool confirming) {
  const SearchParts& parts = trial.setup.parts;
  const double bar = parts.stopping->bar(trial.best, confirming);
  return parts.polish ? parts.polish->share() * bar * trial.best.near_per_score : bar;
}

// Polishes a candidate that scored near the bar and scores it again before it competes: by its
// LCP, and with a polished scorer by that too, which is then what competes.
void polish_and_take(Trial& trial, const core::RigidTransform& motion, uint64_t pos,
                     uint64_t count) {
  const SearchParts& parts = trial.setup.parts;
  const Clock::time_point t0 = Clock::now();
  Finding finding{parts.polish->polish(motion), 0, trial.tally.trials, 0, motion};
  ++trial.tally.counts.polished;
  trial.best.polished.add(finding.motion);
  trial.best.polished.add(motion);
  const std::function<bool()>& stop = trial.io.hooks.should_stop;
  finding.score = parts.scorer->score(finding.motion, 0, stop).value;
  if (parts.polished_scorer) {
    finding.near = finding.score;
    finding.score = parts.polished_scorer->score(finding.motion, 0, stop).value;
  }
  trial.tally.times.polish += elapsed_ms(t0);
  if (trial.findings) trial.findings->push_back(finding);
  take_finding(trial, finding, pos, count);
}

// Scores the motion and lets it compete for the best.
void score_candidate(Trial& trial, const core::RigidTransform& motion, double entry, uint64_t pos,
                     uint64_t count) {
  const SearchParts& parts = trial.setup.parts;
  const LcpScore score = parts.scorer->score(motion, entry, trial.io.hooks.should_stop);
  ++trial.tally.counts.candidates;
  if (score.early_exit) ++trial.tally.counts.lcp_early_exits;
  if (!parts.polish) {
    take_finding(trial, {motion, score.value, trial.tally.trials}, pos, count);
  } else if (score.value > entry) {
    polish_and_take(trial, motion, pos, count);
  }
}

// A candidate that passed the residual gate: the checks in turn, then the score.
void judge_candidate(Trial& trial, const std::vector<core::PointMatch>& matches,
                     const core::RigidTransform& motion, uint64_t pos, uint64_t count) {
  const SearchParts& parts = trial.setup.parts;
  const bool confirming = parts.stopping->may_confirm(trial, motion);
  const double entry = entry_bar(trial, confirming);
  const CheckedCandidate candidate{matches, motion, confirming, entry};
  for (const CandidateCheck* check : parts.checks)
    if (!check->passes(trial, candidate, trial.tally.counts)) return;
  score_candidate(trial, motion, entry, pos, count);
}

// The candidate loop. Its time goes to motion estimation except what judging and reporting take.
bool evaluate_candidates(Trial& trial, const Base& base, const TrialCandidates& candidates) {
  const RunSetup& setup = trial.setup;
  const CandidateSource& source = *setup.parts.candidates;
  Tally& tally = trial.tally;
  const float gate = source.gate_tolerances() * setup.run_tol;
  const Clock::time_point start = Clock::now();
  double judging_ms = 0, other_ms = 0;
  const double polish_before = tally.times.polish;
  std::vector<core::PointMatch> matches;
  for (uint64_t pos = 0; pos < candidates.count; ++pos) {
    if (trial.io.hooks.stop()) {
      tally.stopped = true;
      break;
    }
    source.matches(trial, base, candidates, pos, matches);
    const MotionEstimate estimate = source.motion(matches);
    if (pos % 100 == 0) {
      const Clock::time_point t0 = Clock::now();
      report_progress(trial, pos, candidates.count);
      other_ms += elapsed_ms(t0);
    }
    if (estimate.residual < static_cast<double>(gate)) {
      const Clock::time_point t0 = Clock::now();
      judge_candidate(trial, matches, estimate.motion, pos, candidates.count);
      judging_ms += elapsed_ms(t0);
      if (setup.parts.stopping->done(trial.best)) break;
    }
  }
  const double loop_ms = elapsed_ms(start);
  // The polish runs inside judging but is a stage of its own.
  tally.times.lcp_scoring += judging_ms - (tally.times.polish - polish_before);
  tally.times.motion_estimation += loop_ms - judging_ms - other_ms;
  // A stop from outside ends the trial at once, without its closing debug lines.
  if (tally.stopped) return true;
  if (trial.io.debug) debug_evaluation(static_cast<int64_t>(loop_ms));
  return setup.parts.stopping->done(trial.best);
}

// The base of the trial `index` (0-based) of the run: the one draw both the trial and a look
// ahead at its candidates make.
std::optional<Base> draw_base(const RunSetup& setup, int32_t index, bool& first_selection,
                              core::Random15& rng) {
  return select_base(setup.p_sample, setup.parts.bases->limits(index), first_selection, rng);
}

// The trial's base, reported to the hooks and the debug lines; nothing when none was found.
std::optional<Base> trial_base(Trial& trial) {
  const RunSetup& setup = trial.setup;
  const Clock::time_point start = Clock::now();
  std::optional<Base> base =
      draw_base(setup, trial.tally.trials - 1, trial.first_selection, trial.rng);
  const double select_ms = elapsed_ms(start);
  trial.tally.times.base_selection += select_ms;
  if (!base) {
    if (trial.io.debug) debug_no_base();
    return base;
  }
  if (trial.io.debug) debug_base(base->index);
  if (trial.io.hooks.on_base) trial.io.hooks.on_base(base->points);
  const core::PointSet& b = base->points;
  if (trial.io.debug)
    debug_selection(static_cast<int64_t>(select_ms), core::distance(b[0], b[1]),
                    core::distance(b[2], b[3]));
  return base;
}

// The trial's candidates: those found ahead for this very base, else found now.
bool trial_candidates(Trial& trial, const Base& base, TrialCandidates& out) {
  Lookahead* ahead = trial.ahead;
  if (!ahead || !ahead->ready || !std::equal(base.index, base.index + 4, ahead->index))
    return trial.setup.parts.candidates->find(trial, base, out);
  ahead->ready = false;
  trial.tally.counts += ahead->tally.counts;
  trial.tally.times += ahead->tally.times;
  trial.rng = ahead->rng_after;
  out = std::move(ahead->candidates);
  if (trial.io.hooks.stop()) {
    trial.tally.stopped = true;
    return false;
  }
  return ahead->found;
}

}  // namespace

void find_ahead(const RunSetup& setup, int32_t index, unsigned seed,
                const std::function<bool()>& stop, Lookahead& out) {
  out.ready = false;
  core::Random15 rng;
  rng.seed(seed);
  bool first_selection = false;
  const std::optional<Base> base = draw_base(setup, index, first_selection, rng);
  if (!base) return;
  TrialIO io;
  io.console = false;
  io.hooks.should_stop = stop;
  BestSoFar best;
  Tally tally;
  Trial trial{setup, io, rng, best, tally, first_selection};
  out.candidates = {};
  out.found = setup.parts.candidates->find(trial, *base, out.candidates);
  if (tally.stopped) return;
  std::copy(base->index, base->index + 4, out.index);
  out.tally = tally;
  out.rng_after = rng;
  out.ready = true;
}

void take_finding(Trial& trial, const Finding& finding, uint64_t pos, uint64_t count) {
  BestSoFar& best = trial.best;
  trial.setup.parts.stopping->note(best, finding);
  best.findings.push_back(finding);
  if (finding.score > best.lcp) {
    best.lcp = static_cast<float>(finding.score);
    if (finding.near > 0) best.near_per_score = finding.near / finding.score;
    best.trial = finding.trial;
    report_improvement(trial, finding.motion, pos, count);
  }
}

bool run_trial(Trial& trial) {
  trial.tally.trials += 1;
  report_trial_start(trial);
  const std::optional<Base> base = trial_base(trial);
  if (!base) return false;
  TrialCandidates candidates;
  if (!trial_candidates(trial, *base, candidates)) return false;
  return evaluate_candidates(trial, *base, candidates);
}

}  // namespace kestrel::registration
