#include "registration/run_trial.h"

#include <cmath>
#include <cstdint>
#include <vector>

#include "core/random15.h"
#include "core/rigid_transform.h"
#include "registration/affine_correction.h"
#include "registration/base_selection.h"
#include "registration/lcp.h"
#include "registration/motion_estimation.h"
#include "registration/pair_extraction.h"
#include "registration/progress.h"
#include "registration/quad_search.h"

namespace kestrel::registration {

namespace {

// Everything one trial's candidate loop reads and writes.
struct Trial {
  RegistrationState& state;
  const core::RunParameters& params;
  const EngineHooks& hooks;
  const core::PointSet& p_sample;
  const core::PointSet& q;
  core::PointSet& moved_q;
  float& lcp;
  float run_tol;
  int base[4];  // sample indices in the order base selection found them
};

double distance(const core::Point3D& a, const core::Point3D& b) {
  const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

double normal_difference(const core::Point3D& a, const core::Point3D& b) {
  const double dx = a.nx - b.nx, dy = a.ny - b.ny, dz = a.nz - b.nz;
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

void publish(Trial& tr, const core::RigidTransform& m, uint64_t pos, uint64_t count) {
  RegistrationState& st = tr.state;
  print_improvement(st, tr.params.num_try, tr.lcp, pos, count);
  tr.hooks.request_repaint();
  tr.moved_q = st.model_q;
  core::transform_point_set(tr.moved_q, m);
  st.full_q = st.saved_full_q;
  core::transform_point_set(st.full_q, m);
  tr.hooks.request_repaint();
  st.current_transform.R = m.R;
  st.current_transform.s = m.s;
  for (int k = 0; k < 3; ++k) {
    st.current_transform.c[k] = static_cast<float>(m.c[k]);
    st.current_transform.t[k] = static_cast<float>(m.t[k]);
  }
  st.best_lcp = tr.lcp;
}

// Draws three pairwise distinct indices of Q (|Q| >= 3) against the base triangle.
void ransac_matches(const Trial& tr, std::vector<core::PointMatch>& matches) {
  const auto n = static_cast<uint64_t>(tr.q.size());
  uint64_t a, b, c;
  do {
    a = static_cast<uint64_t>(core::rand15()) % n;
    b = static_cast<uint64_t>(core::rand15()) % n;
    c = static_cast<uint64_t>(core::rand15()) % n;
  } while (a == b || a == c || b == c);
  const uint64_t picked[3] = {a, b, c};
  matches.resize(3);
  for (size_t k = 0; k < 3; ++k)
    matches[k] = {tr.p_sample[static_cast<size_t>(tr.base[k])], tr.q[picked[k]]};
}

// |Q|^3 in 64 bits (32 bits wrap from 1626 points on), saturating for absurdly large sets.
uint64_t ransac_candidate_count(size_t q_size) {
  const auto n = static_cast<uint64_t>(q_size);
  constexpr uint64_t kCubeRootOfMax = 2642245;
  return n > kCubeRootOfMax ? UINT64_MAX : n * n * n;
}

// The candidate loop shared by both modes; `quads` is empty in RANSAC mode.
bool evaluate_candidates(Trial& tr, const std::vector<core::CongruentQuad>& quads, uint64_t count) {
  const core::RunParameters& params = tr.params;
  const bool ransac = tr.state.ransac_mode;
  const float gate = (ransac ? 15.0f : 5.0f) * tr.run_tol;
  const auto sq_radius = static_cast<float>(params.point_spacing * tr.run_tol * 2.0f);
  const bool affine = !ransac && params.scale_tol != 1.0f;
  const int64_t start = tick_ms();
  std::vector<core::PointMatch> matches;
  core::RigidTransform m;
  core::DenseMatrix correction(3, 3);

  for (uint64_t pos = 0; pos < count; ++pos) {
    if (tr.hooks.escape()) return true;
    if (ransac) {
      ransac_matches(tr, matches);
    } else {
      const core::CongruentQuad& quad = quads[pos];
      const uint32_t qi[4] = {quad.q0, quad.q1, quad.q2, quad.q3};
      matches.resize(4);
      for (size_t k = 0; k < 4; ++k)
        matches[k] = {tr.p_sample[static_cast<size_t>(tr.base[k])], tr.q[qi[k]]};
    }
    m.s = 1.0f;
    double residual = estimate_rigid_motion(matches, m.R, m.t[0], m.t[1], m.t[2], m.c[0], m.c[1],
                                            m.c[2], m.s, ransac);
    if (affine) {
      for (core::PointMatch& match : matches) core::transform_point(match.q, m);
      double b[3], unused[3];
      residual = estimate_affine_correction(matches, correction, b[0], b[1], b[2], unused[0],
                                            unused[1], unused[2]);
      if (std::isfinite(residual)) {
        combine_with_correction(correction, b, m.R, m.c, m.t, m.R, m.t);
        m.s = 1.0f;
      }
    }
    if (pos % 100 == 0) {
      print_candidate_progress(tr.state, params.num_try, tr.lcp, pos, count);
      tr.hooks.request_repaint();
    }
    if (residual < static_cast<double>(gate)) {
      ++tr.state.run_candidates;
      const double v = compute_lcp(tr.state.model_q, tr.state.p_index, m.R, m.s, sq_radius, tr.lcp,
                                   m.c[0], m.c[1], m.c[2], m.t[0], m.t[1], m.t[2]);
      if (v > tr.lcp) {
        tr.lcp = static_cast<float>(v);
        publish(tr, m, pos, count);
      }
      if (tr.lcp > params.thr) break;
    }
  }
  if (params.debug) debug_evaluation(tick_ms() - start);
  return tr.lcp > params.thr;
}

}  // namespace

bool run_trial(RegistrationState& state, const core::RunParameters& params,
               const EngineHooks& hooks, const core::PointSet& p_sample, const core::PointSet& q,
               core::PointSet& moved_q, float& lcp, float run_tol) {
  state.trial_count += 1;
  print_trial_start(state.trial_count, params.num_try, lcp);
  Trial tr{state, params, hooks, p_sample, q, moved_q, lcp, run_tol, {-1, -1, -1, -1}};

  int64_t start = tick_ms();
  double r1 = 0, r2 = 0;
  if (!select_base(p_sample, params, state, r1, r2, tr.base[0], tr.base[1], tr.base[2],
                   tr.base[3])) {
    if (params.debug) debug_no_base();
    return false;
  }
  if (params.debug) debug_base(tr.base[0], tr.base[1], tr.base[2], tr.base[3]);
  const core::PointSet& b = state.base_points;
  const double d1 = distance(b[0], b[1]);
  const double d2 = distance(b[2], b[3]);
  if (params.debug) debug_selection(tick_ms() - start, d1, d2);

  if (state.ransac_mode) {
    // No pairwise distinct triple exists: end the trial like one without a base.
    if (q.size() < 3) {
      if (params.debug) debug_too_few_q_points(q.size());
      return false;
    }
    return evaluate_candidates(tr, {}, ransac_candidate_count(q.size()));
  }

  start = tick_ms();
  const double widen = std::fabs(1.0f - params.scale_tol);
  const float normal_tol = pair_normal_tolerance(params.norm_diff, state.noise_added);
  std::vector<core::IndexPair> d1_pairs, d2_pairs;
  extract_pairs(q, d1, normal_difference(b[0], b[1]), widen * d1 + run_tol, normal_tol, d1_pairs);
  extract_pairs(q, d2, normal_difference(b[2], b[3]), widen * d2 + run_tol, normal_tol, d2_pairs);
  if (d1_pairs.empty() || d2_pairs.empty()) return false;
  if (params.debug) debug_pairs(tick_ms() - start, d1_pairs.size(), d2_pairs.size());

  start = tick_ms();
  const double quad_tol = widen * run_tol + static_cast<double>(2.0f * run_tol);
  std::vector<core::CongruentQuad> quads;
  if (!find_congruent_quads(d1_pairs, d2_pairs, quads, r1, r2, quad_tol, run_tol, q, b)) {
    if (params.debug) debug_no_quads();
    return false;
  }
  if (params.debug) debug_quads(tick_ms() - start, quads.size());
  return evaluate_candidates(tr, quads, quads.size());
}

}  // namespace kestrel::registration
