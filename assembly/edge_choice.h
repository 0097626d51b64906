#pragma once
// Which registered pairs may become edges of the pose graph. Confident and snug pairs vouch in
// the triangles they close. A confident pair may, unless some of its triangles contradict it and
// no more agree; a snug pair (closely fitting, but a nearly symmetric scan fits that closely
// the wrong way round too) only when more of its triangles agree than contradict. An uncertain
// pair may only when it closes a triangle with two confident pairs that agree with it, and none
// that do not: the wrong fits of uncertain pairs on a nearly symmetric shape agree with each
// other as well as the right ones do.

#include <vector>

#include "assembly/pose_graph.h"

namespace kestrel::assembly {

struct EdgeCandidate {
  GraphEdge edge;
  bool confident = false;
  bool snug = false;  // not confident but lying closely (PairRecord::snug): it vouches as a
                      // confident pair does, but enters only when a triangle agrees with it
};

// One flag per candidate: whether it may enter the graph, at most one per pair of scans (of
// several motions of one pair, the one that most triangles agree with, then the first).
// `anchors` and `tolerance` as in solve_pose_graph.
std::vector<bool> choose_edges(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<EdgeCandidate>& candidates, double tolerance);

}  // namespace kestrel::assembly
