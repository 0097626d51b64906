#pragma once
// The word on a result that a user can act on: confident (the motion is right), uncertain (it
// may be; the files hold the best guess), or no match (the scans share nothing the search could
// find). It rests on the fine measure of the fit (fit_evidence.h): a right motion lays most of
// the Q points it brings near P along P's tangent plane with P's normal, while surfaces that
// merely cross meet in a band where few do.

#include <string>
#include <vector>

#include "registration/judge/fit_evidence.h"
#include "registration/records.h"

namespace kestrel::registration {

enum class Verdict { kConfident, kUncertain, kNoMatch };

// A distinct motion the search also found, measured as the result is.
struct AlternativeFit {
  core::RigidTransform motion;  // of Q as loaded into P, as the search found it
  double fine_share = 0;        // where it settles, as FitEvidence
  double on_surface = 0;
  double constraint = 0;
};

struct Judgement {
  Verdict verdict = Verdict::kNoMatch;
  FitEvidence fit;        // the measure it rests on, taken at the settled motion
  double on_surface = 0;  // fit.fine_share / fit.near_share: of Q near P, the share on its surface
  // Q lies on P almost wholly and holds there, if loosely, with no rival found: right, unless
  // the part is nearly symmetric (agreeing pairs of a set of scans can tell).
  bool snug = false;
  double settle_degrees = 0;                 // how far settling turned the motion judged
  double settle_shift = 0;                   // and moved Q's centroid (model units)
  core::RigidTransform settled;              // where the motion judged settled
  std::string reason;                        // one line: the figures that decided it
  std::vector<AlternativeFit> alternatives;  // measured by weigh_alternatives
};

// "confident", "uncertain" or "no_match".
const char* verdict_name(Verdict verdict);

// Takes confidence away: a confident verdict becomes uncertain and the fit is not snug; `why`
// joins the reason.
void at_most_uncertain(Judgement& j, const char* why);

// The verdict on a motion that only matched surface features found: no base of the search found
// it again, and a nearly symmetric part matches itself turned, so it is at most uncertain.
void found_by_features(Judgement& j);

// Measures and judges `motion` (Q onto P) on the full scans. A coarse motion is judged by where
// it settles: a copy is first refined by closest-point steps, and a motion that settles far
// from where it stood is at most uncertain, since the files hold the motion itself.
Judgement judge_motion(const core::PointSet& full_p, const core::PointSet& full_q,
                       const core::RigidTransform& motion);
// The same on a scene built once for several measures; `motion` moves the scene's Q.
Judgement judge_motion(const FitScene& scene, const core::RigidTransform& motion);

// Measures the search's alternatives (motions of `q_as_loaded`, Q's full scan as loaded) that
// settle elsewhere than the judged motion of `q_judged` (the same points, moved), and keeps
// them in j.alternatives; when one fits P about as well as the result, the scans fit two ways
// (a symmetric part) and the result is at most uncertain. Alternatives that scored under half
// of `best_score` in the search are not measured. Up to `threads` (1 or 2) are measured at
// once; the judgement is the same either way.
void weigh_alternatives(Judgement& j, const core::PointSet& full_p, const core::PointSet& q_judged,
                        const core::PointSet& q_as_loaded,
                        const std::vector<Alternative>& alternatives, double best_score,
                        int threads = 1);
// The same on the scene `j` was judged on, whose Q is Q as loaded.
void weigh_alternatives(Judgement& j, const FitScene& scene,
                        const std::vector<Alternative>& alternatives, double best_score,
                        int threads = 1);

// judge_motion and then weigh_alternatives on one scene, with the same result; on two threads
// the alternatives' first steps go beside the judgement.
Judgement judge_and_weigh(const FitScene& scene, const core::RigidTransform& motion,
                          const std::vector<Alternative>& alternatives, double best_score,
                          int threads = 1);

// Judges a measured fit.
Judgement judge_fit(const FitEvidence& fit);

// The judgement of a run stopped before its search ended: uncertain, unmeasured.
Judgement stopped_judgement();

// The judgement of a run that found no motion.
Judgement no_motion_judgement(const std::string& reason);

}  // namespace kestrel::registration
