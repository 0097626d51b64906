#include "registration/any_pose/surface_icp.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <unordered_map>

#include "registration/any_pose/plane_fit.h"
#include "registration/congruent/linear_algebra.h"
#include "registration/judge/fit_evidence.h"

namespace kestrel::registration {

namespace {

// x -> R x + t, R row-major.
struct Pose {
  double R[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
  double t[3] = {0, 0, 0};

  void apply(const core::Point3D& p, double out[3]) const {
    for (int r = 0; r < 3; ++r)
      out[r] = R[3 * r] * p.x + R[3 * r + 1] * p.y + R[3 * r + 2] * p.z + t[r];
  }
};

// A point of Q where the current pose puts it, P's nearest point and P's normal there.
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

// Pairs each sample point, moved by `pose`, with P's nearest point within `radius`. False when
// a stop request came.
bool find_pairs(const FitScene& scene, const Pose& pose, double radius, NormalCache& normals,
                const std::function<bool()>& stop, std::vector<SurfacePair>& pairs) {
  pairs.clear();
  const double sq_radius = radius * radius;
  for (size_t i = 0; i < scene.q_sample.size(); ++i) {
    if (i % 1024 == 0 && stop && stop()) return false;
    SurfacePair s;
    pose.apply(scene.q_sample[i], s.x);
    double d2 = 0;
    const int j = scene.p_grid->nearest_within(s.x[0], s.x[1], s.x[2], sq_radius, d2);
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

// The rotation by the vector w (axis times angle in radians), row-major.
void rotation_of(const double w[3], double R[9]) {
  const double angle = std::sqrt(w[0] * w[0] + w[1] * w[1] + w[2] * w[2]);
  const double a[3] = {angle > 0 ? w[0] / angle : 1, angle > 0 ? w[1] / angle : 0,
                       angle > 0 ? w[2] / angle : 0};
  const double c = std::cos(angle), s = std::sin(angle), v = 1 - c;
  R[0] = c + a[0] * a[0] * v, R[1] = a[0] * a[1] * v - a[2] * s, R[2] = a[0] * a[2] * v + a[1] * s;
  R[3] = a[1] * a[0] * v + a[2] * s, R[4] = c + a[1] * a[1] * v, R[5] = a[1] * a[2] * v - a[0] * s;
  R[6] = a[2] * a[0] * v - a[1] * s, R[7] = a[2] * a[1] * v + a[0] * s, R[8] = c + a[2] * a[2] * v;
}

// The small motion about the pairs' centroid m that best lays them on P's tangent planes,
// x -> D (x - m) + m + u, composed onto `pose`. False when the pairs leave a direction free.
bool step_pose(const std::vector<SurfacePair>& pairs, Pose& pose) {
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
  double x[6], D[9];
  if (!solve6(A, b, x)) return false;
  rotation_of(x, D);
  Pose next;
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c)
      next.R[3 * r + c] =
          D[3 * r] * pose.R[c] + D[3 * r + 1] * pose.R[3 + c] + D[3 * r + 2] * pose.R[6 + c];
    next.t[r] = m[r] + x[3 + r];
    for (int c = 0; c < 3; ++c) next.t[r] += D[3 * r + c] * (pose.t[c] - m[c]);
  }
  pose = next;
  return true;
}

// Root mean square of how far the sample's points land apart under two poses.
double pose_change(const core::PointSet& sample, const Pose& a, const Pose& b) {
  double sum = 0;
  for (const core::Point3D& p : sample) {
    double u[3], v[3];
    a.apply(p, u);
    b.apply(p, v);
    for (int k = 0; k < 3; ++k) sum += (u[k] - v[k]) * (u[k] - v[k]);
  }
  return sample.empty() ? 0 : std::sqrt(sum / static_cast<double>(sample.size()));
}

core::RigidTransform motion_of(const Pose& pose) {
  core::RigidTransform m;
  for (uint32_t r = 0; r < 3; ++r)
    for (uint32_t c = 0; c < 3; ++c) m.R(r, c) = pose.R[3 * r + c];
  for (int k = 0; k < 3; ++k) m.t[k] = pose.t[k];
  return m;
}

// The steps at the given radii (model units; the last is kept until the motion settles).
SurfaceIcpResult run_steps(const FitScene& scene, const Pose& start,
                           const std::vector<double>& radii, NormalCache& normals,
                           const std::function<bool()>& stop, const SurfaceIcpOptions& options) {
  SurfaceIcpResult result;
  std::vector<SurfacePair> pairs;
  Pose pose = start;
  const size_t last = radii.size() - 1;
  for (int step = 0; step < options.max_steps; ++step) {
    if ((stop && stop()) ||
        !find_pairs(scene, pose, radii[std::min(static_cast<size_t>(step), last)], normals, stop,
                    pairs)) {
      result.stopped = true;
      result.message = "ICP stopped before it was done";
      return result;
    }
    result.pairs = pairs.size();
    result.rms = rms_offset(pairs);
    Pose next = pose;
    if (pairs.size() < options.min_pairs || !step_pose(pairs, next)) {
      if (step == 0)
        result.message = "too few points of Q near P's surface to refine; Q left where it was";
      break;
    }
    const double change = pose_change(scene.q_sample, pose, next);
    pose = next;
    result.steps = step + 1;
    if (static_cast<size_t>(step) >= last && change < options.settle_share * scene.spacing) break;
  }
  result.ran = true;
  result.motion = motion_of(pose);
  return result;
}

Pose pose_of(const core::RigidTransform& m) {
  // p' = R (s (p - c)) + c + t, here with s = 1: R p + (c + t - R c).
  Pose pose;
  for (uint32_t r = 0; r < 3; ++r) {
    pose.t[r] = m.c[r] + m.t[r];
    for (uint32_t c = 0; c < 3; ++c) {
      pose.R[3 * r + c] = m.R(r, c);
      pose.t[r] -= m.R(r, c) * m.c[c];
    }
  }
  return pose;
}

// How well a refined motion lays the scans on each other: Q on P's surface, less what it puts
// where the other scan saw empty space.
double fit_score(const FitScene& scene, const SurfaceIcpResult& r) {
  const FitEvidence e = evaluate_fit(scene, r.motion);
  return e.fine_share - 2 * e.empty_space;
}

}  // namespace

SurfaceIcpResult refine_on_surface(const core::PointSet& full_p, const core::PointSet& full_q,
                                   const std::function<bool()>& stop,
                                   const SurfaceIcpOptions& options,
                                   const std::vector<core::RigidTransform>& starts) {
  FitOptions fit;
  fit.max_q_points = options.max_q_points;
  const FitScene scene(full_p, full_q, fit);
  if (!scene.usable || !(scene.spacing > 0)) {
    SurfaceIcpResult refused;
    refused.message = "ICP needs both models with at least " + std::to_string(fit.neighbours) +
                      " points spread over a surface";
    return refused;
  }
  std::vector<double> radii;
  for (double r : options.radii) radii.push_back(r * scene.spacing);
  NormalCache normals(full_p, *scene.p_grid, fit.neighbours, scene.spacing);
  SurfaceIcpResult best = run_steps(scene, Pose(), radii, normals, stop, options);
  if (best.stopped) return best;
  std::optional<double> best_score;  // measured once another run ends elsewhere
  for (const core::RigidTransform& start : starts) {
    SurfaceIcpResult other = run_steps(scene, pose_of(start), radii, normals, stop, options);
    if (other.stopped) return other;
    if (pose_change(scene.q_sample, pose_of(best.motion), pose_of(other.motion)) < scene.spacing)
      continue;
    if (!best_score) best_score = fit_score(scene, best);
    const double score = fit_score(scene, other);
    if (score > *best_score + options.other_margin) best = other, best_score = score;
  }
  return best;
}

}  // namespace kestrel::registration
