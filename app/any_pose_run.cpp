#include "app/any_pose_run.h"

#include <cstdio>
#include <cstdlib>

#include "core/clock.h"
#include "registration/any_pose.h"
#include "registration/lcp.h"
#include "registration/run_registration.h"
#include "registration/voxel_sample.h"

namespace kestrel::registration {
extern double g_truth[12];
extern bool g_has_truth;
}
namespace kestrel::app {

registration::EngineResult run_any_pose(const AppState& state,
                                        const registration::EngineOptions& options,
                                        const registration::EngineHooks& engine,
                                        core::Random15& rng) {
  const ModelSets& m = state.models;
  core::Clock::time_point t0 = core::Clock::now();
  registration::AnnIndex full_p_index;
  full_p_index.build(m.full_p);
  // Working sets of the search: both scans thinned by one grid, as many points as the working
  // P the user chose, so that every part of each surface keeps a sample.
  const bool voxel = !std::getenv("KX_NOVOXEL");
  const double cell = voxel ? registration::voxel_cell_for(m.full_p, m.model_p.size()) : 0;
  const core::PointSet work_p = voxel ? registration::voxel_sample(m.full_p, cell) : m.model_p;
  const core::PointSet work_q =
      voxel ? registration::voxel_sample(m.saved_full_q, cell) : m.model_q;
  registration::AnnIndex work_p_index;
  work_p_index.build(work_p);
  registration::AnyPoseScans scans{m.full_p,       full_p_index,   work_p,
                                   work_p_index,   m.saved_full_q, work_q};
  const float overlap = state.params.overlap_given ? state.params.overlap_estimation : 0.0f;
  const registration::AnyPosePlan plan = registration::plan_any_pose(scans, options, overlap);
  std::vector<std::array<double, 3>> full_p_positions;
  full_p_positions.reserve(m.full_p.size());
  for (const core::Point3D& p : m.full_p) full_p_positions.push_back({p.x, p.y, p.z});
  const registration::PointGrid full_p_grid(full_p_positions,
                                            registration::fine_grid_radius(plan));
  scans.full_p_grid = &full_p_grid;
  std::vector<std::array<double, 3>> p_positions;
  p_positions.reserve(work_p.size());
  for (const core::Point3D& p : work_p) p_positions.push_back({p.x, p.y, p.z});
  const registration::PointGrid p_grid(p_positions, registration::polish_grid_radius(plan));
  scans.p_grid = &p_grid;
  const double normals_ms = core::elapsed_ms(t0);
  if (options.debug)
    std::printf("any pose: neighbour distance %f, spacing %f, normal spread %f, extent %f\n",
                plan.neighbour_distance, plan.point_spacing, plan.normal_spread, plan.extent);

  if (const char* gt = std::getenv("KX_GT")) {
    FILE* f = std::fopen(gt, "r");
    char line[512];
    double M[3][4];
    int row = 0;
    while (f && row < 3 && std::fgets(line, sizeof line, f))
      if (line[0] != '#' && std::sscanf(line, "%lf %lf %lf %lf", &M[row][0], &M[row][1], &M[row][2], &M[row][3]) == 4) ++row;
    if (f) std::fclose(f);
    const float* cp = state.models.centroid_p;
    const float* cq = state.models.centroid_q;
    for (int i = 0; i < 3; ++i)
      for (int j = 0; j < 3; ++j) registration::g_truth[3 * i + j] = M[i][j];
    for (int i = 0; i < 3; ++i)
      registration::g_truth[9 + i] = M[i][0] * cq[0] + M[i][1] * cq[1] + M[i][2] * cq[2] + M[i][3] - cp[i];
    registration::g_has_truth = row == 3;
  }
  const registration::EngineInputs inputs{work_p,          work_p_index,    plan.point_spacing,
                                          work_q,          &plan.p_normals, &plan.q_normals};
  registration::EngineHooks vetting = engine;
  vetting.vet = [&](core::RigidTransform& motion) {
    double share = 0;
    const bool ok = registration::vet_any_pose(scans, plan, motion, &share);
    if (options.debug)
      std::printf("\nvet: %.3f of the near points on the surface%s\n", share,
                  ok ? "" : ", rejected");
    return ok;
  };
  if (!std::getenv("KX_NOPOLISH"))
  vetting.polish = [&](core::RigidTransform& motion) {
    motion = registration::quick_polish(scans, plan, motion);
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
