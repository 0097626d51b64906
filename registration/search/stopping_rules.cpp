#include "registration/search/stopping_rules.h"

#include "registration/search/run_state.h"

namespace kestrel::registration {

double ThresholdStop::bar(const BestSoFar& best, bool) const {
  return best.lcp;
}

bool ThresholdStop::done(const BestSoFar& best) const {
  return best.lcp > thr_;
}

bool ConfirmationStop::may_confirm(const Trial& trial, const core::RigidTransform& motion) const {
  const BestSoFar& best = trial.best;
  return best.improved && best.trial != trial.tally.trials && same_place_(motion, best.motion);
}

double ConfirmationStop::bar(const BestSoFar& best, bool confirming) const {
  return confirming ? share_ * best.lcp : best.lcp;
}

void ConfirmationStop::note(BestSoFar& best, const Finding& finding) const {
  const bool confirming =
      best.improved && best.trial != finding.trial && same_place_(finding.motion, best.motion);
  if (confirming && finding.score > bar(best, true) && best.confirming_trial != finding.trial) {
    best.confirming_trial = finding.trial;
    if (++best.confirmations >= count_) best.confirmed = true;
  }
  // A best elsewhere starts its own count of findings.
  if (finding.score > best.lcp && best.improved && !same_place_(finding.motion, best.motion))
    best.confirmations = 0;
}

bool ConfirmationStop::done(const BestSoFar& best) const {
  return best.lcp > thr_ || best.confirmed;
}

}  // namespace kestrel::registration
