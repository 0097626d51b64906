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

}  // namespace

bool align_models(AppState& state, const AlignOptions& o, const ModelInput& p, const ModelInput& q,
                  const ActionHooks& hooks, AlignOutcome& outcome, std::string* error) {
  core::srand15(0);
  icp::reset_icp_random();
  reset_gaussian();
  state.models.full_surfaces = false;
  if (!load(state, ModelSide::kP, p, hooks, error) || !load(state, ModelSide::kQ, q, hooks, error))
    return false;
  refresh_parameters(state.params);
  for (int i = 0; i < o.random_positions; ++i) on_random_position(state);
  if (o.noise) on_add_noise(state);
  outcome.run = o.ransac ? on_start_ransac(state, hooks) : on_start_kestrel(state, hooks);
  std::fflush(stdout);
  // A stopped run hands back what it had, as Escape does in the window; refining it is the
  // user's next choice, not part of the stop.
  if (!o.icp || outcome.run.stopped) {
    outcome.motion = exported_motion(state);
    return true;
  }
  const core::Clock::time_point t0 = core::Clock::now();
  outcome.icp = on_start_icp(state, hooks);
  outcome.icp_ms = core::elapsed_ms(t0);
  if (!outcome.icp.ran) {
    if (error) *error = outcome.icp.message;
    return false;
  }
  // ICP moved Q's placement, so the exported motion carries the refinement.
  outcome.motion = exported_motion(state);
  return true;
}

}  // namespace kestrel::app
