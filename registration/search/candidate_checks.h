#pragma once
// Cheap tests that spare a candidate the full score (the any-pose search asks them in this
// order): its matched normals, whether it lands where a polished candidate did, and a sample of
// Q.

#include <cstddef>

#include "registration/search/parts.h"
#include "registration/search/same_place.h"

namespace kestrel::registration {

// The four matched normals, turned by the motion, agree with P's within a cosine, all with the
// same sign (a scan's normals share one sign, which may differ between the scans).
class NormalAgreement : public CandidateCheck {
 public:
  explicit NormalAgreement(float min_cosine) : min_cosine_(min_cosine) {}
  bool passes(const Trial& trial, const CheckedCandidate& candidate,
              EngineCounts& counts) const override;

 private:
  float min_cosine_;
};

// A candidate that lands where a polish started or ended would polish to the same motion (on a
// smooth part hundreds of candidates land near one wrong start each); one that may confirm the
// best motion is let through.
class NotWherePolished : public CandidateCheck {
 public:
  explicit NotWherePolished(const SamePlace& same_place) : same_place_(same_place) {}
  bool passes(const Trial& trial, const CheckedCandidate& candidate,
              EngineCounts& counts) const override;

 private:
  SamePlace same_place_;
};

// Scores every 4 x stride-th point of Q, then every stride-th, and rejects the candidate when
// the share falls so far below the entry bar (by two standard errors) that the full score would
// not reach it. Most wrong candidates fail the first, small sample.
class PresampleScore : public CandidateCheck {
 public:
  explicit PresampleScore(size_t stride) : stride_(stride) {}
  bool passes(const Trial& trial, const CheckedCandidate& candidate,
              EngineCounts& counts) const override;

 private:
  size_t stride_;
};

}  // namespace kestrel::registration
