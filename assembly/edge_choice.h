#pragma once
// Which registered pairs may become edges of the pose graph. A confident pair may, unless the
// triangles it closes with other pairs all contradict it. An uncertain pair (a smooth or nearly
// symmetric shape lets a pair fit well in more than one way) may only when it closes a triangle
// with two other pairs: three independent searches agreeing by chance on a wrong placement is
// far less likely than one search settling on a wrong fit.

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
