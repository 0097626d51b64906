#pragma once
// The two kinds of ICP step. Each samples pairs from both meshes (mesh 1 by cdf1, mesh 2 by
// cdf2), rejects outliers, adapts the sampling increment `incr` (aiming at 50 pairs per
// point-to-point step, 500 per point-to-plane step) and the search limit `maxdist`, composes
// its motion in front of xf2, and returns the RMS error of its pairs measured before the
// motion, or -1 when too few pairs remain (xf2, incr and maxdist then unchanged) or, for a
// point-to-plane step, when the distributions cannot be rebuilt. Verbose output goes to stderr.

#include <functional>
#include <vector>

#include "icp/kd_tree.h"
#include "icp/tri_mesh.h"
#include "icp/xform.h"

namespace kestrel::icp {

// Everything the steps of one ICP run share and update. The references must outlive the steps.
struct IcpStep {
  TriMesh& mesh1;
  TriMesh& mesh2;
  const Xform& xf1;                    // mesh 1's transform, fixed
  Xform& xf2;                          // mesh 2's: each step composes its motion in front
  const KDtree& kd1;                   // over mesh 1's vertices in its own frame
  const KDtree& kd2;                   // over mesh 2's
  const std::vector<float>& weights1;  // overlap weights; another length counts as all 1
  const std::vector<float>& weights2;
  std::vector<float>& cdf1;  // sampling distributions over the two meshes
  std::vector<float>& cdf2;
  float& maxdist;  // pair distance limit, adapted by every step
  float& incr;     // sampling increment, adapted by every step
  int verbose;     // > 0 failures, > 1 every step on stderr
  int threads;     // 1, or 2 to share the matching and the distributions (same results)
  // A stop request (core/stop_check.h), asked from both threads: it fails a rebuild of the
  // distributions, and so the step. Null: never stop.
  const std::function<bool()>* stop = nullptr;
};

// What a point-to-plane step does besides its rigid motion.
struct PlaneStepOptions {
  bool update_cdfs = false;  // rebuild the distributions from the overlap weights afterwards
  bool scale_now = false;    // follow with the scale step: a uniform scale
  bool affine_now = false;   // follow with the scale step: a full linear map
};

// Point-to-point step: a translation between the pair centroids, plus (unless
// translation_only) a small rotation from an LDL^T solve. Needs 1 pair when translation_only,
// else 8. When the pairs determine no rotation (all on one line) the step only translates.
float step_point_to_point(IcpStep& step, bool translation_only);

// Point-to-plane step over the normals of mesh 1, solved by a truncated pseudo-inverse
// (directions with eigenvalue below 1% of the largest stay unmoved). With update_cdfs the
// distributions are rebuilt so that vertices constraining weak directions are drawn more
// often; a zero total fails the step.
float step_point_to_plane(IcpStep& step, const PlaneStepOptions& options);

// The point-to-point rejection factor (3 x 1.4826)^2 and the point-to-plane one (2.5 x 1.4826)^2.
constexpr float kPointToPointRejection = 19.782984f;
constexpr float kPointToPlaneRejection = 13.73818f;

}  // namespace kestrel::icp
