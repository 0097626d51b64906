#pragma once
// The pose graph of an assembly: scans as nodes, confident pairs as edges weighted by their
// evidence, solved for one pose per scan by least squares (Ceres) with a robust loss. Wrong
// edges are rejected twice over: an edge that several triangles of edges contradict goes first,
// and the poses start from a spanning tree of the edges that triangles confirm; an edge that the
// solved poses still contradict goes next, after which the graph is solved again without it.

#include <cstddef>
#include <vector>

#include "assembly/pose_math.h"

namespace kestrel::assembly {

struct GraphEdge {
  size_t a = 0, b = 0;
  Pose motion;        // scan b's (centred) coordinates into scan a's
  double weight = 1;  // the evidence: larger is surer
};

struct GraphSolution {
  std::vector<bool> placed;  // tied to node 0 by kept edges
  std::vector<Pose> poses;   // of placed nodes: their coordinates into node 0's
  std::vector<bool> used;    // per edge: kept, and between placed nodes
};

// Solves the graph whose node i has the `anchors[i]` (four points spread over scan i, in its
// coordinates) at which two motions are compared: edges that disagree with the others by more
// than `tolerance` there are rejected. Node 0 stays where it is.
GraphSolution solve_pose_graph(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<GraphEdge>& edges, double tolerance);

// How far apart two motions of node `b` put its anchors: the largest distance.
double anchor_gap(const std::vector<Eigen::Vector3d>& anchors, const Pose& x, const Pose& y);

}  // namespace kestrel::assembly
