#include "icp/select_pairs.h"

#include <algorithm>
#include <cstdio>

#include "icp/icp_random.h"
#include "icp/icp_timer.h"
#include "icp/run_in_parts.h"

namespace kestrel::icp {

namespace {

// Samples per run of the matching: below this, handing out a run costs more than it saves.
constexpr size_t kMinMatchRun = 64;

// One direction of a step's sampling: meshA's samples matched in meshB.
struct Direction {
  const Xform& xf_a;
  const Xform& xf_b;
  TriMesh& mesh_a;
  TriMesh& mesh_b;
  const KDtree& kd_b;
  const std::vector<float>& cdf_a;
  bool flip;
  Xform xf_ab;                        // carries samples into meshB's own frame
  std::vector<size_t> drawn;          // sampled vertices of meshA, ascending
  std::vector<const Vec3f*> matches;  // closest vertex of meshB of each, or null
};

// Steps x += incr * random through the distribution; each x picks the first vertex whose
// cumulative value exceeds it.
void draw_samples(Direction& dir, float incr) {
  const std::vector<float>& cdf = dir.cdf_a;
  const size_t n = cdf.size();
  size_t i = 0;
  for (float x = incr * icp_random(); x < 1.0f; x += incr * icp_random()) {
    while (i < n && x >= cdf[i]) ++i;
    if (i == n) break;  // only a distribution without its final 1.0 gets here
    dir.drawn.push_back(i);
  }
  dir.matches.assign(dir.drawn.size(), nullptr);
}

// Samples are carried into meshB's own frame instead of rebuilding its tree. Writes only the
// matches of samples [first, last), so runs of samples may be matched on separate threads.
void match_samples(Direction& dir, size_t first, size_t last, float maxdist2) {
  for (size_t k = first; k < last; ++k) {
    dir.matches[k] =
        dir.kd_b.closest_point(dir.xf_ab * dir.mesh_a.vertices[dir.drawn[k]], maxdist2);
  }
}

// The matched samples, less those matched to a boundary vertex, as pairs in the common frame.
void append_pairs(const Direction& dir, PointPairs& pairs) {
  const NormalMatrix nm_a = normal_matrix(dir.xf_a);
  const NormalMatrix nm_b = normal_matrix(dir.xf_b);
  // Without faces no vertex is on a boundary.
  const bool has_faces = !dir.mesh_b.faces.empty();
  for (size_t k = 0; k < dir.drawn.size(); ++k) {
    if (!dir.matches[k]) continue;
    const size_t i = dir.drawn[k];
    const auto j = static_cast<int32_t>(dir.matches[k] - dir.mesh_b.vertices.data());
    if (has_faces && is_boundary(dir.mesh_b, j)) continue;
    const Vec3f& va = dir.mesh_a.vertices[i];
    const Vec3f& vb = dir.mesh_b.vertices[static_cast<size_t>(j)];
    if (!dir.flip) {
      pairs.push_back({dir.xf_a * va, dir.xf_b * vb, nm_a * dir.mesh_a.normals[i]});
    } else {
      pairs.push_back(
          {dir.xf_b * vb, dir.xf_a * va, nm_b * dir.mesh_b.normals[static_cast<size_t>(j)]});
    }
  }
}

// Both directions draw first, mesh 1's then mesh 2's, as the generator's sequence demands;
// then all samples, mesh 1's followed by mesh 2's, are matched in runs.
void select_pairs(const IcpStep& step, PointPairs& pairs) {
  Direction dirs[2] = {
      {step.xf1, step.xf2, step.mesh1, step.mesh2, step.kd2, step.cdf1, false, {}, {}, {}},
      {step.xf2, step.xf1, step.mesh2, step.mesh1, step.kd1, step.cdf2, true, {}, {}, {}}};
  for (Direction& dir : dirs) {
    dir.xf_ab = xform_inverse(dir.xf_b) * dir.xf_a;
    draw_samples(dir, step.incr);
  }
  const size_t n1 = dirs[0].drawn.size();
  const float maxdist2 = step.maxdist * step.maxdist;
  run_in_parts(n1 + dirs[1].drawn.size(), kMinMatchRun, kMaxRuns, step.threads,
               [&dirs, n1, maxdist2](size_t, size_t first, size_t last) {
                 if (first < n1) match_samples(dirs[0], first, std::min(last, n1), maxdist2);
                 if (last > n1) {
                   match_samples(dirs[1], std::max(first, n1) - n1, last - n1, maxdist2);
                 }
               });
  for (const Direction& dir : dirs) append_pairs(dir, pairs);
}

}  // namespace

float median_squared_distance(const PointPairs& pairs) {
  if (pairs.empty()) return 0.0f;
  std::vector<float> d2(pairs.size());
  for (size_t k = 0; k < pairs.size(); ++k) d2[k] = dist2(pairs[k].p1, pairs[k].p2);
  auto mid = d2.begin() + static_cast<std::ptrdiff_t>(d2.size() / 2);
  std::nth_element(d2.begin(), mid, d2.end());
  return *mid;
}

float reject_pairs(PointPairs& pairs, float factor) {
  const float thr2 = factor * median_squared_distance(pairs);
  pairs.erase(std::remove_if(pairs.begin(), pairs.end(),
                             [thr2](const PointPair& pp) { return dist2(pp.p1, pp.p2) > thr2; }),
              pairs.end());
  return thr2;
}

float sample_step_pairs(const IcpStep& step, float factor, PointPairs& pairs) {
  const int verbose = step.verbose;
  IcpClock::time_point t = IcpClock::now();
  select_pairs(step, pairs);
  if (verbose > 1) {
    std::fprintf(stderr, "Generated %zu pairs in %.2f msec.\n", pairs.size(), elapsed_ms(t));
    t = IcpClock::now();
  }
  const size_t generated = pairs.size();
  const float thr2 = reject_pairs(pairs, factor);
  if (verbose > 1)
    std::fprintf(stderr, "Rejected %zu pairs in %.2f msec.\n", generated - pairs.size(),
                 elapsed_ms(t));
  return thr2;
}

}  // namespace kestrel::icp
