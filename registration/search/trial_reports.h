#pragma once
// What a trial tells its hooks and the console as it goes: where it stands, and every new best.

#include <cstdint>

#include "core/rigid_transform.h"
#include "registration/records.h"
#include "registration/search/run_state.h"

namespace kestrel::registration {

// Where the trial stands: candidate `pos` of `count` (0 of 0 while they are still being found).
ProgressPoint progress_point(const Trial& trial, uint64_t pos, uint64_t count);

// Whether the trial prints the "\r" progress lines.
bool prints_progress(const TrialIO& io);

// A trial begins: its console line and the on_step hook.
void report_trial_start(const Trial& trial);

// Every 100th candidate: the progress line, on_step and a repaint.
void report_progress(const Trial& trial, uint64_t pos, uint64_t count);

// The run's new best (trial.best.lcp already set): its progress line and a repaint, then the
// motion itself becomes the best and goes to on_improvement, and a repaint shows it.
void report_improvement(Trial& trial, const core::RigidTransform& motion, uint64_t pos,
                        uint64_t count);

}  // namespace kestrel::registration
