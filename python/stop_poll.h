#pragma once
// When a Python call should end a run early: a time limit, or a signal (Ctrl-C) that Python's
// handlers turn into an exception. The run works without the GIL, so the signal check takes it
// briefly, at most every kSignalCheckMs.

#include <pybind11/pybind11.h>

#include <memory>
#include <optional>

#include "core/clock.h"

namespace kestrel::python {

class StopPoll {
 public:
  static constexpr double kSignalCheckMs = 50;

  // Counts `max_seconds` (none: no limit) from now.
  explicit StopPoll(std::optional<double> max_seconds);

  // The engine's should_stop: called without the GIL, from the thread that runs the call.
  bool operator()();

  // With the GIL held, after the run: rethrows an exception a signal handler raised, unless it
  // is KeyboardInterrupt, which only ends the run (as Escape does in the window).
  void rethrow_unless_interrupt();

 private:
  core::Clock::time_point start_;
  core::Clock::time_point last_check_;
  std::optional<double> limit_ms_;
  bool stop_ = false;
  std::unique_ptr<pybind11::error_already_set> error_;
};

}  // namespace kestrel::python
