#pragma once
// Congruent quads: combinations of one d1 pair and one d2 pair of Q whose intermediate points
// (at r1, r2 along the pair) coincide within a radius and whose four cross distances match the
// base's. The d1 intermediate points go into a kd-tree queried twice per d2 pair.

#include <functional>
#include <vector>

#include "core/point_set.h"

namespace kestrel::registration {

// Replaces `quads` with the candidates (q0, q1, q2, q3) = (d1 pair, d2 pair) and returns whether
// there is any. Order: by d2 pair in list order; per d2 pair, the r1 query's hits then the r2
// query's, each nearest first. `search_radius` is used as a squared radius as given; each cross
// distance |b_x - b_y| (base in `base_points`, b0..b3) may differ by strictly less than
// (float)tol * 2. Duplicates are kept. Empty pair lists give false. A `stop` request
// (core/stop_check.h) ends the search with the quads so far.
bool find_congruent_quads(const std::vector<core::IndexPair>& d1_pairs,
                          const std::vector<core::IndexPair>& d2_pairs,
                          std::vector<core::CongruentQuad>& quads, double r1, double r2, double tol,
                          double search_radius, const core::PointSet& q,
                          const core::PointSet& base_points,
                          const std::function<bool()>& stop = {});

// The same search for the base's own intersection only: a d1 pair's point at r1 must meet a d2
// pair's point at r2 (every pair is listed both ways, so each orientation is still tried), a
// quarter of the queries above. The d1 points go into a grid, queried once per d2 pair.
// Order: by d2 pair in list order, then by grid cell. Same tolerances and result.
bool find_congruent_quads_exact(const std::vector<core::IndexPair>& d1_pairs,
                                const std::vector<core::IndexPair>& d2_pairs,
                                std::vector<core::CongruentQuad>& quads, double r1, double r2,
                                double tol, double search_radius, const core::PointSet& q,
                                const core::PointSet& base_points,
                                const std::function<bool()>& stop = {});

}  // namespace kestrel::registration
