#include "python/stop_poll.h"

namespace py = pybind11;

namespace kestrel::python {

StopPoll::StopPoll(std::optional<double> max_seconds)
    : start_(core::Clock::now()), last_check_(start_) {
  if (max_seconds) limit_ms_ = *max_seconds * 1000;
}

bool StopPoll::operator()() {
  if (stop_) return true;
  const core::Clock::time_point now = core::Clock::now();
  if (limit_ms_ && core::elapsed_ms(start_, now) >= *limit_ms_) return stop_ = true;
  if (core::elapsed_ms(last_check_, now) < kSignalCheckMs) return false;
  last_check_ = now;
  py::gil_scoped_acquire gil;
  // Python runs its signal handlers here; outside the main thread this does nothing.
  if (PyErr_CheckSignals() != 0) {
    error_ = std::make_unique<py::error_already_set>();
    stop_ = true;
  }
  return stop_;
}

void StopPoll::rethrow_unless_interrupt() {
  if (!error_) return;
  std::unique_ptr<py::error_already_set> error = std::move(error_);
  if (!error->matches(PyExc_KeyboardInterrupt)) throw *error;
}

}  // namespace kestrel::python
