#include "registration/any_pose/surface_icp.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "core/side_by_side.h"
#include "registration/any_pose/half_turns.h"
#include "registration/any_pose/nearby_points.h"
#include "registration/any_pose/plane_fit.h"
#include "registration/any_pose/refine_motion.h"
#include "registration/congruent/linear_algebra.h"
#include "registration/judge/fit_evidence.h"

namespace kestrel::registration {

namespace {

// A point of Q where the current motion puts it, P's nearest point and P's normal there.
struct SurfacePair {
  double x[3], p[3], n[3];
};

// P's unit normals, fitted once per cube of two spacings that some step pairs in: on a dense
// scan the pairs move to new points of P at every step, but not to new places on its surface.
class NormalCache {
 public:
  NormalCache(const core::PointSet& p, const PointGrid& grid, int neighbours, double spacing)
      : p_(p), grid_(grid), neighbours_(static_cast<size_t>(neighbours)), cube_(2 * spacing) {}

  // The normal about P's point i; false where P's neighbours span no plane.
  bool normal(int i, double n[3]) {
    const core::Point3D& at = p_[static_cast<size_t>(i)];
    const Cube key{static_cast<int64_t>(std::floor(at.x / cube_)),
                   static_cast<int64_t>(std::floor(at.y / cube_)),
                   static_cast<int64_t>(std::floor(at.z / cube_))};
    auto [it, fresh] = cache_.try_emplace(key);
    std::array<double, 4>& entry = it->second;
    if (fresh) {
      grid_.nearest_k(at.x, at.y, at.z, neighbours_, nn_);
      double centre[3];
      entry[3] = fit_plane(p_, nn_, entry.data(), centre) ? 1 : 0;
    }
    for (int k = 0; k < 3; ++k) n[k] = entry[static_cast<size_t>(k)];
    return entry[3] != 0;
  }

 private:
  using Cube = std::array<int64_t, 3>;
  struct CubeHash {
    size_t operator()(const Cube& c) const {
      uint64_t h = 1469598103934665603ull;
      for (int64_t v : c) h = (h ^ static_cast<uint64_t>(v)) * 1099511628211ull;
      return static_cast<size_t>(h);
    }
  };

  const core::PointSet& p_;
  const PointGrid& grid_;
  size_t neighbours_;
  double cube_;
  std::vector<int> nn_;
  std::unordered_map<Cube, std::array<double, 4>, CubeHash> cache_;
};

// Pairs each sample point, moved by `motion`, with P's nearest point within `radius`; near[i]
// keeps sample point i's nearest point of P from step to step. False when a stop request came.
bool find_pairs(const FitScene& scene, const core::PointSet& sample, size_t begin, size_t end,
                const core::RigidTransform& motion, double radius, NormalCache& normals,
                NearbyPoints& nearby, std::vector<int>& near, const std::function<bool()>& stop,
                std::vector<SurfacePair>& pairs) {
  pairs.clear();
  const double sq_radius = radius * radius;
  for (size_t i = begin; i < end; ++i) {
    if ((i - begin) % 1024 == 0 && stop && stop()) return false;
    SurfacePair s;
    core::Point3D x = sample[i];
    core::transform_point(x, motion);
    s.x[0] = x.x, s.x[1] = x.y, s.x[2] = x.z;
    double d2 = 0;
    const int j = nearby.nearest(i, x, sq_radius, near[i], d2);
    if (j < 0 || !normals.normal(j, s.n)) continue;
    const core::Point3D& p = scene.full_p[static_cast<size_t>(j)];
    s.p[0] = p.x, s.p[1] = p.y, s.p[2] = p.z;
    pairs.push_back(s);
  }
  return true;
}

double plane_offset(const SurfacePair& s) {
  return (s.x[0] - s.p[0]) * s.n[0] + (s.x[1] - s.p[1]) * s.n[1] + (s.x[2] - s.p[2]) * s.n[2];
}

double rms_offset(const std::vector<SurfacePair>& pairs) {
  double sum = 0;
  for (const SurfacePair& s : pairs) sum += plane_offset(s) * plane_offset(s);
  return pairs.empty() ? 0 : std::sqrt(sum / static_cast<double>(pairs.size()));
}

// The small motion about the pairs' centroid m that best lays them on P's tangent planes,
// x -> D (x - m) + m + u, composed onto `motion`. False when the pairs leave a direction free.
bool step_motion(const std::vector<SurfacePair>& pairs, core::RigidTransform& motion) {
  double m[3] = {0, 0, 0};
  for (const SurfacePair& s : pairs)
    for (int k = 0; k < 3; ++k) m[k] += s.x[k];
  for (double& v : m) v /= static_cast<double>(pairs.size());
  double A[36] = {}, b[6] = {};
  for (const SurfacePair& s : pairs) {
    const double d[3] = {s.x[0] - m[0], s.x[1] - m[1], s.x[2] - m[2]};
    double j[6];
    plane_row(d, s.n, j);
    const double r = plane_offset(s);
    for (int row = 0; row < 6; ++row) {
      b[row] -= j[row] * r;
      for (int col = 0; col < 6; ++col) A[6 * row + col] += j[row] * j[col];
    }
  }
  double x[6], turn[9];
  if (!solve6(A, b, x) || !rotation_by_vector(x, turn)) return false;
  follow_with_turn(motion, turn, m, x + 3);
  return true;
}

// Root mean square of how far the sample's points land apart under two motions.
double motion_change(const core::PointSet& sample, const core::RigidTransform& a,
                     const core::RigidTransform& b) {
  double sum = 0;
  for (const core::Point3D& p : sample) {
    core::Point3D u = p, v = p;
    core::transform_point(u, a);
    core::transform_point(v, b);
    sum += (u.x - v.x) * (u.x - v.x) + (u.y - v.y) * (u.y - v.y) + (u.z - v.z) * (u.z - v.z);
  }
  return sample.empty() ? 0 : std::sqrt(sum / static_cast<double>(sample.size()));
}

// A sample point's list of P's points about it reaches 2.5 of P's spacings: about 20 points,
// and it serves until the point has moved a spacing or so.
double nearby_reach(const FitScene& scene) {
  constexpr double kNearbySpacings = 2.5;
  return kNearbySpacings * scene.spacing;
}

// What the steps share: the scene, the sample of Q they pair, the radii (model units; the last
// is kept until the motion settles) and the normals fitted so far.
struct StepSetup {
  const FitScene& scene;
  const core::PointSet& sample;
  std::vector<double> radii;
  NormalCache normals;
  // With a second cache the sample's second half is paired apart, with normals of its own, on a
  // second thread when `threads` allows: the same pairs either way.
  std::optional<NormalCache> second;
  int threads = 1;
  // Each sample point's nearest point of P at the last step (-1: none yet), and the points of
  // P about it: the second half's lists apart, for the second thread.
  std::vector<int> near = std::vector<int>(sample.size(), -1);
  NearbyPoints nearby{scene.full_p, *scene.p_grid, sample.size(), nearby_reach(scene)};
  NearbyPoints second_nearby{scene.full_p, *scene.p_grid, second ? sample.size() : 0,
                             nearby_reach(scene)};
};

// Pairs the whole sample, moved by `motion`, within `radius`. False when a stop request came
// (heard by the first half's loop only: the request's hook is the calling thread's).
bool pair_sample(StepSetup& setup, const core::RigidTransform& motion, double radius,
                 const std::function<bool()>& stop, std::vector<SurfacePair>& pairs) {
  const size_t n = setup.sample.size();
  if (!setup.second)
    return find_pairs(setup.scene, setup.sample, 0, n, motion, radius, setup.normals, setup.nearby,
                      setup.near, stop, pairs);
  std::vector<SurfacePair> rest;
  bool heard = false;
  core::side_by_side(
      setup.threads,
      [&] {
        heard = !find_pairs(setup.scene, setup.sample, 0, n / 2, motion, radius, setup.normals,
                            setup.nearby, setup.near, stop, pairs);
      },
      [&] {
        find_pairs(setup.scene, setup.sample, n / 2, n, motion, radius, *setup.second,
                   setup.second_nearby, setup.near, {}, rest);
      });
  pairs.insert(pairs.end(), rest.begin(), rest.end());
  return !heard;
}

// The steps from `start`, a motion of the scene's Q.
SurfaceIcpResult run_steps(StepSetup& setup, const core::RigidTransform& start,
                           const std::function<bool()>& stop, const SurfaceIcpOptions& options) {
  const FitScene& scene = setup.scene;
  const std::vector<double>& radii = setup.radii;
  SurfaceIcpResult result;
  std::vector<SurfacePair> pairs;
  core::RigidTransform motion = start;
  const size_t last = radii.size() - 1;
  for (int step = 0; step < options.max_steps; ++step) {
    if ((stop && stop()) ||
        !pair_sample(setup, motion, radii[std::min(static_cast<size_t>(step), last)], stop,
                     pairs)) {
      result.stopped = true;
      result.message = "ICP stopped before it was done";
      return result;
    }
    result.pairs = pairs.size();
    result.rms = rms_offset(pairs);
    core::RigidTransform next = motion;
    if (pairs.size() < options.min_pairs || !step_motion(pairs, next)) {
      if (step == 0)
        result.message = "too few points of Q near P's surface to refine; Q left where it was";
      break;
    }
    const double change = motion_change(setup.sample, motion, next);
    motion = next;
    result.steps = step + 1;
    if (static_cast<size_t>(step) >= last && change < options.settle_share * scene.spacing) break;
  }
  result.ran = true;
  result.motion = motion;
  return result;
}

// How well a refined motion lays the scans on each other: Q on P's surface, less what it puts
// where the other scan saw empty space; and of what lies near P, the share on its surface.
struct FitMark {
  double score = 0, on_surface = 0;
};

FitMark fit_mark(const FitScene& scene, const SurfaceIcpResult& r) {
  const FitEvidence e = evaluate_fit(scene, r.motion);
  return {fit_score(e), on_surface_share(e)};
}

}  // namespace

namespace {

SurfaceIcpResult refused(const FitScene& scene) {
  SurfaceIcpResult out;
  out.message = "ICP needs both models with at least " +
                std::to_string(scene.options.neighbours) + " points spread over a surface";
  return out;
}

// The steps from where Q lies and from each of `starts`; the best fit unless another beats the
// first by options.other_margin.
SurfaceIcpResult best_of_starts(StepSetup& setup, const std::vector<core::RigidTransform>& starts,
                                const std::function<bool()>& stop,
                                const SurfaceIcpOptions& options) {
  const FitScene& scene = setup.scene;
  SurfaceIcpResult best = run_steps(setup, {}, stop, options);
  if (best.stopped) return best;
  std::optional<FitMark> best_mark;  // measured once another run ends elsewhere
  // A turned start must also lay what it brings near P on P's surface as wholly: turned, a
  // scan that overlaps P a little may cover far more of it, never as well.
  const auto compete = [&](const core::RigidTransform& start, bool turned) {
    SurfaceIcpResult other = run_steps(setup, start, stop, options);
    if (other.stopped) return best = other, false;
    if (motion_change(setup.sample, best.motion, other.motion) < scene.spacing) return true;
    if (!best_mark) best_mark = fit_mark(scene, best);
    const FitMark mark = fit_mark(scene, other);
    if (mark.score > best_mark->score + options.other_margin &&
        (!turned || mark.on_surface >= best_mark->on_surface))
      best = other, best_mark = mark;
    return true;
  };
  for (const core::RigidTransform& start : starts)
    if (!compete(start, false)) return best;
  if (options.half_turn && best.ran)
    if (const std::optional<core::RigidTransform> turned = half_turn(scene, best.motion))
      compete(*turned, true);
  return best;
}

std::vector<double> radii_of(const FitScene& scene, const SurfaceIcpOptions& options) {
  std::vector<double> radii;
  for (double r : options.radii) radii.push_back(r * scene.spacing);
  return radii;
}

}  // namespace

SurfaceIcpResult refine_on_surface(const core::PointSet& full_p, const core::PointSet& full_q,
                                   const std::function<bool()>& stop,
                                   const SurfaceIcpOptions& options,
                                   const std::vector<core::RigidTransform>& starts) {
  FitOptions fit;
  fit.max_q_points = options.max_q_points;
  const FitScene scene(full_p, full_q, fit);
  if (!scene.usable || !(scene.spacing > 0)) return refused(scene);
  StepSetup setup{scene, scene.q_sample, radii_of(scene, options),
                  NormalCache(full_p, *scene.p_grid, fit.neighbours, scene.spacing),
                  std::nullopt, 1};
  return best_of_starts(setup, starts, stop, options);
}

SurfaceIcpResult settle_on_surface(const FitScene& scene, const core::RigidTransform& start,
                                   const std::function<bool()>& stop,
                                   const SurfaceIcpOptions& options) {
  if (!scene.usable || !(scene.spacing > 0)) return refused(scene);
  core::PointSet sample;
  const size_t n = scene.full_q.size();
  const size_t stride = (n + options.max_q_points - 1) / std::max<size_t>(1, options.max_q_points);
  for (size_t i = 0; i < n; i += std::max<size_t>(1, stride)) sample.push_back(scene.full_q[i]);
  StepSetup setup{scene, sample, radii_of(scene, options),
                  NormalCache(scene.full_p, *scene.p_grid, scene.options.neighbours,
                              scene.spacing),
                  NormalCache(scene.full_p, *scene.p_grid, scene.options.neighbours,
                              scene.spacing),
                  options.threads};
  return run_steps(setup, start, stop, options);
}

const SurfaceIcpResult& better_fit(const FitScene& scene, const SurfaceIcpResult& first,
                                   const SurfaceIcpResult& other, const SurfaceIcpOptions& options,
                                   bool turned) {
  if (!other.ran || !first.ran) return first.ran ? first : other;
  if (motion_change(scene.q_sample, first.motion, other.motion) < scene.spacing) return first;
  const FitMark a = fit_mark(scene, first), b = fit_mark(scene, other);
  // A turned start must also lay what it brings near P on P's surface as wholly.
  const bool wins = b.score > a.score + options.other_margin && (!turned || b.on_surface >= a.on_surface);
  return wins ? other : first;
}

SurfaceIcpResult with_half_turn(const FitScene& scene, const SurfaceIcpResult& best,
                                const std::function<bool()>& stop,
                                const SurfaceIcpOptions& options) {
  if (!options.half_turn || !best.ran) return best;
  const std::optional<core::RigidTransform> turned = half_turn(scene, best.motion);
  if (!turned) return best;
  const SurfaceIcpResult other = settle_on_surface(scene, *turned, stop, options);
  return other.stopped ? other : better_fit(scene, best, other, options, true);
}

}  // namespace kestrel::registration
