#include "app/align_models.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/model_actions.h"
#include "app/run_actions.h"
#include "core/clock.h"
#include "core/random15.h"
#include "icp/icp_random.h"

namespace kestrel::app {

namespace {

bool load(AppState& state, ModelSide side, const ModelInput& input, const ActionHooks& hooks,
          std::string* error) {
  return input.points ? load_model_points(state, side, *input.points, input.name, hooks, error)
                      : load_model(state, side, input.name, hooks, error);
}

bool load_both(AppState& state, const ModelInput& p, const ModelInput& q, const ActionHooks& hooks,
               std::string* error) {
  core::srand15(0);
  icp::reset_icp_random();
  reset_gaussian();
  state.params.headless = true;
  state.models.full_surfaces = false;
  return load(state, ModelSide::kP, p, hooks, error) && load(state, ModelSide::kQ, q, hooks, error);
}

}  // namespace

const char* idle_given_option(const core::RunParameters& params, const AlignOptions& o) {
  if (!params.any_pose || o.ransac) return nullptr;
  if (params.thr_given) return "-t";
  if (params.base_max_len_given) return "-q";
  if (params.num_try_given) return "-y";
  return nullptr;
}

bool settle_parameters(core::RunParameters& params, const AlignOptions& o, std::string* error) {
  if (!params.trans_file.empty() && !read_trans_file(params.trans_file, params, error))
    return false;
  if (const char* option = idle_given_option(params, o)) {
    if (error)
      *error = std::string("Option ") + option +
               " does not act with --any-pose, which takes its trials, threshold and base sizes "
               "from the scans (see --help).";
    return false;
  }
  derive_parameters(params);
  return true;
}

bool align_models(AppState& state, const AlignOptions& o, const ModelInput& p, const ModelInput& q,
                  const AlignHooks& hooks, AlignOutcome& outcome, std::string* error) {
  if (!load_both(state, p, q, hooks.action, error)) return false;
  refresh_parameters(state.params);
  for (int i = 0; i < o.random_positions; ++i) on_random_position(state);
  if (o.noise) on_add_noise(state);
  if (hooks.before_run) hooks.before_run();
  outcome.run =
      o.ransac ? on_start_ransac(state, hooks.action) : on_start_kestrel(state, hooks.action);
  if (hooks.after_run) hooks.after_run(outcome);
  std::fflush(stdout);
  if (!o.icp || outcome.run.stopped || !no_motion_reason(outcome.run).empty()) {
    outcome.motion = exported_motion(state);
    return true;
  }
  const core::Clock::time_point t0 = core::Clock::now();
  outcome.icp = on_start_icp(state, hooks.action);
  outcome.icp_ms = core::elapsed_ms(t0);
  if (!outcome.icp.ran) {
    if (error) *error = outcome.icp.message;
    return false;
  }
  // ICP moved Q's placement, so the exported motion carries the refinement.
  outcome.motion = exported_motion(state);
  return true;
}

bool write_results(AppState& state, const AlignOptions& o, AlignOutcome& outcome,
                   std::string* error) {
  // All of the command's files or none: each is written aside first, then they all replace
  // their targets.
  core::FileBatch batch;
  return export_results(state, o.out, o.reconstruct, &outcome.motion, error, &batch) &&
         (o.matrix.empty() || batch.add(o.matrix, matrix_text(outcome.motion.m), error)) &&
         batch.commit(error);
}

}  // namespace kestrel::app
