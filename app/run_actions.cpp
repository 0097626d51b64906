#include "app/run_actions.h"

#include <cstdio>
#include <string>

#include "app/command_line.h"
#include "app/model_drawing.h"
#include "app/run_progress.h"
#include "core/clock.h"
#include "core/random15.h"
#include "core/rigid_transform.h"
#include "core/side_by_side.h"
#include "registration/registration.h"

namespace kestrel::app {

namespace {

// A new best motion: Q is drawn moved by it, and it becomes the current transform with its
// centre and translation rounded to float. Nothing draws a headless Q during the search, whose
// end moves the full Q by the final motion (but RANSAC's, which leaves it as published).
void publish(AppState& state, const registration::Improvement& improvement) {
  ModelSets& m = state.models;
  if (!state.params.headless || state.ransac_mode) {
    m.full_q = m.saved_full_q;
    core::transform_point_set(m.full_q, improvement.motion);
  }
  place_by_run(m.q_placement);
  state.current_transform = improvement.motion;
  for (int k = 0; k < 3; ++k) {
    state.current_transform.c[k] = static_cast<float>(improvement.motion.c[k]);
    state.current_transform.t[k] = static_cast<float>(improvement.motion.t[k]);
  }
  state.best_lcp = improvement.lcp;
}

// The second progress line is renewed at most this often, so it can be read.
constexpr int64_t kDetailIntervalMs = 200;

// "37.5% of the candidates done, about 4.2 s left"; the time left once there is enough to go on.
std::string progress_detail(const registration::ProgressPoint& at, double elapsed_s) {
  const RunProgress progress = run_progress(at, elapsed_s);
  std::string line = percent_text(progress.run_share) + " of the candidates done, ";
  if (!progress.left_s) return line + "time left not known yet";
  const std::string left = duration_text(*progress.left_s);
  if (left[0] == '>') return line + "over " + left.substr(1) + " left";
  return line + "about " + left + " left";
}

// A trial begins: the window shows the console's line at once, as the trial's first stages can
// take long before any candidate is counted.
std::string trial_start_line(const registration::ProgressPoint& at) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "trial %d(%d), LCP: %3.3f", at.trial, at.num_try,
                static_cast<double>(at.lcp));
  return buffer;
}

registration::EngineHooks engine_hooks(AppState& state, const ActionHooks& hooks, int64_t t0) {
  registration::EngineHooks engine;
  engine.repaint = hooks.repaint;
  engine.should_stop = hooks.should_stop;
  engine.on_progress = [&state](const std::string& line) { state.progress_text = line; };
  engine.on_base = [&state](const core::PointSet& base) { state.base_points = base; };
  engine.on_step = [&state, &hooks, t0,
                    last = int64_t{-1}](const registration::ProgressPoint& at) mutable {
    const int64_t now = core::tick_ms();
    if (!at.done && at.count == 0) state.progress_text = trial_start_line(at);
    if (!at.done && (last < 0 || now - last >= kDetailIntervalMs)) {
      state.progress_detail = progress_detail(at, static_cast<double>(now - t0) * 0.001);
      last = now;
    }
    if (hooks.on_step) hooks.on_step(at);
  };
  engine.on_improvement = [&state](const registration::Improvement& improvement) {
    publish(state, improvement);
  };
  return engine;
}

// "Start Kestrel" with "Any pose" ticked: the search that needs neither a pose nor an overlap,
// over the full scans as loaded (Q unmoved).
registration::EngineResult start_any_pose(const AppState& state,
                                          const registration::EngineHooks& engine,
                                          core::Random15& rng,
                                          const registration::GridToCome* full_p_grid) {
  const ModelSets& m = state.models;
  const registration::AnyPoseInputs inputs{m.full_p,  m.saved_full_q, m.model_p,
                                           m.p_index, m.model_q,      full_p_grid};
  return registration::run_any_pose(inputs, any_pose_options(state), engine, rng);
}

// The verdict on where Q stands now: the full Q as shown against the full P, and the other
// motions the last run found.
void judge_shown_q(AppState& state) {
  const ModelSets& m = state.models;
  state.judgement = registration::judge_motion(m.full_p, m.full_q, {});
  registration::weigh_alternatives(state.judgement, m.full_p, m.full_q, m.saved_full_q,
                                   state.last_run.alternatives, state.last_run.best_lcp,
                                   state.params.threads);
  if (state.last_run.by_features) registration::found_by_features(state.judgement);
}

// After a run: the verdict on its motion, or why there is none.
void judge_placement(AppState& state) {
  const std::string no_motion = no_motion_reason(state.last_run);
  if (!no_motion.empty()) {
    state.judgement = registration::no_motion_judgement(no_motion);
    return;
  }
  // A stopped search is not trusted, and a stop asks for the motion now, not after a measure.
  if (state.last_run.stopped) {
    state.judgement = registration::stopped_judgement();
    return;
  }
  if (state.judge_runs) judge_shown_q(state);
}

// Both run buttons: restore Q, seed the generator, refresh the parameters as the idle cycle
// would, run, and keep the best moved working Q.
registration::EngineResult start_run(AppState& state, const ActionHooks& hooks, bool ransac,
                                     const registration::GridToCome* full_p_grid = nullptr) {
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
  if (ransac) {
    m.full_q = m.saved_full_q;
    place_at_saved(m.q_placement);
  }
  if (m.model_p.empty() || m.model_q.empty()) return {};
  // Nothing draws a headless Q during the run, whose end moves a fresh copy of the saved Q:
  // the shown copy's room is let go for the run's own structures.
  if (!ransac && state.params.headless) core::PointSet().swap(m.full_q);

  state.trial_count = 0;
  const registration::EngineInputs inputs{m.model_p, m.p_index, state.params.point_spacing,
                                          m.model_q};
  const registration::EngineOptions options = engine_options(state);
  const registration::EngineHooks engine = engine_hooks(state, hooks, t0);
  const registration::EngineResult result =
      ransac                  ? registration::run_ransac(inputs, options, engine, rng)
      : state.params.any_pose ? start_any_pose(state, engine, rng, full_p_grid)
                              : registration::run_kestrel(inputs, options, engine, rng);
  state.trial_count = result.trials;
  if (result.trials > 0) state.first_selection = false;
  if (result.improved) core::transform_point_set(m.model_q, result.motion);
  if (!ransac) {
    m.full_q = m.saved_full_q;
    core::transform_point_set(m.full_q, state.current_transform);
    place_by_run(m.q_placement);
  }
  state.progress_text.clear();
  state.progress_detail.clear();
  state.run_time_ms = static_cast<int32_t>(core::tick_ms() - t0);
  state.ransac_mode = false;
  state.status_text = no_motion_reason(result);
  state.last_run = result;
  judge_placement(state);
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

registration::AnyPoseOptions any_pose_options(const AppState& state) {
  const core::RunParameters& params = state.params;
  registration::AnyPoseOptions options;
  options.overlap = params.overlap_given ? params.overlap_estimation : 0.0f;
  options.delta = params.delta;
  options.threads = params.threads;
  options.debug = params.debug;
  options.console = state.console;
  options.console_progress = state.console_progress;
  return options;
}

registration::EngineResult on_start_kestrel(AppState& state, const ActionHooks& hooks,
                                            const registration::GridToCome* full_p_grid) {
  return start_run(state, hooks, false, full_p_grid);
}

registration::EngineResult on_start_ransac(AppState& state, const ActionHooks& hooks) {
  return start_run(state, hooks, true);
}

std::string no_motion_reason(const registration::EngineResult& run) {
  if (run.improved && run.best_lcp > 0) return "";
  const auto count = [](int64_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
  };
  const std::string trials = count(run.trials, "trial");
  if (run.counts.candidates == 0) return "No motion found: " + trials + ", no candidate motion";
  return "No motion found: " + trials + ", " + count(run.counts.candidates, "candidate motion") +
         ", none put a point of Q within the tolerance of P (best LCP 0)";
}

namespace {

// The any-pose refinement's wide step: the default mode's ICP, rigid, on every k-th point of a
// scan, at most this many (its steps draw a few hundred pairs each, so more only costs normals
// and tree nodes no step asks for).
constexpr size_t kAnyPoseIcpPoints = size_t{1} << 14;

Matrix4 matrix_of(const icp::Xform& xf) {
  Matrix4 m;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) m.m[r][c] = xf(r, c);
  return m;
}

// The motion of a rigid matrix.
core::RigidTransform rigid_of(const Matrix4& m) {
  core::DenseMatrix R(3, 3);
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) R(r, c) = m.m[r][c];
  return core::linear_motion(R, m.m[0][3], m.m[1][3], m.m[2][3]);
}

// Where the shown Q lies, as a motion of the full Q as loaded (saved_full_q).
core::RigidTransform shown_placement(const AppState& state) {
  const QPlacement& q = state.models.q_placement;
  return rigid_of(q.run_applied ? q.after * motion_matrix(state.current_transform) : q.after);
}

// The verdict on where Q stands now, measured on a scene of P and Q as loaded.
void judge_on_scene(AppState& state, const registration::FitScene& scene) {
  state.judgement =
      registration::judge_and_weigh(scene, shown_placement(state), state.last_run.alternatives,
                                    state.last_run.best_lcp, state.params.threads);
  if (state.last_run.by_features) registration::found_by_features(state.judgement);
}

// Moves the shown Q by the surface steps' result `fit` (a motion of Q as loaded; Q lies at
// `placed` now, `refinement` past the run's motion) and reports it in `result`; without a
// motion, Q goes back where the run left it.
icp::IcpRefineResult apply_surface_fit(AppState& state, const registration::SurfaceIcpResult& fit,
                                       const Matrix4& placed, Matrix4& refinement,
                                       icp::IcpRefineResult result) {
  ModelSets& m = state.models;
  result.stopped = fit.stopped;
  result.ran = fit.ran;
  if (!fit.ran) {
    result.message = fit.message;
    if (!refinement.is_identity())
      core::transform_point_set(m.full_q, rigid_of(rigid_inverse(refinement)));
    return result;
  }
  if (!fit.message.empty() && state.console) std::fprintf(stderr, "ICP: %s\n", fit.message.c_str());
  const Matrix4 step = motion_matrix(fit.motion) * rigid_inverse(placed);
  core::transform_point_set(m.full_q, rigid_of(step));
  refinement = step * refinement;
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c) result.xf2(r, c) = refinement.m[r][c];
  result.error = static_cast<float>(fit.rms);
  return result;
}

// The any-pose mode's ICP, reported as the default one's is (Q's full points moved, the
// transform applied, also in `refinement`). The default mode's ICP reaches far, which rescues a
// motion found well off at high overlap but drags Q along P at low overlap; point-to-plane
// steps within a few of P's spacings, from where it left Q and from where the run left it,
// settle which fits better. The steps from the run's motion need nothing of the first stage and
// go beside it. `scene` holds P and Q as loaded.
icp::IcpRefineResult refine_any_pose(AppState& state, const ActionHooks& hooks,
                                     const registration::FitScene& scene, Matrix4& refinement) {
  ModelSets& m = state.models;
  const Matrix4 run_placement = motion_matrix(shown_placement(state));
  registration::SurfaceIcpOptions surface;
  surface.threads = state.params.threads;
  icp::IcpRefineResult result;
  registration::SurfaceIcpResult from_run;
  core::side_by_side(
      state.params.threads,
      [&] {
        result = icp::refine_q_by_icp(m.full_p, m.full_q, state.params.threads, false,
                                      hooks.should_stop, kAnyPoseIcpPoints);
      },
      [&] {
        from_run = registration::settle_on_surface(scene, rigid_of(run_placement),
                                                   hooks.should_stop, surface);
      });
  if (result.stopped) return result;
  refinement = result.ran ? matrix_of(result.xf2) : Matrix4();
  const Matrix4 placed = refinement * run_placement;
  registration::SurfaceIcpResult fit = from_run;
  if (result.ran && !from_run.stopped) {
    const registration::SurfaceIcpResult after_wide =
        registration::settle_on_surface(scene, rigid_of(placed), hooks.should_stop, surface);
    fit = after_wide.stopped ? after_wide : registration::better_fit(scene, after_wide, from_run);
  }
  if (!fit.stopped) fit = registration::with_half_turn(scene, fit, hooks.should_stop, surface);
  return apply_surface_fit(state, fit, placed, refinement, result);
}

}  // namespace

icp::IcpRefineResult on_start_icp(AppState& state, const ActionHooks& hooks,
                                  std::unique_ptr<registration::FitScene> scene) {
  state.status_text = "Running ICP...";
  hooks.request_repaint();
  Matrix4 refinement;
  icp::IcpRefineResult result;
  // The any-pose mode measures its ICP's fits and the verdict on one scene of P and Q as loaded.
  if (state.params.any_pose) {
    if (!scene)
      scene = std::make_unique<registration::FitScene>(state.models.full_p,
                                                       state.models.saved_full_q);
    result = refine_any_pose(state, hooks, *scene, refinement);
  } else {
    result = icp::refine_q_by_icp(state.models.full_p, state.models.full_q, state.params.threads,
                                  true, hooks.should_stop);
    refinement = matrix_of(result.xf2);
  }
  if (!result.ran) {
    state.status_text = result.message;
    if (state.console) std::fprintf(stderr, "%s\n", result.message.c_str());
  } else {
    state.status_text.clear();
    place_after_motion(state.models.q_placement, refinement);
    if (scene)
      judge_on_scene(state, *scene);
    else
      judge_shown_q(state);
  }
  hooks.request_repaint();
  return result;
}

}  // namespace kestrel::app
