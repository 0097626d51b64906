#pragma once
// Which bases the trials draw: the same limits every trial (the specified search), or base
// lengths in turn, wide ones to fix the motion and narrower ones to fit smaller overlaps (the
// any-pose search).

#include <vector>

#include "registration/search/parts.h"

namespace kestrel::registration {

class FixedBases : public BaseSchedule {
 public:
  explicit FixedBases(const BaseLimits& limits) : limits_(limits) {}
  BaseLimits limits(int32_t) const override { return limits_; }

 private:
  BaseLimits limits_;
};

// Trial i draws bases up to lengths[i % size] (anywhere in P), the fourth point kept
// `fourth_share` of that length from the triangle's corners.
class CycledBases : public BaseSchedule {
 public:
  CycledBases(std::vector<float> lengths, float fourth_share)
      : lengths_(std::move(lengths)), fourth_share_(fourth_share) {}
  BaseLimits limits(int32_t index) const override;

 private:
  std::vector<float> lengths_;
  float fourth_share_;
};

}  // namespace kestrel::registration
