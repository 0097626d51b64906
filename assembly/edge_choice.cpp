#include "assembly/edge_choice.h"

#include <array>
#include <map>

namespace kestrel::assembly {

namespace {

// A triangle of pairs a < c < b: b into a directly, against b into c into a.
struct Triangle {
  std::array<size_t, 3> edges;
  bool fits;
};

// Each triangle's word for or against each of its edges.
void count_votes(const std::vector<EdgeCandidate>& candidates,
                 const std::vector<Triangle>& triangles, std::vector<int>& agree,
                 std::vector<int>& disagree) {
  // Only confident pairs vouch for a plain uncertain one.
  const auto vouch = [&candidates](size_t e, bool strictly) {
    return candidates[e].confident || (!strictly && candidates[e].snug);
  };
  for (const Triangle& t : triangles)
    for (size_t i = 0; i < 3; ++i) {
      const size_t e = t.edges[i];
      const bool strictly = !candidates[e].confident && !candidates[e].snug;
      if (vouch(t.edges[(i + 1) % 3], strictly) && vouch(t.edges[(i + 2) % 3], strictly))
        (t.fits ? agree : disagree)[e] += 1;
    }
}

}  // namespace

std::vector<bool> choose_edges(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<EdgeCandidate>& candidates, double tolerance) {
  std::multimap<std::pair<size_t, size_t>, size_t> index;
  for (size_t e = 0; e < candidates.size(); ++e)
    index.insert({{candidates[e].edge.a, candidates[e].edge.b}, e});
  // Each triangle a < c < b once, for every motion of each of its pairs: b into a directly,
  // against b into c into a.
  std::vector<Triangle> triangles;
  for (const auto& [ab, e] : index) {
    const auto [a, b] = ab;
    for (size_t c = a + 1; c < b; ++c) {
      const auto [ac_first, ac_last] = index.equal_range({a, c});
      const auto [cb_first, cb_last] = index.equal_range({c, b});
      for (auto ac = ac_first; ac != ac_last; ++ac)
        for (auto cb = cb_first; cb != cb_last; ++cb) {
          const Pose via = candidates[ac->second].edge.motion * candidates[cb->second].edge.motion;
          triangles.push_back(
              {{e, ac->second, cb->second},
               anchor_gap(anchors[b], candidates[e].edge.motion, via) <= tolerance});
        }
    }
  }
  // A triangle speaks for or against an edge only when its other two pairs vouch (confident, or
  // snug for a confident or snug edge): on a nearly symmetric shape the wrong fits of uncertain
  // pairs agree with each other as well as the right ones do, and a scan of another object gives
  // wrong motions that would contest every right edge they meet.
  std::vector<int> agree(candidates.size(), 0), disagree(candidates.size(), 0);
  count_votes(candidates, triangles, agree, disagree);
  std::vector<bool> out(candidates.size(), false);
  for (auto it = index.begin(); it != index.end();) {
    const auto last = index.upper_bound(it->first);
    size_t best = it->second;
    for (auto k = it; k != last; ++k)
      if (agree[k->second] > agree[best]) best = k->second;
    const EdgeCandidate& c = candidates[best];
    // A triangle against a vouching edge may be the fault of another edge in it; more triangles
    // for it than against say so. A nearly symmetric scan fits its neighbours two ways, each
    // pair snugly: its edges then contradict each other evenly, and none of them enters.
    if (c.confident)
      out[best] = disagree[best] == 0 || agree[best] > disagree[best];
    else if (c.snug)
      out[best] = agree[best] > disagree[best];
    else
      out[best] = agree[best] > 0 && disagree[best] == 0;
    it = last;
  }
  return out;
}

}  // namespace kestrel::assembly
