#include "registration/congruent/lcp.h"

#include <cstdint>

#include "core/stop_check.h"

namespace kestrel::registration {

namespace {

// A point's test costs about a microsecond (a tree query): a stop is asked after this many.
constexpr int64_t kPointsPerStopCheck = 4096;
// Whole numbers up to this one are exact in a float.
constexpr size_t kExactInFloat = size_t{1} << 24;

// The LCP loop; `hit(i)` decides whether point i of q counts.
template <typename Hit>
LcpScore count_hits(size_t n, double best, const std::function<bool()>& stop, Hit&& hit) {
  LcpScore score;
  if (n == 0) return score;
  const auto nf = static_cast<float>(n);
  const auto needed = static_cast<float>(static_cast<int64_t>(nf * best));
  int64_t hits = 0;
  core::StopCheck stopped(stop, kPointsPerStopCheck);
  if (n < kExactInFloat && needed <= nf) {
    // Every count below is a whole number that a float holds exactly, so the test below reads,
    // with the points missed so far: misses > n + 1 - needed. Said in integers it costs no
    // conversions, and the scoring loop is the search's busiest.
    const int64_t most_misses = static_cast<int64_t>(n) + 1 - static_cast<int64_t>(needed);
    int64_t misses = 0;
    for (size_t i = 0; i < n; ++i) {
      if (stopped()) {
        score.early_exit = true;
        return score;
      }
      if (hit(i))
        ++hits;
      else if (++misses > most_misses) {
        score.value = static_cast<float>(hits) / nf;
        score.early_exit = true;
        return score;
      }
    }
    score.value = static_cast<float>(hits) / nf;
    return score;
  }
  for (size_t i = 0; i < n && static_cast<float>(i) < nf; ++i) {
    if (stopped()) {
      score.early_exit = true;
      return score;
    }
    if (hit(i)) ++hits;
    // The point just tested still counts as open, so the exit comes one point late; the value
    // returned is then below `best` and the caller's strict comparison rejects it.
    if (needed > nf - static_cast<float>(i) + static_cast<float>(hits)) {
      score.value = static_cast<float>(hits) / nf;
      score.early_exit = true;
      return score;
    }
  }
  score.value = static_cast<float>(hits) / nf;
  return score;
}

// `hit(i, moved)` decides whether point i of q, moved to `moved`, counts.
template <typename Hit>
LcpScore score_points(const core::PointSet& q, const core::RigidTransform& motion, double best,
                      const std::function<bool()>& stop, Hit&& hit) {
  return count_hits(q.size(), best, stop, [&](size_t i) {
    core::Point3D moved = q[i];
    core::transform_point(moved, motion);
    return hit(i, moved);
  });
}

}  // namespace

MotionMatrix::MotionMatrix(const core::RigidTransform& motion) {
  // p' = s R (p - c) + c + t
  const double s = motion.s;
  for (uint32_t r = 0; r < 3; ++r) {
    double shift = motion.c[r] + motion.t[r];
    for (uint32_t k = 0; k < 3; ++k) {
      m[r][k] = s * motion.R(r, k);
      shift -= m[r][k] * motion.c[k];
    }
    m[r][3] = shift;
  }
}

LcpScore compute_lcp(const core::PointSet& q, const AnnIndex& p_index,
                     const core::RigidTransform& motion, double sq_radius, double best,
                     const std::function<bool()>& stop) {
  return score_points(q, motion, best, stop, [&](size_t, const core::Point3D& moved) {
    return sq_radius > p_index.nearest_sq_dist(moved.x, moved.y, moved.z);
  });
}

LcpScore compute_lcp(const core::PointSet& q, const PointGrid& p_grid,
                     const core::RigidTransform& motion, double sq_radius, double best,
                     const std::function<bool()>& stop) {
  return score_points(q, motion, best, stop, [&](size_t, const core::Point3D& moved) {
    return p_grid.any_within(moved.x, moved.y, moved.z, sq_radius);
  });
}

LcpScore compute_lcp(const core::PointSet& q, const NearMask& p_mask,
                     const core::RigidTransform& motion, double best,
                     const std::function<bool()>& stop) {
  const MotionMatrix m(motion);
  return count_hits(q.size(), best, stop, [&](size_t i) {
    double x, y, z;
    m.apply(q[i], x, y, z);
    return p_mask.near(x, y, z);
  });
}

}  // namespace kestrel::registration
