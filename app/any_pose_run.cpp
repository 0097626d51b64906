#include "app/any_pose_run.h"

#include <array>
#include <cstdio>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/side_by_side.h"
#include "registration/any_pose.h"
#include "registration/lcp.h"
#include "registration/point_grid.h"
#include "registration/run_registration.h"
#include "registration/voxel_sample.h"

namespace kestrel::app {

namespace {

std::vector<std::array<double, 3>> positions(const core::PointSet& set) {
  std::vector<std::array<double, 3>> out;
  out.reserve(set.size());
  for (const core::Point3D& p : set) out.push_back({p.x, p.y, p.z});
  return out;
}

}  // namespace

registration::EngineResult run_any_pose(const AppState& state,
                                        const registration::EngineOptions& options,
                                        const registration::EngineHooks& engine,
                                        core::Random15& rng) {
  const ModelSets& m = state.models;
  core::Clock::time_point t0 = core::Clock::now();
  // The search's working sets: both full scans thinned by one grid, to about as many points as
  // the working P the user chose. Unlike a random draw the grid leaves no holes, so every part
  // of each surface keeps a sample close to where the other scan's samples fall.
  const double cell = registration::voxel_cell_for(m.full_p, m.model_p.size());
  core::PointSet work_p, work_q;
  registration::AnnIndex work_p_index;
  std::optional<registration::PointGrid> full_p_grid, full_q_grid;
  core::side_by_side(
      options.threads,
      [&] {
        work_p = registration::voxel_sample(m.full_p, cell);
        work_p_index.build(work_p);
        full_p_grid.emplace(positions(m.full_p), registration::full_grid_cell(
                                                     m.full_p.size(), work_p.size(), cell));
      },
      [&] {
        work_q = registration::voxel_sample(m.saved_full_q, cell);
        full_q_grid.emplace(positions(m.saved_full_q),
                            registration::full_grid_cell(m.saved_full_q.size(), work_q.size(), cell));
      });
  registration::AnyPoseScans scans{m.full_p,       *full_p_grid, work_p, work_p_index,
                                   m.saved_full_q, *full_q_grid, work_q};
  const float overlap = state.params.overlap_given ? state.params.overlap_estimation : 0.0f;
  const registration::AnyPosePlan plan = registration::plan_any_pose(scans, options, overlap);
  const registration::PointGrid p_grid(positions(work_p), registration::polish_grid_radius(plan));
  scans.p_grid = &p_grid;
  const double normals_ms = core::elapsed_ms(t0);
  if (options.debug)
    std::printf("any pose: grid cell %f, spacing %f, normal spread %f, size %f\n", cell,
                plan.point_spacing, plan.normal_spread, plan.size);

  const registration::EngineInputs inputs{work_p,          work_p_index,    plan.point_spacing,
                                          work_q,          &plan.p_normals, &plan.q_normals};
  registration::EngineHooks hooks = engine;
  hooks.polish = [&](core::RigidTransform& motion) {
    motion = registration::quick_polish(scans, plan, motion);
  };
  registration::EngineResult result = registration::run_kestrel(inputs, plan.options, hooks, rng);
  result.times.normals = normals_ms;
  if (!result.improved) return result;

  t0 = core::Clock::now();
  result.motion = registration::polish_any_pose(scans, plan, result.motion);
  // Reported like every run's LCP: over the working sets the window shows.
  result.best_lcp = static_cast<float>(registration::compute_lcp(
      m.model_q, m.p_index, result.motion, registration::score_sq_radius(plan), 0).value);
  result.times.polish += core::elapsed_ms(t0);
  if (engine.on_improvement) engine.on_improvement({result.motion, result.best_lcp});
  engine.request_repaint();
  return result;
}

}  // namespace kestrel::app
