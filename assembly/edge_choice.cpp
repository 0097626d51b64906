#include "assembly/edge_choice.h"

#include <map>

namespace kestrel::assembly {

std::vector<bool> choose_edges(const std::vector<std::vector<Eigen::Vector3d>>& anchors,
                               const std::vector<EdgeCandidate>& candidates, double tolerance) {
  std::multimap<std::pair<size_t, size_t>, size_t> index;
  for (size_t e = 0; e < candidates.size(); ++e)
    index.insert({{candidates[e].edge.a, candidates[e].edge.b}, e});
  std::vector<int> agree(candidates.size(), 0), disagree(candidates.size(), 0);
  // Each triangle a < c < b once, for every motion of each of its pairs: b into a directly,
  // against b into c into a.
  for (const auto& [ab, e] : index) {
    const auto [a, b] = ab;
    for (size_t c = a + 1; c < b; ++c) {
      const auto [ac_first, ac_last] = index.equal_range({a, c});
      const auto [cb_first, cb_last] = index.equal_range({c, b});
      for (auto ac = ac_first; ac != ac_last; ++ac)
        for (auto cb = cb_first; cb != cb_last; ++cb) {
          const Pose via = candidates[ac->second].edge.motion * candidates[cb->second].edge.motion;
          const bool fits = anchor_gap(anchors[b], candidates[e].edge.motion, via) <= tolerance;
          for (size_t k : {e, ac->second, cb->second}) (fits ? agree : disagree)[k] += 1;
        }
    }
  }
  std::vector<bool> out(candidates.size(), false);
  for (auto it = index.begin(); it != index.end();) {
    const auto last = index.upper_bound(it->first);
    size_t best = it->second;
    for (auto k = it; k != last; ++k)
      if (agree[k->second] > agree[best]) best = k->second;
    const EdgeCandidate& c = candidates[best];
    out[best] = agree[best] > 0 || (c.confident && disagree[best] == 0);
    it = last;
  }
  return out;
}

}  // namespace kestrel::assembly
