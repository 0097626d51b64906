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

TEST_F(PoseGraph, UncertainEdgeNeedsTwoConfidentEdgesThatAgree) {
  // 0-1 and 1-2 confident vouch for the uncertain 0-2; 2-3 stands alone; 3-4, 4-5 and the wrong
  // 3-5 are uncertain and agree with nothing confident; 5-1 is confident but wrong, and 4-5
  // confident and right: 4-1 is left out, so no triangle judges 5-1.
  struct Row {
    size_t a, b;
    bool confident, wrong, chosen;
  };
  const Row rows[] = {{0, 1, true, false, true},   {1, 2, true, false, true},
                      {0, 2, false, false, true},  {2, 3, false, false, false},
                      {3, 4, false, false, false}, {4, 5, false, false, false},
                      {3, 5, false, true, false},  {1, 5, true, true, true}};
  std::mt19937 rng(3);
  std::vector<EdgeCandidate> c;
  for (const Row& r : rows) {
    Pose m = rigid_inverse(truth[r.a]) * truth[r.b];
    if (r.wrong) m = Pose(testing::random_motion(rng, Eigen::Vector3d::Zero())) * m;
    c.push_back({{r.a, r.b, m, 0.5}, r.confident});
  }
  std::vector<bool> expected;
  for (const Row& r : rows) expected.push_back(r.chosen);
  EXPECT_EQ(choose_edges(anchors, c, kTolerance), expected);
  // Made confident, 3-4 and 4-5 are chosen, and the wrong uncertain 3-5 they contradict is not.
  c[4].confident = c[5].confident = true;
  const std::vector<bool> chosen = choose_edges(anchors, c, kTolerance);
  EXPECT_TRUE(chosen[4] && chosen[5]);
  EXPECT_FALSE(chosen[6]);
}

TEST_F(PoseGraph, SnugEdgesEnterOnlyWhereATriangleAgrees) {
  // Scan 0 fits 1 right and 3 the wrong way round, both snugly (a nearly symmetric scan): the
  // triangle 0-1-3 contradicts both, and 1-3 with them; 1-2-3 agrees with 1-2, 2-3 and 1-3,
  // and the confident 2-4 with 2-3 and 3-4. A snug edge with as many triangles against it as
  // for it stays out.
  struct Row {
    size_t a, b;
    bool confident, wrong, chosen;
  };
  const Row rows[] = {{0, 1, false, false, false}, {0, 3, false, true, false},
                      {1, 2, false, false, true},  {1, 3, false, false, false},
                      {2, 3, false, false, true},  {2, 4, true, false, true},
                      {3, 4, false, false, true}};
  std::mt19937 rng(5);
  std::vector<EdgeCandidate> c;
  for (const Row& r : rows) {
    Pose m = rigid_inverse(truth[r.a]) * truth[r.b];
    if (r.wrong) m = Pose(testing::random_motion(rng, Eigen::Vector3d::Zero())) * m;
    c.push_back({{r.a, r.b, m, 0.5}, r.confident, !r.confident});
  }
  std::vector<bool> expected;
  for (const Row& r : rows) expected.push_back(r.chosen);
  EXPECT_EQ(choose_edges(anchors, c, kTolerance), expected);
}

}  // namespace
}  // namespace kestrel::assembly
