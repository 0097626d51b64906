#include "registration/judge/fit_evidence.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "registration/any_pose/plane_fit.h"
#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

namespace {

constexpr size_t kScaleSamples = 1000;  // points of P that estimate its spacing and noise
constexpr double kMadToSigma = 1.4826;  // median absolute deviation to standard deviation

double median(std::vector<double> v) {
  if (v.empty()) return 0;
  const auto mid = v.begin() + static_cast<long>(v.size() / 2);
  std::nth_element(v.begin(), mid, v.end());
  return *mid;
}

double dot(const double a[3], const double b[3]) {
  return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The vector v turned by R.
void turn(const core::DenseMatrix& R, const double v[3], double out[3]) {
  for (uint32_t r = 0; r < 3; ++r) out[r] = R(r, 0) * v[0] + R(r, 1) * v[1] + R(r, 2) * v[2];
}

// Distance of `p` from the plane through `centre` with unit normal `n`.
double plane_distance(const core::Point3D& p, const double n[3], const double centre[3]) {
  const double d[3] = {p.x - centre[0], p.y - centre[1], p.z - centre[2]};
  return std::fabs(dot(n, d));
}

// A grid cell for a scan: a few times the spacing its points would have spread evenly over the
// faces of their bounding box (a scan is a surface, not a volume).
double rough_spacing(const core::PointSet& set) {
  // The core's box: a point written far off would make every cell hold the whole scan.
  double lo[3], hi[3];
  core_box(set, lo, hi);
  const double a = hi[0] - lo[0], b = hi[1] - lo[1], c = hi[2] - lo[2];
  const double area = a * b + b * c + c * a;
  return 2 * std::sqrt(std::max(area, 1e-300) / static_cast<double>(set.size()));
}

}  // namespace

// P's spacing and noise from an even sample of its points.
void measure_scale(const core::PointSet& p, const PointGrid& index, int k, FitEvidence& e) {
  std::vector<double> gaps, offsets;
  std::vector<int> nn;
  const size_t stride = std::max<size_t>(1, p.size() / kScaleSamples);
  for (size_t i = 0; i < p.size(); i += stride) {
    index.nearest_k(p[i].x, p[i].y, p[i].z, static_cast<size_t>(k), nn);
    if (nn.size() < 2) continue;
    gaps.push_back(core::distance(p[i], p[static_cast<size_t>(nn[1])]));
    double n[3], centre[3];
    if (fit_plane(p, nn, n, centre)) offsets.push_back(plane_distance(p[i], n, centre));
  }
  e.spacing = median(std::move(gaps));
  e.noise = kMadToSigma * median(std::move(offsets));
}

double measure_spacing(const core::PointSet& scan, const PointGrid& index) {
  FitEvidence e;
  measure_scale(scan, index, FitOptions().neighbours, e);
  return e.spacing;
}

namespace {

// The unit normal of `set` about (x, y, z); false where its neighbours span no plane.
bool local_normal(const core::PointSet& set, const PointGrid& index, const core::Point3D& at, int k,
                  std::vector<int>& nn, double n[3], double centre[3]) {
  index.nearest_k(at.x, at.y, at.z, static_cast<size_t>(k), nn);
  return fit_plane(set, nn, n, centre);
}

// A point on P's surface with P's normal there.
struct SurfacePoint {
  double p[3];
  double n[3];
};

// The smallest eigenvalue of the points' point-to-plane information matrix per point, with
// positions taken about their centroid in units of their RMS spread.
double constraint_of(const std::vector<SurfacePoint>& points) {
  if (points.size() < 6) return 0;
  double c[3] = {0, 0, 0};
  for (const SurfacePoint& s : points)
    for (int k = 0; k < 3; ++k) c[k] += s.p[k];
  const auto count = static_cast<double>(points.size());
  for (double& v : c) v /= count;
  double spread = 0;
  for (const SurfacePoint& s : points)
    for (int k = 0; k < 3; ++k) spread += (s.p[k] - c[k]) * (s.p[k] - c[k]);
  spread = std::sqrt(spread / count);
  if (!(spread > 0)) return 0;
  double h[36] = {};
  for (const SurfacePoint& s : points) {
    const double d[3] = {(s.p[0] - c[0]) / spread, (s.p[1] - c[1]) / spread,
                         (s.p[2] - c[2]) / spread};
    double j[6];
    plane_row(d, s.n, j);
    for (int r = 0; r < 6; ++r)
      for (int k = 0; k < 6; ++k) h[6 * r + k] += j[r] * j[k];
  }
  for (double& v : h) v /= count;
  return smallest_eigenvalue6(h);
}

}  // namespace

namespace {

// Beyond this many of a scan's spacings in front of its surface a point would have been seen.
constexpr double kFrontSpacings = 3;

// The scan's empty space, seen along the axis that the normals at an even sample of its points
// lie along most.
FreeSpaceMap space_map(const core::PointSet& scan, const PointGrid& grid, int k, double spacing) {
  core::PointSet normals;
  std::vector<int> nn;
  const size_t stride = std::max<size_t>(1, scan.size() / kScaleSamples);
  for (size_t i = 0; i < scan.size(); i += stride) {
    double n[3], centre[3];
    if (!local_normal(scan, grid, scan[i], k, nn, n, centre)) continue;
    core::Point3D with;
    with.nx = n[0], with.ny = n[1], with.nz = n[2];
    normals.push_back(with);
  }
  double axis[3];
  principal_normal_axis(normals, axis);
  return FreeSpaceMap(scan, axis, spacing, kFrontSpacings);
}

}  // namespace

namespace {

// Every point of `scan` kept with the same chance (a hash of its index, so no order of the
// scan's lines can line the kept points up), to about `most` points; empty when the scan has
// no more than that.
core::PointSet even_share(const core::PointSet& scan, size_t most) {
  core::PointSet share;
  if (most == 0 || scan.size() <= most) return share;
  const uint64_t in = (scan.size() + most - 1) / most;
  share.reserve(scan.size() / in + scan.size() / (8 * in) + 16);
  for (size_t i = 0; i < scan.size(); ++i)
    if (((static_cast<uint64_t>(i) * 0x9E3779B97F4A7C15ull) >> 32) % in == 0)
      share.push_back(scan[i]);
  return share;
}

// Stray points (flying pixels, specks) lie on no surface: they say nothing of a motion, and
// would count as seen in the other scan's empty space. A point is one when no other point of its
// scan lies within this many of the scan's spacings. A sample with this share of them or fewer
// keeps them: they cannot tip the evidence.
constexpr double kStraySpacings = 5;
constexpr double kFewStrays = 0.005;

// Every `stride`-th point of `points` (indices), less the stray ones when there are more than a
// few; `grid` is over the points' scan or an even share of it.
std::vector<size_t> surface_points(const PointGrid& grid, const core::PointSet& points,
                                   size_t stride, double spacing) {
  const double sq = kStraySpacings * spacing * kStraySpacings * spacing;
  std::vector<size_t> all, kept;
  for (size_t i = 0; i < points.size(); i += stride) {
    const core::Point3D& p = points[i];
    size_t around = 0;  // the point itself, when the grid holds it, and its neighbours
    grid.for_each_within(p.x, p.y, p.z, sq, [&around](int) { ++around; });
    all.push_back(i);
    if (around >= 2) kept.push_back(i);
  }
  const double strays = static_cast<double>(all.size() - kept.size());
  return strays <= kFewStrays * static_cast<double>(all.size()) ? all : kept;
}

}  // namespace

SharedGrid full_scan_grid(const core::PointSet& full, const std::function<bool()>& stop) {
  return std::make_shared<const PointGrid>(full, rough_spacing(full), stop, true);
}

FitScene::FitScene(const core::PointSet& p, const core::PointSet& q, const FitOptions& o,
                   const std::function<bool()>& stop, const SceneGrids& grids)
    : full_p(p), full_q(q), options(o) {
  const auto k = static_cast<size_t>(options.neighbours);
  usable = full_p.size() >= k && full_q.size() >= k && k >= 3;
  if (!usable) return;
  q_share = even_share(full_q, options.max_q_share);
  const core::PointSet& qs = q_points();
  p_grid = grids.p ? grids.p : full_scan_grid(full_p, stop);
  q_grid = grids.q && q_share.empty() ? grids.q : full_scan_grid(qs, stop);
  if (stop && stop()) {
    usable = false;
    return;
  }
  FitEvidence scale;
  measure_scale(full_p, *p_grid, options.neighbours, scale);
  spacing = scale.spacing;
  noise = scale.noise;
  const double q_spacing = measure_spacing(qs, *q_grid);
  const size_t stride = (full_q.size() + options.max_q_points - 1) / options.max_q_points;
  const std::vector<size_t> q_asked = surface_points(*q_grid, full_q, stride, q_spacing);
  for (const size_t i : q_asked) {
    if (q_sample.size() % 3 == 0) q_settle.push_back(full_q[i]);
    q_sample.push_back(full_q[i]);
    q_sample_index.push_back(i);
  }
  const size_t p_stride = (full_p.size() + options.max_q_points - 1) / options.max_q_points;
  for (const size_t i : surface_points(*p_grid, full_p, p_stride, spacing))
    p_sample.push_back(full_p[i]);
  p_space.emplace(space_map(full_p, *p_grid, options.neighbours, spacing));
  q_space.emplace(space_map(qs, *q_grid, options.neighbours, q_spacing));
  std::vector<int> nn;
  for (const size_t i : q_sample_index) {
    std::array<double, 3> n;
    double centre[3];
    const bool fitted =
        local_normal(qs, *q_grid, full_q[i], options.neighbours, nn, n.data(), centre);
    q_normal.push_back(fitted ? std::optional(n) : std::nullopt);
  }
}

FitEvidence evaluate_fit(const FitScene& scene, const core::RigidTransform& motion) {
  FitEvidence e;
  if (!scene.usable) return e;
  const FitOptions& options = scene.options;
  e.spacing = scene.spacing;
  e.noise = scene.noise;
  e.radius = options.radius_spacings * e.spacing;
  e.plane_tol = std::max(options.plane_spacings * e.spacing, 3 * e.noise);
  const double min_cos = std::cos(options.normal_degrees * M_PI / 180);
  std::vector<int> nn;
  size_t near = 0, fine = 0;
  double sum_sq = 0;
  std::vector<SurfacePoint> on_surface;
  for (size_t k = 0; k < scene.q_sample_index.size(); ++k) {
    const size_t i = scene.q_sample_index[k];
    ++e.q_asked;
    core::Point3D moved = scene.full_q[i];
    core::transform_point(moved, motion);
    double np[3], cp[3];
    // A point far off P would widen the search for its neighbours a long way, only to be
    // turned away by their distance.
    double sq = 0;
    if (scene.p_grid->nearest_within(moved.x, moved.y, moved.z, e.radius * e.radius, sq) < 0)
      continue;
    if (!local_normal(scene.full_p, *scene.p_grid, moved, options.neighbours, nn, np, cp)) continue;
    if (core::distance(moved, scene.full_p[static_cast<size_t>(nn[0])]) >= e.radius) continue;
    ++near;
    const double off = plane_distance(moved, np, cp);
    if (off >= e.plane_tol) continue;
    if (!scene.q_normal[k]) continue;
    double turned[3];
    turn(motion.R, scene.q_normal[k]->data(), turned);
    if (std::fabs(dot(np, turned)) < min_cos) continue;
    ++fine;
    sum_sq += off * off;
    on_surface.push_back({{moved.x, moved.y, moved.z}, {np[0], np[1], np[2]}});
  }
  if (e.q_asked == 0) return e;
  e.near_share = static_cast<double>(near) / static_cast<double>(e.q_asked);
  e.fine_share = static_cast<double>(fine) / static_cast<double>(e.q_asked);
  e.rms = fine ? std::sqrt(sum_sq / static_cast<double>(fine)) : 0;
  e.constraint = constraint_of(on_surface);
  e.empty_space =
      free_space_violation(*scene.p_space, *scene.q_space, scene.p_sample, scene.q_sample, motion);
  return e;
}

double p_on_q_share(const FitScene& scene, const core::RigidTransform& motion) {
  if (!scene.usable || scene.p_sample.empty()) return 0;
  const FitOptions& options = scene.options;
  const double radius = options.radius_spacings * scene.spacing;
  const double plane_tol = std::max(options.plane_spacings * scene.spacing, 3 * scene.noise);
  const double min_cos = std::cos(options.normal_degrees * M_PI / 180);
  const core::RigidTransform back = core::rigid_inverse(motion);
  std::vector<int> nn;
  size_t fine = 0;
  for (const core::Point3D& p : scene.p_sample) {
    core::Point3D at = p;
    core::transform_point(at, back);
    double sq = 0, nq[3], cq[3], np[3], cp[3];
    if (scene.q_grid->nearest_within(at.x, at.y, at.z, radius * radius, sq) < 0) continue;
    if (!local_normal(scene.q_points(), *scene.q_grid, at, options.neighbours, nn, nq, cq) ||
        plane_distance(at, nq, cq) >= plane_tol)
      continue;
    if (!local_normal(scene.full_p, *scene.p_grid, p, options.neighbours, nn, np, cp)) continue;
    double turned[3];
    turn(back.R, np, turned);
    fine += std::fabs(dot(nq, turned)) >= min_cos;
  }
  return static_cast<double>(fine) / static_cast<double>(scene.p_sample.size());
}

FitEvidence evaluate_fit(const core::PointSet& full_p, const core::PointSet& full_q,
                         const core::RigidTransform& motion, const FitOptions& options) {
  return evaluate_fit(FitScene(full_p, full_q, options), motion);
}

}  // namespace kestrel::registration
