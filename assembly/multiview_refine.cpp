#include "assembly/multiview_refine.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <thread>

#include "registration/any_pose/point_grid.h"

namespace kestrel::assembly {

namespace {

// The pairing radius of each step, in thinning cells: wide enough at first for what the pose
// graph leaves, then down to where only the surface's own noise separates partners.
const std::vector<double> kRadii = {2.0, 1.5, 1.0, 0.75, 0.5, 0.5, 0.5, 0.5, 0.5, 0.5};
// Pairing radii above this many thinning cells pair with the working points instead of the full
// scans: a search that far through the full scan's fine grid would cost thousands of cells.
constexpr double kFullScanCells = 1.5;
// A partner farther than this many of its scan's spacings along its tangent plane lies at that
// scan's border, where the plane no longer stands for the surface.
constexpr double kTangentSpacings = 2.0;

using Vector12 = Eigen::Matrix<double, 12, 1>;
using Matrix12 = Eigen::Matrix<double, 12, 12>;

// One ordered pair's share of the normal equations: unknowns (rotation, shift) of the source
// scan i, then of the target j, all in the common frame.
struct PairBlock {
  size_t i = 0, j = 0;
  Matrix12 h = Matrix12::Zero();
  Vector12 g = Vector12::Zero();
  double sq_sum = 0;
  size_t count = 0;
};

// The plane that a point meets in a scan: a point of it, its normal, and the spacing of the
// points it was taken from.
struct Partner {
  Eigen::Vector3d q, n;
  double spacing = 0;
};

// The partner of `xj` (scan j's coordinates) within `radius`. At wide radii it is the nearest
// working point, whose grid is coarse enough to search far; at narrow ones the nearest point of
// the full scan, on the plane of the working point nearest to it.
std::optional<Partner> partner_of(const ScanSet& set, const RefineView& target, size_t j,
                                  const Eigen::Vector3d& xj, double radius) {
  const core::PointSet& working = set.prepared[j].working;
  double sq = 0;
  if (radius > kFullScanCells * set.cell) {
    const int w = target.working_grid->nearest_within(xj[0], xj[1], xj[2], radius * radius, sq);
    if (w < 0) return std::nullopt;
    const core::Point3D& p = working[static_cast<size_t>(w)];
    return Partner{{p.x, p.y, p.z}, {p.nx, p.ny, p.nz}, set.cell};
  }
  const int near =
      set.prepared[j].full_grid->nearest_within(xj[0], xj[1], xj[2], radius * radius, sq);
  if (near < 0) return std::nullopt;
  const core::Point3D& q = set.full[j][static_cast<size_t>(near)];
  std::vector<int> nn;
  target.working_grid->nearest_k(q.x, q.y, q.z, 1, nn);
  if (nn.empty()) return std::nullopt;
  const core::Point3D& w = working[static_cast<size_t>(nn[0])];
  return Partner{{q.x, q.y, q.z}, {w.nx, w.ny, w.nz}, target.spacing};
}

// Adds source point x (common frame) against target scan j, posed by `pj`.
void add_partner(const ScanSet& set, const RefineView& target, size_t j, const Pose& pj,
                 const Pose& pj_inverse, const Eigen::Vector3d& x, double radius,
                 PairBlock& block) {
  const Eigen::Vector3d xj = (pj_inverse * x.homogeneous()).head<3>();
  const std::optional<Partner> partner = partner_of(set, target, j, xj, radius);
  if (!partner || partner->n.squaredNorm() < 0.5) return;
  const Eigen::Vector3d& n = partner->n;
  const Eigen::Vector3d d = xj - partner->q;
  const double r = n.dot(d);
  if ((d - r * n).norm() > kTangentSpacings * partner->spacing) return;
  const Eigen::Vector3d nw = pj.block<3, 3>(0, 0) * n;
  Vector12 jac;
  jac << x.cross(nw), nw, -x.cross(nw), -nw;
  // Huber weights: partners beyond a spacing count less, so a stray one cannot pull.
  const double k = partner->spacing;
  const double weight = std::abs(r) <= k ? 1.0 : k / std::abs(r);
  block.h += weight * jac * jac.transpose();
  block.g += weight * r * jac;
  block.sq_sum += r * r;
  block.count += 1;
}

// Source scan i against every other placed scan whose sample can reach it.
std::vector<PairBlock> blocks_of(const ScanSet& set, const std::vector<RefineView>& views,
                                 const std::vector<Pose>& poses, const std::vector<bool>& placed,
                                 size_t i, double radius) {
  std::vector<PairBlock> out;
  std::vector<Eigen::Vector3d> x;
  for (const Eigen::Vector3d& s : views[i].sample)
    x.push_back((poses[i] * s.homogeneous()).head<3>());
  const Eigen::Vector3d ci = (poses[i] * views[i].centre.homogeneous()).head<3>();
  for (size_t j = 0; j < views.size(); ++j) {
    if (j == i || !placed[j]) continue;
    const Eigen::Vector3d cj = (poses[j] * views[j].centre.homogeneous()).head<3>();
    if ((ci - cj).norm() > views[i].reach + views[j].reach + radius) continue;
    PairBlock block;
    block.i = i;
    block.j = j;
    const Pose inverse = rigid_inverse(poses[j]);
    for (const Eigen::Vector3d& p : x)
      add_partner(set, views[j], j, poses[j], inverse, p, radius, block);
    if (block.count > 0) out.push_back(block);
  }
  return out;
}

// The blocks of every placed scan, by scan; with two threads the odd scans go to a second one.
std::vector<std::vector<PairBlock>> all_blocks(const ScanSet& set,
                                               const std::vector<RefineView>& views,
                                               const std::vector<Pose>& poses,
                                               const std::vector<bool>& placed, double radius,
                                               int threads) {
  std::vector<std::vector<PairBlock>> out(views.size());
  const auto work = [&, radius](size_t first, size_t step) {
    for (size_t i = first; i < views.size(); i += step)
      if (placed[i]) out[i] = blocks_of(set, views, poses, placed, i, radius);
  };
  if (threads >= 2) {
    std::thread other(work, 1, 2);
    work(0, 2);
    other.join();
  } else {
    work(0, 1);
  }
  return out;
}

// Sums the blocks in scan order (the same sums whoever found them) and moves every placed scan
// but the fixed one by the solution of the normal equations.
void step(const std::vector<std::vector<PairBlock>>& blocks, const std::vector<bool>& placed,
          size_t fixed, std::vector<Pose>& poses) {
  std::vector<int> var(poses.size(), -1);
  int m = 0;
  for (size_t i = 0; i < poses.size(); ++i)
    if (placed[i] && i != fixed) var[i] = m++;
  if (m == 0) return;
  Eigen::MatrixXd h = Eigen::MatrixXd::Zero(6 * m, 6 * m);
  Eigen::VectorXd g = Eigen::VectorXd::Zero(6 * m);
  for (const std::vector<PairBlock>& list : blocks)
    for (const PairBlock& b : list) {
      const int at[2] = {var[b.i], var[b.j]};
      for (int r = 0; r < 2; ++r) {
        if (at[r] < 0) continue;
        g.segment<6>(6 * at[r]) += b.g.segment<6>(6 * r);
        for (int c = 0; c < 2; ++c)
          if (at[c] >= 0) h.block<6, 6>(6 * at[r], 6 * at[c]) += b.h.block<6, 6>(6 * r, 6 * c);
      }
    }
  // A scan with no partners at this radius stays where it is.
  h.diagonal().array() += 1e-9 * (h.trace() / (6.0 * m) + 1.0);
  const Eigen::VectorXd delta = -h.ldlt().solve(g);
  for (size_t i = 0; i < poses.size(); ++i) {
    if (var[i] < 0) continue;
    const Eigen::Vector3d w = delta.segment<3>(6 * var[i]);
    Pose move = Pose::Identity();
    if (w.norm() > 0) move.block<3, 3>(0, 0) = Eigen::AngleAxisd(w.norm(), w.normalized()).matrix();
    move.block<3, 1>(0, 3) = delta.segment<3>(6 * var[i] + 3);
    poses[i] = move * poses[i];
  }
}

}  // namespace

Refinement refine_placement(const ScanSet& set, const std::vector<Pose>& poses,
                            const std::vector<bool>& placed, int threads, size_t fixed,
                            const std::vector<double>& radii) {
  Refinement out;
  out.poses = poses;
  const size_t n = poses.size();
  out.residual.assign(n, 0);
  out.neighbours.assign(n, 0);
  const std::vector<double>& schedule = radii.empty() ? kRadii : radii;
  std::vector<std::vector<PairBlock>> blocks;
  for (double share : schedule) {
    blocks = all_blocks(set, set.views, out.poses, placed, share * set.cell, threads);
    step(blocks, placed, fixed, out.poses);
  }
  // The residuals where the scans now stand, at the last radius.
  blocks = all_blocks(set, set.views, out.poses, placed, schedule.back() * set.cell, threads);
  for (size_t i = 0; i < n; ++i) {
    double sq = 0;
    size_t count = 0;
    for (const PairBlock& b : blocks[i]) sq += b.sq_sum, count += b.count;
    out.residual[i] = count > 0 ? std::sqrt(sq / static_cast<double>(count)) : 0;
    out.neighbours[i] = blocks[i].size();
  }
  return out;
}

}  // namespace kestrel::assembly
