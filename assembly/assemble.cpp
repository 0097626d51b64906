#include "assembly/assemble.h"

#include <algorithm>
#include <cmath>

#include "assembly/edge_choice.h"
#include "assembly/multiview_refine.h"
#include "assembly/pair_job.h"
#include "assembly/pose_graph.h"
#include "core/clock.h"

namespace kestrel::assembly {

namespace {

// Two motions of a scan that put one of its anchors more than this many of the full scans'
// spacings apart disagree: a right pair, refined on the full scans, lands within a share of a
// spacing; a wrong one far away, or, on a thin plate seen from both sides, a plate's thickness
// away, which may be under a thinning cell.
constexpr double kRejectSpacings = 3.0;

double median_spacing(const ScanSet& set) {
  std::vector<double> s;
  for (const RefineView& v : set.views) s.push_back(v.spacing);
  std::nth_element(s.begin(), s.begin() + static_cast<long>(s.size() / 2), s.end());
  return s[s.size() / 2];
}

// The centroid and a point at the scan's RMS radius along each axis.
std::vector<Eigen::Vector3d> anchors_of(const core::PointSet& full) {
  double sum = 0;
  for (const core::Point3D& p : full) sum += p.x * p.x + p.y * p.y + p.z * p.z;
  const double r = std::sqrt(sum / static_cast<double>(std::max<size_t>(full.size(), 1)));
  return {Eigen::Vector3d::Zero(), Eigen::Vector3d(r, 0, 0), Eigen::Vector3d(0, r, 0),
          Eigen::Vector3d(0, 0, r)};
}

// A pair's motion between the centred scans.
Pose centred_motion(const ScanSet& set, const PairRecord& p, const Matrix4& motion) {
  const std::array<double, 3>& ca = set.centroid[p.a];
  return translation({-ca[0], -ca[1], -ca[2]}) * pose_of(motion) * translation(set.centroid[p.b]);
}

}  // namespace

AssemblyResult finish_assembly(const ScanSet& set, std::vector<PairRecord> pairs, int threads) {
  std::sort(pairs.begin(), pairs.end(), [](const PairRecord& x, const PairRecord& y) {
    return x.a != y.a ? x.a < y.a : x.b < y.b;
  });
  const size_t n = set.full.size();
  std::vector<std::vector<Eigen::Vector3d>> anchors;
  for (const core::PointSet& full : set.full) anchors.push_back(anchors_of(full));
  std::vector<EdgeCandidate> candidates;
  std::vector<size_t> candidate_pair;
  for (size_t k = 0; k < pairs.size(); ++k) {
    const bool confident = pairs[k].verdict == "confident";
    if (!confident && pairs[k].verdict != "uncertain") continue;
    candidates.push_back({{pairs[k].a, pairs[k].b, centred_motion(set, pairs[k], pairs[k].motion),
                           pairs[k].fine_share},
                          confident, pairs[k].snug});
    candidate_pair.push_back(k);
  }
  const double tolerance = kRejectSpacings * median_spacing(set);
  const std::vector<bool> chosen = choose_edges(anchors, candidates, tolerance);
  std::vector<GraphEdge> edges;
  std::vector<size_t> edge_pair;
  for (size_t k = 0; k < candidates.size(); ++k) {
    if (!chosen[k]) continue;
    edges.push_back(candidates[k].edge);
    edge_pair.push_back(candidate_pair[k]);
  }
  const GraphSolution graph = solve_pose_graph(anchors, edges, tolerance);
  AssemblyResult result;
  result.scans.resize(n);
  for (size_t e = 0; e < edges.size(); ++e) {
    if (!graph.used[e]) continue;
    pairs[edge_pair[e]].used = true;
    result.scans[edges[e].a].pairs += 1;
    result.scans[edges[e].b].pairs += 1;
  }
  const Refinement refined = refine_placement(set, graph.poses, graph.placed, threads);
  const std::array<double, 3>& c0 = set.centroid[0];
  for (size_t i = 0; i < n; ++i) {
    ScanPlacement& s = result.scans[i];
    s.placed = graph.placed[i];
    if (!s.placed) continue;
    const std::array<double, 3>& ci = set.centroid[i];
    s.matrix =
        matrix_of(translation(c0) * refined.poses[i] * translation({-ci[0], -ci[1], -ci[2]}));
    s.residual = refined.residual[i];
  }
  result.pairs = std::move(pairs);
  return result;
}

AssemblyResult assemble(const std::vector<const core::PointSet*>& scans,
                        const AssemblyOptions& options, const AssemblyHooks& hooks) {
  const core::Clock::time_point t0 = core::Clock::now();
  const ScanSet set = prepare_scans(scans, options.threads);
  const std::vector<std::pair<size_t, size_t>> todo = pairs_to_try(set, options);
  const auto elapsed_s = [t0] { return core::elapsed_ms(t0) * 0.001; };
  const std::function<bool()> stop = [&hooks, &options, &elapsed_s] {
    return (hooks.should_stop && hooks.should_stop()) ||
           (options.max_seconds > 0 && elapsed_s() > options.max_seconds);
  };
  if (hooks.run_pairs) {
    AssemblyResult result = finish_assembly(set, hooks.run_pairs(todo), options.threads);
    result.time_s = elapsed_s();
    return result;
  }
  std::vector<PairRecord> pairs;
  bool stopped = false;
  for (const auto& [a, b] : todo) {
    if (!stopped && stop()) stopped = true;
    if (stopped) {
      PairRecord skipped;
      skipped.a = a;
      skipped.b = b;
      pairs.push_back(skipped);
      continue;
    }
    pairs.push_back(register_pair(set, a, b, options.threads, stop));
    if (hooks.on_progress) hooks.on_progress({pairs.size(), todo.size(), elapsed_s()});
  }
  AssemblyResult result = finish_assembly(set, std::move(pairs), options.threads);
  result.stopped = stopped || stop();
  result.time_s = elapsed_s();
  return result;
}

}  // namespace kestrel::assembly
