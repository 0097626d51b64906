#pragma once
// How far a registration run has come and how long it may still take, from the engine's last
// step (registration::ProgressPoint) and the time since the run began, and the wording of
// shares and durations. Shared by the aligner's terminal line and the window's progress line.

#include <optional>
#include <string>

#include "registration/records.h"

namespace kestrel::app {

struct RunProgress {
  double trial_share = 0;        // share of the current trial's candidates done, 0 to 1 (0 while
                                 // they are still being found)
  double run_share = 0;          // share of the run done, each of num_try trials an equal part
  double elapsed_s = 0;          // seconds since the run began
  std::optional<double> left_s;  // seconds left if the run goes through all its trials;
                                 // nothing until there is enough to go on
};

// The run's standing at `at`, `elapsed_s` seconds after it began. Time left is extrapolated
// from the share done, so it is an upper bound: a run that passes thr ends sooner.
RunProgress run_progress(const registration::ProgressPoint& at, double elapsed_s);

// A duration as people read it: "4.2 s", "3:05", "2:07:13", "3 days", ">1 year".
std::string duration_text(double seconds);

// A share 0..1 as a percentage with enough digits to move: "37.5%", "0.0042%".
std::string percent_text(double share);

}  // namespace kestrel::app
