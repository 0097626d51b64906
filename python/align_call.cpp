#include "python/align_call.h"

#include <cmath>
#include <memory>
#include <string>

#include "app/profile_rows.h"
#include "python/point_arrays.h"
#include "python/stop_poll.h"

namespace py = pybind11;

namespace kestrel::python {

namespace {

py::dict rows_dict(const std::vector<app::ProfileRow>& rows, bool whole) {
  py::dict d;
  for (const app::ProfileRow& row : rows) {
    if (whole)
      d[row.key] = static_cast<long long>(row.value);
    else
      d[row.key] = row.value;
  }
  return d;
}

AlignResult result_of(const app::AppState& state, const app::AlignOutcome& outcome) {
  AlignResult r;
  r.matrix = array_from_matrix(outcome.motion.m);
  r.coarse_matrix = array_from_matrix(outcome.motion.coarse);
  r.best_lcp = static_cast<double>(state.best_lcp);
  r.icp_error = outcome.icp.ran ? py::object(py::float_(static_cast<double>(outcome.icp.error)))
                                : py::object(py::none());
  r.run_time_s = state.run_time_ms * 0.001;
  r.icp_time_s = outcome.icp_ms * 0.001;
  r.stopped = outcome.run.stopped;
  r.trials = state.trial_count;
  r.counts = rows_dict(app::count_rows(outcome.run), true);
  r.stage_ms = rows_dict(app::stage_rows(outcome.run), false);
  r.p_points = state.models.model_p.size();
  r.q_points = state.models.model_q.size();
  r.verdict = registration::verdict_name(state.judgement.verdict);
  if (state.judgement.fit.q_asked > 0)
    r.evidence = rows_dict(app::evidence_rows(state.judgement, outcome.run), false);
  return r;
}

}  // namespace

std::mutex& engine_mutex() {
  static std::mutex mutex;
  return mutex;
}

AlignResult run_alignment(const app::ModelInput& p, const app::ModelInput& q,
                          const Keywords& keywords, const AlignCall& call) {
  // A limit of 0 would stop the run before it looked at a candidate: refused, as the aligner
  // refuses --max-seconds 0.
  if (call.max_seconds && !(std::isfinite(*call.max_seconds) && *call.max_seconds > 0))
    throw py::value_error("max_seconds must be a finite number of seconds above 0");
  auto state = std::make_unique<app::AppState>();
  app::AlignOptions o;
  apply_keywords(keywords, call.function, *state, o);
  state->console = call.verbose;

  StopPoll poll(call.max_seconds);
  app::AlignHooks hooks;
  hooks.action.should_stop = [&poll] { return poll(); };
  app::AlignOutcome outcome;
  std::string error;
  bool ok = false;
  {
    py::gil_scoped_release release;
    std::lock_guard<std::mutex> lock(engine_mutex());
    ok = app::align_models(*state, o, p, q, hooks, outcome, &error);
  }
  poll.rethrow_unless_interrupt();
  if (!ok) throw py::value_error(error);
  if (!outcome.no_motion.empty()) throw NoMotionError(outcome.no_motion);
  return result_of(*state, outcome);
}

}  // namespace kestrel::python
