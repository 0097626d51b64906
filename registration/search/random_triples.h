#pragma once
// The RANSAC baseline's candidates: the base triangle matched with three random, pairwise
// distinct points of Q, |Q|^3 draws a trial, judged by a looser residual gate.

#include "registration/search/parts.h"

namespace kestrel::registration {

class RandomTriples : public CandidateSource {
 public:
  bool find(Trial& trial, const Base& base, TrialCandidates& out) const override;
  void matches(Trial& trial, const Base& base, const TrialCandidates& candidates, uint64_t pos,
               std::vector<core::PointMatch>& out) const override;
  MotionEstimate motion(std::vector<core::PointMatch>& matches) const override {
    return estimate_rigid_motion(matches, false);
  }
  float gate_tolerances() const override { return 15.0f; }
  bool thread_safe() const override { return true; }
};

}  // namespace kestrel::registration
