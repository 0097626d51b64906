#pragma once
// The "Start ICP" action: refines the full Model Q against the full Model P from Q's current
// position and moves Q's points by the result.

#include <functional>
#include <string>

#include "core/point_set.h"
#include "icp/xform.h"

namespace kestrel::icp {

struct IcpRefineResult {
  bool ran = false;      // false when refused or stopped; Q is then untouched
  bool stopped = false;  // a stop request ended it
  std::string message;   // why it was refused
  Xform xf2;             // the transform applied to Q (identity when refused)
  float error = -1.0f;   // last RMS point-to-plane error, or negative when the ICP failed
};

// Runs a rigid ICP of Q (mesh 2) onto P (mesh 1), with a uniform scale step when
// `allow_scale` (the specified refinement; a scan of the same object in the same units keeps
// its size, so the any-pose mode refines rigidly), both as point clouds
// in single precision, and stores every point of `full_q` moved by the result, rounded to float
// (also when the ICP stopped early: the updates made so far apply). Normals of `full_q` and
// `full_p` are left as they are. Refuses empty models and models whose points all coincide.
// `threads` (1 or 2) share the work; the result is the same bit for bit with either. `stop`
// (asked from this thread only, core/stop_check.h) is polled through the trees, the normals
// and every step; a stop request leaves Q untouched. With `most_points` > 0 a model of more
// points takes part through every k-th of them, k the smallest stride that keeps at most that
// many: the ICP draws a few hundred pairs a step, so a dense scan's every point would only cost
// normals and tree nodes that no step asks for. Every point of `full_q` is still moved.
IcpRefineResult refine_q_by_icp(const kestrel::core::PointSet& full_p,
                                kestrel::core::PointSet& full_q, int threads, bool allow_scale,
                                const std::function<bool()>& stop = {}, size_t most_points = 0);

}  // namespace kestrel::icp
