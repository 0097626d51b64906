#include "registration/run_registration.h"

#include <algorithm>

#include "registration/progress.h"
#include "registration/run_trial.h"

namespace kestrel::registration {

namespace {
// base_max_len while bases come from a region of P: no limit.
constexpr float kUnlimitedBaseLength = 1000000.0f;
}  // namespace

core::PointSet select_p_region(const core::PointSet& model_p, int32_t mode, size_t count) {
  if (mode != 1 && mode != 2) return {};
  core::PointSet sorted = model_p;
  std::sort(sorted.begin(), sorted.end(), [](const core::Point3D& a, const core::Point3D& b) {
    if (a.x != b.x) return a.x < b.x;
    if (a.y != b.y) return a.y < b.y;
    return a.z < b.z;
  });
  count = std::min(count, sorted.size());
  if (mode == 2) return core::PointSet(sorted.begin(), sorted.begin() + static_cast<long>(count));
  return core::PointSet(sorted.rbegin(), sorted.rbegin() + static_cast<long>(count));
}

void run_registration(RegistrationState& state, core::RunParameters& params,
                      const EngineHooks& hooks) {
  const int64_t start = tick_ms();
  state.run_lcp = 0;
  state.run_candidates = 0;
  core::PointSet p_sample;
  if (params.margin != 0) {
    params.base_max_len = kUnlimitedBaseLength;
    p_sample = select_p_region(state.model_p, params.margin, state.model_p.size() / 4);
  } else {
    p_sample = state.model_p;
  }
  const core::PointSet q = state.model_q;
  const float run_tol = params.delta * params.point_spacing;

  float best = 0;
  core::PointSet moved_q, best_q;
  for (int32_t i = 0; i < params.num_try;) {
    float lcp = best;
    const bool stop = run_trial(state, params, hooks, p_sample, q, moved_q, lcp, run_tol);
    if (lcp > best) {
      best = lcp;
      best_q = moved_q;
    }
    if (stop) break;
    ++i;
  }
  print_run_time(tick_ms() - start);
  state.run_lcp = best;
  if (!best_q.empty()) state.model_q = best_q;
}

}  // namespace kestrel::registration
