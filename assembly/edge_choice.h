#pragma once
// Which registered pairs may become edges of the pose graph. A confident pair may, unless the
// triangles it closes with other pairs contradict it. An uncertain pair (a smooth or nearly
// symmetric shape lets a pair fit well in more than one way) may only when more of the
// triangles it closes with two other pairs agree with it than contradict it: three independent
// searches agreeing by chance on a wrong placement is far less likely than one search settling
// on a wrong fit, but on a nearly symmetric shape the wrong fits agree with each other too.

#include <vector>

#include "assembly/pose_graph.h"

namespace kestrel::assembly {

struct EdgeCandidate {
  GraphEdge edge;
  bool confident = false;
};

// One flag per candidate: whether it may enter the graph, at most one per pair of scans (of
// several motions of one pair, the one that most triangles agree with, then the first).
// `anchors` and `tolerance` as in solve_pose_graph.
std::vector<bool> choose_edges(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<EdgeCandidate>& candidates, double tolerance);

}  // namespace kestrel::assembly
