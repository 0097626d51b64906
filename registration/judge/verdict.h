#pragma once
// The word on a result that a user can act on: confident (the motion is right), uncertain (it
// may be; the files hold the best guess), or no match (the scans share nothing the search could
// find). It rests on the fine measure of the fit (fit_evidence.h): a right motion lays most of
// the Q points it brings near P along P's tangent plane with P's normal, while surfaces that
// merely cross meet in a band where few do.

#include <string>

#include "registration/judge/fit_evidence.h"

namespace kestrel::registration {

enum class Verdict { kConfident, kUncertain, kNoMatch };

struct Judgement {
  Verdict verdict = Verdict::kNoMatch;
  FitEvidence fit;        // the measure it rests on, taken at the settled motion
  double on_surface = 0;  // fit.fine_share / fit.near_share: of Q near P, the share on its surface
  double settle_degrees = 0;  // how far settling turned the motion judged
  double settle_shift = 0;    // and moved Q's centroid (model units)
  std::string reason;         // one line: the figures that decided it
};

// "confident", "uncertain" or "no_match".
const char* verdict_name(Verdict verdict);

// Measures and judges `motion` (Q onto P) on the full scans. A coarse motion is judged by where
// it settles: a copy is first refined by closest-point steps, and a motion that settles far
// from where it stood is at most uncertain, since the files hold the motion itself.
Judgement judge_motion(const core::PointSet& full_p, const core::PointSet& full_q,
                       const core::RigidTransform& motion);

// Judges a measured fit.
Judgement judge_fit(const FitEvidence& fit);

// The judgement of a run that found no motion.
Judgement no_motion_judgement(const std::string& reason);

}  // namespace kestrel::registration
