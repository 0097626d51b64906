#include "icp/select_pairs.h"

#include <algorithm>
#include <cstdio>

#include "icp/icp_random.h"
#include "icp/icp_timer.h"

namespace kestrel::icp {

void select_pairs(const Xform& xf_a, const Xform& xf_b, TriMesh& mesh_a, TriMesh& mesh_b,
                  const KDtree& kd_b, const std::vector<float>& cdf_a, float incr, float maxdist,
                  PointPairs& pairs, bool flip) {
  // Samples are carried into meshB's own frame instead of rebuilding its tree.
  const Xform xf_ab = xform_inverse(xf_b) * xf_a;
  const NormalMatrix nm_a = normal_matrix(xf_a);
  const NormalMatrix nm_b = normal_matrix(xf_b);
  const float maxdist2 = maxdist * maxdist;
  const size_t n = cdf_a.size();

  size_t i = 0;
  for (float x = incr * icp_random(); x < 1.0f; x += incr * icp_random()) {
    while (i < n && x >= cdf_a[i]) ++i;
    if (i == n) break;  // only a distribution without its final 1.0 gets here
    const Vec3f q = xf_ab * mesh_a.vertices[i];
    const Vec3f* match = kd_b.closest_point(q, maxdist2);
    if (!match) continue;
    const auto j = static_cast<int32_t>(match - mesh_b.vertices.data());
    if (is_boundary(mesh_b, j)) continue;
    const Vec3f& va = mesh_a.vertices[i];
    const Vec3f& vb = mesh_b.vertices[static_cast<size_t>(j)];
    if (!flip) {
      pairs.push_back({xf_a * va, xf_b * vb, nm_a * mesh_a.normals[i]});
    } else {
      pairs.push_back({xf_b * vb, xf_a * va, nm_b * mesh_b.normals[static_cast<size_t>(j)]});
    }
  }
}

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
  select_pairs(step.xf1, step.xf2, step.mesh1, step.mesh2, step.kd2, step.cdf1, step.incr,
               step.maxdist, pairs, false);
  select_pairs(step.xf2, step.xf1, step.mesh2, step.mesh1, step.kd1, step.cdf2, step.incr,
               step.maxdist, pairs, true);
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
