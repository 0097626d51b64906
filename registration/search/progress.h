#pragma once
// Everything a run prints: the "\r" progress lines on the console (flushed so a terminal shows
// them at once), the matching line for the window, and the debug timings.

#include <cstddef>
#include <cstdint>
#include <string>

#include "registration/records.h"

namespace kestrel::registration {

// Start of a trial: "\rtrial %d(%d), LCP: %3.3f" on the console.
void print_trial_start(int trial, int num_try, float lcp);
// Every 100th candidate: prints the console line when `console`; returns the window line.
std::string candidate_progress(const ProgressPoint& at, bool console);
// A candidate beat the best LCP: prints the console line when `console`; returns the window
// line.
std::string improvement_progress(const ProgressPoint& at, bool console);
// End of a run: "\nTime: %f\n" with the run's duration in seconds.
void print_run_time(int64_t elapsed_ms);

// Debug lines (printed only when the caller's debug flag is set).
void debug_no_base();
void debug_base(const int index[4]);
void debug_selection(int64_t ms, double d1, double d2);
void debug_pairs(int64_t ms, size_t d1_count, size_t d2_count);
void debug_no_quads();
void debug_quads(int64_t ms, size_t quad_count);
void debug_too_few_q_points(size_t q_count);
void debug_evaluation(int64_t ms);
// The any-pose search's thinning cell and the settings it derived from the scans.
void debug_any_pose_plan(double cell, float spacing, float normal_spread, float size);

}  // namespace kestrel::registration
