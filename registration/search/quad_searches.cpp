#include "registration/search/quad_searches.h"

#include "registration/congruent/quad_search.h"
#include "registration/search/keep_evenly.h"

namespace kestrel::registration {

bool IntersectionQuads::find(const std::vector<core::IndexPair>& d1_pairs,
                             const std::vector<core::IndexPair>& d2_pairs, const Base& base,
                             double tol, std::vector<core::CongruentQuad>& quads,
                             const std::function<bool()>& stop) const {
  return find_congruent_quads(d1_pairs, d2_pairs, quads, base.r1, base.r2, tol, search_radius_, q_,
                              base.points, stop);
}

bool ExactIntersectionQuads::find(const std::vector<core::IndexPair>& d1_pairs,
                                  const std::vector<core::IndexPair>& d2_pairs, const Base& base,
                                  double tol, std::vector<core::CongruentQuad>& quads,
                                  const std::function<bool()>& stop) const {
  const bool found = find_congruent_quads_exact(d1_pairs, d2_pairs, quads, base.r1, base.r2, tol,
                                                sq_radius_, q_, base.points, stop);
  keep_evenly(quads, max_quads_);
  return found;
}

}  // namespace kestrel::registration
