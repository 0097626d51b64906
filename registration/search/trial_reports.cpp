#include "registration/search/trial_reports.h"

#include <string>

#include "registration/search/progress.h"

namespace kestrel::registration {

ProgressPoint progress_point(const Trial& trial, uint64_t pos, uint64_t count) {
  return {trial.setup.ransac_wording,
          trial.tally.trials,
          trial.setup.num_try,
          trial.best.shown_lcp(),
          pos,
          count};
}

bool prints_progress(const TrialIO& io) {
  return io.console && io.console_progress;
}

void report_trial_start(const Trial& trial) {
  if (prints_progress(trial.io))
    print_trial_start(trial.tally.trials, trial.setup.num_try, trial.best.shown_lcp());
  if (trial.io.hooks.on_step) trial.io.hooks.on_step(progress_point(trial, 0, 0));
}

void report_progress(const Trial& trial, uint64_t pos, uint64_t count) {
  const EngineHooks& hooks = trial.io.hooks;
  const ProgressPoint at = progress_point(trial, pos, count);
  const std::string line = candidate_progress(at, prints_progress(trial.io));
  if (hooks.on_progress) hooks.on_progress(line);
  if (hooks.on_step) hooks.on_step(at);
  hooks.request_repaint();
}

void report_improvement(Trial& trial, const core::RigidTransform& motion, uint64_t pos,
                        uint64_t count) {
  const EngineHooks& hooks = trial.io.hooks;
  BestSoFar& best = trial.best;
  const ProgressPoint at = progress_point(trial, pos, count);
  const std::string line = improvement_progress(at, prints_progress(trial.io));
  if (hooks.on_progress) hooks.on_progress(line);
  if (hooks.on_step) hooks.on_step(at);
  hooks.request_repaint();
  best.motion = motion;
  best.improved = true;
  if (hooks.on_improvement) hooks.on_improvement({best.motion, best.shown_lcp()});
  hooks.request_repaint();
}

}  // namespace kestrel::registration
