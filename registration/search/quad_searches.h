#pragma once
// The two congruent-quad searches: the specified one, which asks a kd-tree of the d1 pairs'
// intermediate points at both invariants, and the exact one, which asks a grid only at the
// base's own intersection.

#include <cstddef>

#include "registration/search/parts.h"

namespace kestrel::registration {

// find_congruent_quads with the search radius as given (the run tolerance).
class IntersectionQuads : public QuadSearch {
 public:
  // `q` must outlive the search.
  IntersectionQuads(const core::PointSet& q, double search_radius)
      : q_(q), search_radius_(search_radius) {}
  bool find(const std::vector<core::IndexPair>& d1_pairs,
            const std::vector<core::IndexPair>& d2_pairs, const Base& base, double tol,
            std::vector<core::CongruentQuad>& quads,
            const std::function<bool()>& stop) const override;
  // ANN's searches share global state.
  bool thread_safe() const override { return false; }

 private:
  const core::PointSet& q_;
  double search_radius_;
};

// find_congruent_quads_exact within a squared radius, keeping at most `max_quads` quads (0:
// all) spread evenly.
class ExactIntersectionQuads : public QuadSearch {
 public:
  ExactIntersectionQuads(const core::PointSet& q, double sq_radius, size_t max_quads)
      : q_(q), sq_radius_(sq_radius), max_quads_(max_quads) {}
  bool find(const std::vector<core::IndexPair>& d1_pairs,
            const std::vector<core::IndexPair>& d2_pairs, const Base& base, double tol,
            std::vector<core::CongruentQuad>& quads,
            const std::function<bool()>& stop) const override;
  bool thread_safe() const override { return true; }

 private:
  const core::PointSet& q_;
  double sq_radius_;
  size_t max_quads_;
};

}  // namespace kestrel::registration
