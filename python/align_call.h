#pragma once
// One alignment from Python: kestrel-align's sequence on two models, run without the GIL, one
// call at a time, with a time limit and Ctrl-C as its stop, and its outcome as a result record.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>

#include "app/align_models.h"
#include "python/align_keywords.h"

namespace kestrel::python {

// What kestrel.align and kestrel.align_files return.
struct AlignResult {
  pybind11::array_t<double> matrix;         // 4 x 4 motion of q onto p, ICP included
  pybind11::array_t<double> coarse_matrix;  // the registration's motion before ICP
  double best_lcp = 0;                      // fraction of Q's working set within tolerance
  pybind11::object icp_error;               // last RMS point-to-plane error; None without ICP
  double run_time_s = 0;                    // duration of the registration run
  double icp_time_s = 0;                    // duration of the ICP (0 without it)
  bool stopped = false;                     // the run was ended by max_seconds or Ctrl-C
  int trials = 0;                           // trials begun
  pybind11::dict counts;                    // the engine's counts by name
  pybind11::dict stage_ms;                  // the engine's time per stage, ms
  size_t p_points = 0, q_points = 0;        // sizes of the working sets
  std::string verdict;                      // "confident", "uncertain" or "no_match"
  pybind11::dict evidence;                  // the figures the verdict rests on
};

struct AlignCall {
  const char* function;               // "align" or "align_files", for messages
  std::optional<double> max_seconds;  // stop the run after this long; none: no limit
  bool verbose = false;               // print the aligner's console lines
};

// Raised as kestrel.NoMotion (a RuntimeError) when a call finds no motion to hand on: the run
// found none (also when it was stopped before it did), the scans are too small for it, the
// motion is not a rotation or ICP failed. Its text is the aligner's reason.
struct NoMotionError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// Every call that reads or runs draws from the process-wide generators, so calls take turns.
std::mutex& engine_mutex();

// Applies `keywords`, then aligns `q` onto `p` as kestrel-align does. Called with the GIL held;
// releases it while loading and running. Throws ValueError when a model cannot be loaded,
// NoMotionError when no motion comes of it, and whatever a signal handler other than Ctrl-C's
// raised during the run.
AlignResult run_alignment(const app::ModelInput& p, const app::ModelInput& q,
                          const Keywords& keywords, const AlignCall& call);

}  // namespace kestrel::python
