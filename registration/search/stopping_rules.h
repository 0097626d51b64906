#pragma once
// When a search has found enough: an LCP above a threshold (the specified search), or, when the
// overlap is not known, later trials that find the best motion again (the any-pose search, which
// also keeps the threshold).

#include <cstdint>

#include "registration/search/parts.h"
#include "registration/search/same_place.h"

namespace kestrel::registration {

// Done once the best LCP exceeds `thr`.
class ThresholdStop : public StoppingRule {
 public:
  explicit ThresholdStop(float thr) : thr_(thr) {}
  bool may_confirm(const Trial&, const core::RigidTransform&) const override { return false; }
  double bar(const BestSoFar& best, bool confirming) const override;
  void note(BestSoFar&, const Finding&) const override {}
  bool done(const BestSoFar& best) const override;

 protected:
  float thr_;
};

// Also done once `count` trials other than the best's found the best motion again (the same
// place, at least `share` of its LCP). A wrong motion that a scan's symmetry lets two bases find
// is rarely found by three.
class ConfirmationStop : public ThresholdStop {
 public:
  ConfirmationStop(float thr, float share, int32_t count, const SamePlace& same_place)
      : ThresholdStop(thr), share_(share), count_(count), same_place_(same_place) {}
  bool may_confirm(const Trial& trial, const core::RigidTransform& motion) const override;
  double bar(const BestSoFar& best, bool confirming) const override;
  void note(BestSoFar& best, const Finding& finding) const override;
  bool done(const BestSoFar& best) const override;

 private:
  float share_;
  int32_t count_;
  SamePlace same_place_;
};

}  // namespace kestrel::registration
