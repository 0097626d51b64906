#pragma once
// Candidates from congruent bases: the pairs of Q that match the base's two segments, the quads
// among them whose intersection and cross distances match, each quad matched with the base.

#include "registration/search/parts.h"

namespace kestrel::registration {

class CongruentBases : public CandidateSource {
 public:
  // `pairs` and `quads` must outlive the source. With a scale_tol other than 1 the tolerances
  // widen by |1 - scale_tol| and each rigid motion is corrected by the affine step.
  CongruentBases(const PairSource& pairs, const QuadSearch& quads, float scale_tol)
      : pairs_(pairs), quads_(quads), scale_tol_(scale_tol) {}

  bool find(Trial& trial, const Base& base, TrialCandidates& out) const override;
  void matches(Trial& trial, const Base& base, const TrialCandidates& candidates, uint64_t pos,
               std::vector<core::PointMatch>& out) const override;
  MotionEstimate motion(std::vector<core::PointMatch>& matches) const override;
  float gate_tolerances() const override { return 5.0f; }
  bool thread_safe() const override { return quads_.thread_safe(); }

 private:
  bool find_pairs(Trial& trial, const Base& base, std::vector<core::IndexPair>& d1_pairs,
                  std::vector<core::IndexPair>& d2_pairs) const;

  const PairSource& pairs_;
  const QuadSearch& quads_;
  float scale_tol_;
};

}  // namespace kestrel::registration
