#pragma once
// Sampled, weighted ICP: refines xf2 so that mesh 2 (under xf2) lies on mesh 1 (under xf1,
// which stays fixed). Warm-up point-to-point steps (the first two translation only), then
// point-to-plane steps until the error stops improving (at most 100), optionally followed by a
// scaling phase, and a last step with four times the samples. Samples are drawn with the
// process-wide generator of icp_random.h, so a later run continues its sequence.

#include <functional>
#include <vector>

#include "icp/kd_tree.h"
#include "icp/tri_mesh.h"
#include "icp/xform.h"

namespace kestrel::icp {

// Builds a tree over each mesh in its own coordinates and runs icp_align_full with a chosen
// distance limit. Returns the last RMS point-to-plane error (>= 0) or a negative value on
// failure; updates made to xf2 before a failure stay. verbose > 0 reports failures on stderr,
// verbose > 1 every step and its timing. allow_scale lets a uniform scale correct xf2 once
// the rigid motion has converged; affine a full linear map. `threads` is 1, or 2 to share the
// normals, matching and weights with run_in_parts' helper; xf2 is the same either way.
float icp_align(TriMesh& mesh1, TriMesh& mesh2, const Xform& xf1, Xform& xf2, int verbose,
                bool allow_scale, bool affine, int threads);

// As icp_align over the caller's trees (kd1 over mesh1, kd2 over mesh2). The overlap weights
// are recomputed when their lengths differ from the vertex counts. maxdist <= 0 chooses half
// the diagonal of the smaller bounding box. Empty meshes and meshes whose vertices all
// coincide are refused with -1 before anything changes. A `stop` request (core/stop_check.h),
// asked before each step, ends it with -1 and xf2 as far as it came.
float icp_align_full(TriMesh& mesh1, TriMesh& mesh2, const Xform& xf1, Xform& xf2,
                     const KDtree& kd1, const KDtree& kd2, std::vector<float>& weights1,
                     std::vector<float>& weights2, float maxdist, int verbose, bool allow_scale,
                     bool affine, int threads, const std::function<bool()>& stop = {});

// The uniform starting distribution over n vertices: (i + 1) / n, the last exactly 1.
std::vector<float> uniform_cdf(size_t n);

}  // namespace kestrel::icp
