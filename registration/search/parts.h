#pragma once
// The parts a search is assembled from, once per run. The trial loop (run_trial.h) asks them and
// has no mode of its own: the specified search and the any-pose search are two assemblies
// (congruent/run_congruent.cpp, any_pose/run_any_pose.cpp). A new scorer, check or stopping rule
// is one new class and one line where a mode is assembled. Parts are read only during a run and
// may be asked from two threads at once when they say they are thread-safe.

#include <cstdint>
#include <functional>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/congruent/base_selection.h"
#include "registration/congruent/lcp.h"
#include "registration/congruent/motion_estimation.h"
#include "registration/records.h"

namespace kestrel::registration {

struct Trial;
struct Search;
struct BestSoFar;
struct Finding;

// The limits of base selection for each trial.
class BaseSchedule {
 public:
  virtual ~BaseSchedule() = default;
  // The limits of the trial `index` (0-based) of the run.
  virtual BaseLimits limits(int32_t index) const = 0;
};

// Where the pairs of Q come from that may stand for a base segment.
class PairSource {
 public:
  virtual ~PairSource() = default;
  // Replaces `pairs` with the ordered pairs of Q that may stand for the segment (a, b), whose
  // length is `d`, with lengths within `tol` of it. A `stop` request may cut the list short.
  virtual void pairs(const core::Point3D& a, const core::Point3D& b, double d, double tol,
                     std::vector<core::IndexPair>& pairs,
                     const std::function<bool()>& stop) const = 0;
};

// Congruent quads among the pairs of a base's two segments.
class QuadSearch {
 public:
  virtual ~QuadSearch() = default;
  // Replaces `quads` with the quads whose cross distances match the base's within `tol`;
  // false when there is none. A `stop` request may cut the search short.
  virtual bool find(const std::vector<core::IndexPair>& d1_pairs,
                    const std::vector<core::IndexPair>& d2_pairs, const Base& base, double tol,
                    std::vector<core::CongruentQuad>& quads,
                    const std::function<bool()>& stop) const = 0;
  virtual bool thread_safe() const = 0;
};

// The candidates of one trial: the quads found, or only their count where they are drawn.
struct TrialCandidates {
  std::vector<core::CongruentQuad> quads;
  uint64_t count = 0;
};

// How a trial turns its base into candidate motions.
class CandidateSource {
 public:
  virtual ~CandidateSource() = default;
  // Finds the trial's candidates for `base` (counts and stage times go to the trial's tally);
  // false ends the trial without a candidate.
  virtual bool find(Trial& trial, const Base& base, TrialCandidates& out) const = 0;
  // The matched points of candidate `pos`, P's side from the base.
  virtual void matches(Trial& trial, const Base& base, const TrialCandidates& candidates,
                       uint64_t pos, std::vector<core::PointMatch>& out) const = 0;
  // The candidate's motion and residual (the Q side of `matches` may be rewritten).
  virtual MotionEstimate motion(std::vector<core::PointMatch>& matches) const = 0;
  // Candidates with a residual below this many run tolerances are judged.
  virtual float gate_tolerances() const = 0;
  virtual bool thread_safe() const = 0;
};

// A candidate as the checks see it.
struct CheckedCandidate {
  const std::vector<core::PointMatch>& matches;
  const core::RigidTransform& motion;
  bool confirming;   // it may confirm the best motion (see StoppingRule::may_confirm)
  double entry_bar;  // the score it must reach to be scored in full
};

// A cheap test before the full score.
class CandidateCheck {
 public:
  virtual ~CandidateCheck() = default;
  // Whether the candidate is worth scoring; a rejection is counted in `counts`.
  virtual bool passes(const Trial& trial, const CheckedCandidate& candidate,
                      EngineCounts& counts) const = 0;
};

// The LCP of Q under a motion.
class Scorer {
 public:
  virtual ~Scorer() = default;
  // The share of Q that the motion brings near P; may give up once it cannot beat `best`, and
  // gives up with 0 on a `stop` request.
  virtual LcpScore score(const core::RigidTransform& motion, double best,
                         const std::function<bool()>& stop) const = 0;
  // The share of every stride-th point of Q near P, and in `n` how many points were asked.
  virtual double sample_share(const core::RigidTransform& motion, size_t stride,
                              size_t& n) const = 0;
  virtual bool thread_safe() const = 0;
};

// Moves a candidate that scores near the best to a better motion before it is compared, so that
// raw and polished motions compete fairly.
class Polish {
 public:
  virtual ~Polish() = default;
  virtual core::RigidTransform polish(const core::RigidTransform& motion) const = 0;
  // Candidates scoring above this share of the bar are polished.
  virtual float share() const = 0;
  virtual bool thread_safe() const = 0;
};

// When a run has found enough.
class StoppingRule {
 public:
  virtual ~StoppingRule() = default;
  // Whether a candidate of this trial would confirm the best motion rather than compete with it.
  virtual bool may_confirm(const Trial& trial, const core::RigidTransform& motion) const = 0;
  // The score a candidate must beat: the best LCP, or the share of it that confirms.
  virtual double bar(const BestSoFar& best, bool confirming) const = 0;
  // Takes note of a scored (and polished) candidate before it may become the best.
  virtual void note(BestSoFar& best, const Finding& finding) const = 0;
  virtual bool done(const BestSoFar& best) const = 0;
};

// In what order and on how many threads the trials run.
class TrialScheduling {
 public:
  virtual ~TrialScheduling() = default;
  // Runs trials until the stopping rule, the stop hook or num_try ends the search.
  virtual void run(Search& search) const = 0;
};

// The parts of one assembly; the checks run in their order, the polish is optional.
struct SearchParts {
  const BaseSchedule* bases = nullptr;
  const CandidateSource* candidates = nullptr;
  std::vector<const CandidateCheck*> checks;
  const Scorer* scorer = nullptr;
  const Polish* polish = nullptr;
  // Scores polished candidates where nearness alone cannot rank them; the scorer when null.
  const Scorer* polished_scorer = nullptr;
  const StoppingRule* stopping = nullptr;
  const TrialScheduling* scheduling = nullptr;
};

}  // namespace kestrel::registration
