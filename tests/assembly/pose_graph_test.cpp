// The pose graph and the choice of its edges: right poses from consistent edges, wrong edges
// (a search's wrong fit) rejected wherever they sit, and no node placed without an edge.

#include "assembly/pose_graph.h"

#include <gtest/gtest.h>

#include <random>

#include "assembly/edge_choice.h"
#include "assembly_scans.h"

namespace kestrel::assembly {
namespace {

constexpr size_t kNodes = 6;
constexpr double kTolerance = 1.0;

struct GraphCase {
  const char* name;
  std::vector<std::pair<size_t, size_t>> wrong;  // edges whose motion is replaced by a wrong one
  bool drop_last_node = false;                   // node 5 gets no edge at all
};

class PoseGraph : public ::testing::TestWithParam<GraphCase> {
 protected:
  void SetUp() override {
    std::mt19937 rng(7);
    for (size_t i = 0; i < kNodes; ++i) {
      truth.push_back(i == 0 ? Pose::Identity()
                             : Pose(testing::random_motion(rng, Eigen::Vector3d::Zero())));
      anchors.push_back({Eigen::Vector3d::Zero(), Eigen::Vector3d(50, 0, 0),
                         Eigen::Vector3d(0, 50, 0), Eigen::Vector3d(0, 0, 50)});
    }
  }
  // Edges of a ring with chords; motions from the truth, or wrong where the case says.
  std::vector<EdgeCandidate> edges(const GraphCase& c) const {
    const std::pair<size_t, size_t> all[] = {{0, 1}, {1, 2}, {2, 3}, {3, 4}, {4, 5}, {0, 5},
                                             {0, 2}, {1, 3}, {2, 4}, {3, 5}, {1, 4}};
    std::mt19937 rng(11);
    std::vector<EdgeCandidate> out;
    for (const auto& [a, b] : all) {
      if (c.drop_last_node && b == kNodes - 1) continue;
      Pose m = rigid_inverse(truth[a]) * truth[b];
      for (const auto& w : c.wrong)
        if (w == std::make_pair(a, b))
          m = Pose(testing::random_motion(rng, Eigen::Vector3d::Zero())) * m;
      out.push_back({{a, b, m, 0.8}, true});
    }
    return out;
  }
  std::vector<Pose> truth;
  std::vector<std::vector<Eigen::Vector3d>> anchors;
};

TEST_P(PoseGraph, PlacesEveryNodeAndRejectsTheWrongEdges) {
  const GraphCase& c = GetParam();
  const std::vector<EdgeCandidate> candidates = edges(c);
  std::vector<GraphEdge> plain;
  for (const EdgeCandidate& e : candidates) plain.push_back(e.edge);
  const GraphSolution s = solve_pose_graph(anchors, plain, kTolerance);
  for (size_t i = 0; i < kNodes; ++i) {
    const bool expect = !(c.drop_last_node && i == kNodes - 1);
    ASSERT_EQ(s.placed[i], expect) << "node " << i;
    if (!expect) continue;
    EXPECT_LT(anchor_gap(anchors[i], s.poses[i], truth[i]), 1e-6) << "node " << i;
  }
  for (size_t e = 0; e < plain.size(); ++e) {
    bool wrong = false;
    for (const auto& w : c.wrong) wrong |= w == std::make_pair(plain[e].a, plain[e].b);
    EXPECT_EQ(s.used[e], !wrong) << "edge " << plain[e].a << "-" << plain[e].b;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, PoseGraph,
                         ::testing::Values(GraphCase{"consistent", {}},
                                           GraphCase{"wrong_chord", {{0, 2}}},
                                           GraphCase{"wrong_ring_edge", {{2, 3}}},
                                           GraphCase{"wrong_edge_at_reference", {{0, 1}}},
                                           GraphCase{"two_wrong_edges", {{1, 3}, {4, 5}}},
                                           GraphCase{"node_without_edges", {}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PoseGraph, UncertainEdgeNeedsATriangleThatAgrees) {
  // 0-1, 1-2 and 0-2 agree; 2-3 stands alone; 3-4 and 4-5 and 3-5 close a triangle but 3-5 is
  // wrong.
  std::vector<EdgeCandidate> c;
  const auto edge = [this](size_t a, size_t b) {
    return GraphEdge{a, b, rigid_inverse(truth[a]) * truth[b], 0.5};
  };
  for (const auto& [a, b] :
       {std::pair<size_t, size_t>{0, 1}, {1, 2}, {0, 2}, {2, 3}, {3, 4}, {4, 5}, {3, 5}})
    c.push_back({edge(a, b), false});
  std::mt19937 rng(3);
  c.back().edge.motion =
      Pose(testing::random_motion(rng, Eigen::Vector3d::Zero())) * c.back().edge.motion;
  const std::vector<bool> chosen = choose_edges(anchors, c, kTolerance);
  EXPECT_EQ(chosen, (std::vector<bool>{true, true, true, false, false, false, false}));
  // A confident edge needs no triangle, as long as none contradicts it.
  c[3].confident = true;
  EXPECT_TRUE(choose_edges(anchors, c, kTolerance)[3]);
}

}  // namespace
}  // namespace kestrel::assembly
