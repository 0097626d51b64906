#pragma once
// Everything a run prints: the "\r" progress lines on the console (flushed so a terminal shows
// them at once), the matching line in the window's progress_text, and the debug timings.

#include <cstdint>

#include "registration/registration_state.h"

namespace kestrel::registration {

// Millisecond tick counter for run times and debug timings.
int64_t tick_ms();

// Start of a trial: "\rtrial %d(%d), LCP: %3.3f" on the console.
void print_trial_start(int trial, int num_try, float lcp);
// Every 100th candidate: console line with the percentage, window line per run mode.
void print_candidate_progress(RegistrationState& state, int num_try, float lcp, uint64_t pos,
                              uint64_t count);
// A candidate beat the best LCP: console line and window line per run mode.
void print_improvement(RegistrationState& state, int num_try, float lcp, uint64_t pos,
                       uint64_t count);
// End of a run: "\nTime: %f\n" with the run's duration in seconds.
void print_run_time(int64_t elapsed_ms);

// Debug lines (printed only when the caller's debug flag is set).
void debug_no_base();
void debug_base(int i0, int i1, int i2, int i3);
void debug_selection(int64_t ms, double d1, double d2);
void debug_pairs(int64_t ms, size_t d1_count, size_t d2_count);
void debug_no_quads();
void debug_quads(int64_t ms, size_t quad_count);
void debug_too_few_q_points(size_t q_count);
void debug_evaluation(int64_t ms);

}  // namespace kestrel::registration
