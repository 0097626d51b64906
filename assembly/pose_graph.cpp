#include "assembly/pose_graph.h"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <algorithm>
#include <cassert>
#include <map>
#include <queue>
#include <tuple>

namespace kestrel::assembly {

namespace {

// The Cauchy loss's scale, in tolerances: an edge that far off pulls no harder than a few
// right ones.
constexpr double kRobustShare = 0.25;
constexpr int kMaxRounds = 8;
constexpr size_t kAnchors = 4;

// Node b's anchors seen from node a by the edge, against the poses being solved:
// (R_b u + t_b) - (R_a v + t_a) with v = M_ab u, over the anchors, scaled by the weight.
struct EdgeCost {
  std::vector<Eigen::Vector3d> u, v;
  double scale = 1;

  template <typename T>
  bool operator()(const T* pa, const T* pb, T* r) const {
    for (size_t k = 0; k < u.size(); ++k) {
      const T uk[3] = {T(u[k][0]), T(u[k][1]), T(u[k][2])};
      const T vk[3] = {T(v[k][0]), T(v[k][1]), T(v[k][2])};
      T xb[3], xa[3];
      ceres::AngleAxisRotatePoint(pb, uk, xb);
      ceres::AngleAxisRotatePoint(pa, vk, xa);
      for (int i = 0; i < 3; ++i) r[3 * k + i] = T(scale) * (xb[i] + pb[3 + i] - xa[i] - pa[3 + i]);
    }
    return true;
  }
};

// The motion from `from`'s coordinates into `to`'s along edge e.
Pose along(const GraphEdge& e, size_t from) {
  return from == e.b ? e.motion : rigid_inverse(e.motion);
}

// For each edge, the triangles of edges it closes that agree with it and that do not.
struct TriangleCounts {
  std::vector<int> agree, disagree;
  int score(size_t e) const { return agree[e] - disagree[e]; }
};

// Over the kept edges only.
TriangleCounts count_triangles(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<GraphEdge>& edges, const std::vector<bool>& kept,
                               double tolerance) {
  std::map<std::pair<size_t, size_t>, size_t> index;
  for (size_t e = 0; e < edges.size(); ++e)
    if (kept[e]) index[{edges[e].a, edges[e].b}] = e;
  TriangleCounts t{std::vector<int>(edges.size(), 0), std::vector<int>(edges.size(), 0)};
  for (size_t e = 0; e < edges.size(); ++e) {
    const GraphEdge& g = edges[e];
    for (size_t c = 0; c < anchors.size() && kept[e]; ++c) {
      const auto ac = index.find({std::min(g.a, c), std::max(g.a, c)});
      const auto bc = index.find({std::min(g.b, c), std::max(g.b, c)});
      if (c == g.a || c == g.b || ac == index.end() || bc == index.end()) continue;
      // b into c, then c into a, against b into a directly.
      const Pose via = along(edges[ac->second], c) * along(edges[bc->second], g.b);
      (anchor_gap(anchors[g.b], g.motion, via) <= tolerance ? t.agree : t.disagree)[e] += 1;
    }
  }
  return t;
}

// Drops, one at a time and worst first, the edges that several triangles contradict and fewer
// confirm; a wrong edge spoils every triangle it closes, so once it is gone the right edges
// beside it count as right again. One that a single triangle contradicts may be the right side
// of it, which the solve tells. Returns the counts over the edges kept.
TriangleCounts reject_by_triangles(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                                   const std::vector<GraphEdge>& edges, double tolerance,
                                   std::vector<bool>& kept) {
  for (;;) {
    TriangleCounts t = count_triangles(anchors, edges, kept, tolerance);
    size_t worst = edges.size();
    for (size_t e = 0; e < edges.size(); ++e) {
      if (!kept[e] || t.disagree[e] < 2 || t.disagree[e] <= t.agree[e]) continue;
      if (worst == edges.size() || t.score(e) < t.score(worst) ||
          (t.score(e) == t.score(worst) && edges[e].weight < edges[worst].weight))
        worst = e;
    }
    if (worst == edges.size()) return t;
    kept[worst] = false;
  }
}

// Poses from a spanning tree of the kept edges (Prim's, from node 0) that prefers the edges most
// triangles confirm, then the heaviest; nodes out of its reach are not placed.
void tree_poses(size_t n, const std::vector<GraphEdge>& edges, const std::vector<bool>& kept,
                const TriangleCounts& triangles, GraphSolution& s) {
  s.placed.assign(n, false);
  s.poses.assign(n, Pose::Identity());
  using Item = std::tuple<int, double, size_t>;  // triangle score, weight, edge
  const auto worse = [](const Item& x, const Item& y) {
    if (std::get<0>(x) != std::get<0>(y)) return std::get<0>(x) < std::get<0>(y);
    if (std::get<1>(x) != std::get<1>(y)) return std::get<1>(x) < std::get<1>(y);
    return std::get<2>(x) > std::get<2>(y);
  };
  std::priority_queue<Item, std::vector<Item>, decltype(worse)> queue(worse);
  const auto reach = [&](size_t node) {
    s.placed[node] = true;
    for (size_t e = 0; e < edges.size(); ++e)
      if (kept[e] && (edges[e].a == node || edges[e].b == node))
        queue.push({triangles.score(e), edges[e].weight, e});
  };
  if (n > 0) reach(0);
  while (!queue.empty()) {
    const GraphEdge& e = edges[std::get<2>(queue.top())];
    queue.pop();
    if (s.placed[e.a] == s.placed[e.b]) continue;
    const size_t from = s.placed[e.a] ? e.b : e.a, to = s.placed[e.a] ? e.a : e.b;
    s.poses[from] = s.poses[to] * along(e, from);
    reach(from);
  }
}

// Least squares over the kept edges between placed nodes, node 0 held.
void refine_poses(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                  const std::vector<GraphEdge>& edges, const std::vector<bool>& kept,
                  double tolerance, GraphSolution& s) {
  const size_t n = s.poses.size();
  std::vector<std::array<double, 6>> x(n);
  for (size_t i = 0; i < n; ++i) {
    const Eigen::Matrix3d r = s.poses[i].block<3, 3>(0, 0);
    ceres::RotationMatrixToAngleAxis(r.data(), x[i].data());
    for (int k = 0; k < 3; ++k) x[i][3 + static_cast<size_t>(k)] = s.poses[i](k, 3);
  }
  ceres::Problem problem;
  for (size_t e = 0; e < edges.size(); ++e) {
    const GraphEdge& g = edges[e];
    if (!kept[e] || !s.placed[g.a] || !s.placed[g.b]) continue;
    auto* cost = new EdgeCost;
    cost->u = anchors[g.b];
    for (const Eigen::Vector3d& u : cost->u)
      cost->v.push_back((g.motion * u.homogeneous()).head<3>());
    cost->scale = std::sqrt(g.weight) / tolerance;
    assert(cost->u.size() == kAnchors && "each scan has four anchors");
    problem.AddResidualBlock(new ceres::AutoDiffCostFunction<EdgeCost, 3 * kAnchors, 6, 6>(cost),
                             new ceres::CauchyLoss(kRobustShare), x[g.a].data(), x[g.b].data());
  }
  if (problem.NumResidualBlocks() == 0) return;
  problem.SetParameterBlockConstant(x[0].data());
  ceres::Solver::Options options;
  options.linear_solver_type = ceres::DENSE_QR;
  options.num_threads = 1;  // the same poses on any machine
  options.max_num_iterations = 100;
  options.logging_type = ceres::SILENT;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  for (size_t i = 0; i < n; ++i) {
    if (!s.placed[i]) continue;
    Eigen::Matrix3d r;
    ceres::AngleAxisToRotationMatrix(x[i].data(), r.data());
    s.poses[i].block<3, 3>(0, 0) = r;
    for (int k = 0; k < 3; ++k) s.poses[i](k, 3) = x[i][3 + static_cast<size_t>(k)];
  }
}

}  // namespace

double anchor_gap(const std::vector<Eigen::Vector3d>& anchors, const Pose& x, const Pose& y) {
  double gap = 0;
  for (const Eigen::Vector3d& u : anchors)
    gap = std::max(gap, ((x - y) * u.homogeneous()).head<3>().norm());
  return gap;
}

GraphSolution solve_pose_graph(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<GraphEdge>& edges, double tolerance) {
  const size_t n = anchors.size();
  std::vector<bool> kept(edges.size(), true);
  const TriangleCounts triangles = reject_by_triangles(anchors, edges, tolerance, kept);
  GraphSolution s;
  for (int round = 0; round < kMaxRounds; ++round) {
    tree_poses(n, edges, kept, triangles, s);
    refine_poses(anchors, edges, kept, tolerance, s);
    bool dropped = false;
    for (size_t e = 0; e < edges.size(); ++e) {
      const GraphEdge& g = edges[e];
      if (!kept[e] || !s.placed[g.a] || !s.placed[g.b]) continue;
      const Pose direct = s.poses[g.a] * g.motion;
      if (anchor_gap(anchors[g.b], s.poses[g.b], direct) > tolerance) {
        kept[e] = false;
        dropped = true;
      }
    }
    if (!dropped) break;
  }
  s.used.assign(edges.size(), false);
  for (size_t e = 0; e < edges.size(); ++e)
    s.used[e] = kept[e] && s.placed[edges[e].a] && s.placed[edges[e].b];
  return s;
}

}  // namespace kestrel::assembly
