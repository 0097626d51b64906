#include "app/run_actions.h"

#include <cstdio>
#include <string>

#include "app/any_pose_run.h"
#include "app/command_line.h"
#include "core/clock.h"
#include "core/random15.h"
#include "core/rigid_transform.h"
#include "registration/pair_extraction.h"
#include "registration/run_registration.h"

namespace kestrel::app {

namespace {

// A new best motion: Q is drawn moved by it, and it becomes the current transform with its
// centre and translation rounded to float.
void publish(AppState& state, const registration::Improvement& improvement) {
  ModelSets& m = state.models;
  m.full_q = m.saved_full_q;
  core::transform_point_set(m.full_q, improvement.motion);
  state.current_transform = improvement.motion;
  for (int k = 0; k < 3; ++k) {
    state.current_transform.c[k] = static_cast<float>(improvement.motion.c[k]);
    state.current_transform.t[k] = static_cast<float>(improvement.motion.t[k]);
  }
  state.best_lcp = improvement.lcp;
}

registration::EngineHooks engine_hooks(AppState& state, const ActionHooks& hooks) {
  registration::EngineHooks engine;
  engine.repaint = hooks.repaint;
  engine.should_stop = hooks.should_stop;
  engine.on_progress = [&state](const std::string& line) { state.progress_text = line; };
  engine.on_base = [&state](const core::PointSet& base) { state.base_points = base; };
  engine.on_step = hooks.on_step;
  engine.on_improvement = [&state](const registration::Improvement& improvement) {
    publish(state, improvement);
  };
  return engine;
}

// Both run buttons: restore Q, seed the generator, refresh the parameters as the idle cycle
// would, run, and keep the best moved working Q.
registration::EngineResult start_run(AppState& state, const ActionHooks& hooks, bool ransac) {
  state.status_text = ransac ? "Running basic RANSAC..." : "Running Kestrel...";
  hooks.request_repaint();
  state.ransac_mode = ransac;
  const int64_t t0 = core::tick_ms();
  core::Random15& rng = core::process_random15();
  rng.seed(0);
  hooks.request_repaint();
  refresh_parameters(state.params);
  ModelSets& m = state.models;
  m.model_q = m.saved_q;
  if (ransac) m.full_q = m.saved_full_q;
  if (m.model_p.empty() || m.model_q.empty()) return {};

  state.trial_count = 0;
  const registration::EngineInputs inputs{m.model_p, m.p_index, state.params.point_spacing,
                                          m.model_q};
  const registration::EngineOptions options = engine_options(state);
  const registration::EngineHooks engine = engine_hooks(state, hooks);
  const registration::EngineResult result =
      ransac                  ? registration::run_ransac(inputs, options, engine, rng)
      : state.params.any_pose ? run_any_pose(state, options, engine, rng)
                              : registration::run_kestrel(inputs, options, engine, rng);
  state.trial_count = result.trials;
  if (result.trials > 0) state.first_selection = false;
  if (result.improved) core::transform_point_set(m.model_q, result.motion);
  if (!ransac) {
    m.full_q = m.saved_full_q;
    core::transform_point_set(m.full_q, state.current_transform);
  }
  state.progress_text.clear();
  state.run_time_ms = static_cast<int32_t>(core::tick_ms() - t0);
  state.ransac_mode = false;
  state.status_text.clear();
  state.last_run = result;
  hooks.request_repaint();
  return result;
}

}  // namespace

registration::EngineOptions engine_options(const AppState& state) {
  const core::RunParameters& params = state.params;
  registration::EngineOptions options;
  options.num_try = params.num_try;
  options.thr = params.thr;
  options.base_max_len = params.base_max_len;
  options.margin = params.margin;
  options.delta = params.delta;
  options.scale_tol = params.scale_tol;
  options.normal_tol = registration::pair_normal_tolerance(params.norm_diff, state.noise_added);
  options.first_selection = state.first_selection;
  options.debug = params.debug;
  options.console = state.console;
  options.console_progress = state.console_progress;
  return options;
}

registration::EngineResult on_start_kestrel(AppState& state, const ActionHooks& hooks) {
  return start_run(state, hooks, false);
}

registration::EngineResult on_start_ransac(AppState& state, const ActionHooks& hooks) {
  return start_run(state, hooks, true);
}

icp::IcpRefineResult on_start_icp(AppState& state, const ActionHooks& hooks) {
  state.status_text = "Running ICP...";
  hooks.request_repaint();
  icp::IcpRefineResult result = icp::refine_q_by_icp(state.models.full_p, state.models.full_q);
  if (!result.ran) {
    state.status_text = result.message;
    if (state.console) std::fprintf(stderr, "%s\n", result.message.c_str());
  } else {
    state.status_text.clear();
  }
  hooks.request_repaint();
  return result;
}

}  // namespace kestrel::app
