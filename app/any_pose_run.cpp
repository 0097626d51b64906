#include "app/any_pose_run.h"

#include <cstdio>

#include "core/clock.h"
#include "registration/any_pose.h"
#include "registration/lcp.h"
#include "registration/run_registration.h"

namespace kestrel::app {

registration::EngineResult run_any_pose(const AppState& state,
                                        const registration::EngineOptions& options,
                                        const registration::EngineHooks& engine,
                                        core::Random15& rng) {
  const ModelSets& m = state.models;
  core::Clock::time_point t0 = core::Clock::now();
  registration::AnnIndex full_p_index;
  full_p_index.build(m.full_p);
  const registration::AnyPoseScans scans{m.full_p,       full_p_index, m.model_p,
                                         m.p_index,      m.saved_full_q, m.model_q};
  const float overlap = state.params.overlap_given ? state.params.overlap_estimation : 0.0f;
  const registration::AnyPosePlan plan = registration::plan_any_pose(scans, options, overlap);
  const double normals_ms = core::elapsed_ms(t0);
  if (options.debug)
    std::printf("any pose: neighbour distance %f, spacing %f, normal spread %f, extent %f\n",
                plan.neighbour_distance, plan.point_spacing, plan.normal_spread, plan.extent);

  const registration::EngineInputs inputs{m.model_p, m.p_index, plan.point_spacing, m.model_q,
                                          &plan.p_normals, &plan.q_normals};
  registration::EngineHooks vetting = engine;
  vetting.vet = [&](core::RigidTransform& motion) {
    double share = 0;
    const bool ok = registration::vet_any_pose(scans, plan, motion, &share);
    if (options.debug)
      std::printf("\nvet: %.3f of the near points on the surface%s\n", share,
                  ok ? "" : ", rejected");
    return ok;
  };
  registration::EngineResult result = registration::run_kestrel(inputs, plan.options, vetting, rng);
  result.times.normals = normals_ms;
  if (!result.improved) return result;

  t0 = core::Clock::now();
  result.motion = registration::polish_any_pose(scans, plan, result.motion);
  const double sq_radius = 2.0 * plan.point_spacing * plan.options.delta * plan.point_spacing;
  result.best_lcp = static_cast<float>(
      registration::compute_lcp(m.model_q, m.p_index, result.motion, sq_radius, 0).value);
  result.times.polish += core::elapsed_ms(t0);
  if (engine.on_improvement) engine.on_improvement({result.motion, result.best_lcp});
  engine.request_repaint();
  return result;
}

}  // namespace kestrel::app
