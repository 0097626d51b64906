#include "assembly/pair_job.h"

#include <algorithm>
#include <numeric>
#include <optional>
#include <set>

#include "assembly/multiview_refine.h"
#include "assembly/pose_math.h"
#include "core/clock.h"
#include "core/random15.h"
#include "registration/any_pose/half_turns.h"
#include "registration/registration.h"

namespace kestrel::assembly {

namespace {

// Trials of a pair's search at most. Scans that overlap well confirm their motion within a
// dozen trials or so; most pairs of a larger set do not overlap at all, and would otherwise
// take the search's full count each.
constexpr int32_t kMaxTrials = 30;

// b's centred coordinates into a's, as the files' coordinates.
Matrix4 file_motion(const ScanSet& set, size_t a, size_t b, const core::RigidTransform& m) {
  const std::array<double, 3>& cb = set.centroid[b];
  return matrix_of(translation(set.centroid[a]) * pose_of(m) *
                   translation({-cb[0], -cb[1], -cb[2]}));
}

// The pairing radii of a pair's refinement, in thinning cells: from where a coarse motion from
// four matched points may leave a smooth scan down to the scans' noise.
// A turned fit replaces the first when it measures better by this share of Q.
constexpr double kTurnMargin = 0.02;

const std::vector<double> kPairRadii = {6.0, 4.0, 3.0, 2.0, 1.5, 1.0, 0.75, 0.5, 0.5, 0.5};

// The search's motion of b onto a laid on a point to plane, with a held: a smooth surface can
// leave the coarse motion some degrees off, which the verdict would hold against it.
core::RigidTransform refine_pair(const ScanSet& set, size_t a, size_t b,
                                 const core::RigidTransform& coarse, int threads) {
  std::vector<Pose> poses(set.full.size(), Pose::Identity());
  poses[b] = pose_of(coarse);
  std::vector<bool> placed(set.full.size(), false);
  placed[a] = placed[b] = true;
  return transform_of(refine_placement(set, poses, placed, threads, a, kPairRadii).poses[b]);
}

// Refines and judges the search's motion of b onto a (`motion`, refined in place). A rounded
// scan often fits its neighbour turned half a turn as well as the right way round at the
// search's coarse scale; a pair that fits but not confidently is tried turned too.
registration::Judgement judge_pair(const ScanSet& set, size_t a, size_t b, int threads,
                                   const registration::FitScene& scene,
                                   core::RigidTransform& motion) {
  motion = refine_pair(set, a, b, motion, threads);
  registration::Judgement j = registration::judge_motion(scene, motion);
  if (j.verdict != registration::Verdict::kUncertain || j.snug || !scene.usable) return j;
  const std::optional<core::RigidTransform> turn = registration::half_turn(scene, motion);
  if (!turn) return j;
  const core::RigidTransform turned = refine_pair(set, a, b, *turn, threads);
  // Turned, a scan that overlaps its neighbour a little may cover far more of it, never as
  // closely: what it brings near must lie on the surface as wholly.
  const registration::FitEvidence there = registration::evaluate_fit(scene, turned);
  if (registration::fit_score(there) <= registration::fit_score(j.fit) + kTurnMargin ||
      registration::on_surface_share(there) < j.on_surface)
    return j;
  motion = turned;
  j = registration::judge_motion(scene, turned);
  return j;
}

}  // namespace

PairRecord register_pair(const ScanSet& set, size_t a, size_t b, int threads,
                         const std::function<bool()>& stop) {
  const core::Clock::time_point t0 = core::Clock::now();
  PairRecord record;
  record.a = a;
  record.b = b;
  const registration::PreparedPair pair{set.prepared[a], set.prepared[b], set.full[a], set.cell};
  registration::AnyPoseOptions options;
  options.threads = threads;
  options.console = false;
  options.console_progress = false;
  options.max_trials = kMaxTrials;
  // A pair serves the pose graph only when confident or snug, which a feature motion never is.
  options.feature_motions = false;
  registration::EngineHooks hooks;
  hooks.should_stop = stop;
  core::Random15 rng;
  rng.seed(0);
  const registration::EngineResult run =
      registration::run_any_pose_prepared(pair, options, hooks, rng);
  if (!run.improved) {
    record.verdict = registration::verdict_name(registration::Verdict::kNoMatch);
  } else {
    core::RigidTransform motion = run.motion;
    // The verdict, the turned fit and the alternatives are measured on one scene.
    std::optional<registration::FitScene> scene;
    if (!run.stopped)
      scene.emplace(set.full[a], set.full[b], registration::FitOptions(), nullptr,
                    registration::SceneGrids{set.prepared[a].full_grid, set.prepared[b].full_grid});
    registration::Judgement j = run.stopped ? registration::stopped_judgement()
                                            : judge_pair(set, a, b, threads, *scene, motion);
    // The alternatives can only take confidence away; most pairs of a set have none to lose.
    if (j.verdict == registration::Verdict::kConfident || j.snug)
      registration::weigh_alternatives(j, *scene, run.alternatives, run.best_lcp);
    record.verdict = registration::verdict_name(j.verdict);
    record.motion = file_motion(set, a, b, motion);
    record.fine_share = j.fit.fine_share;
    record.snug = j.snug;
  }
  record.seconds = core::elapsed_ms(t0) * 0.001;
  return record;
}

std::vector<std::pair<size_t, size_t>> pairs_to_try(const ScanSet& set,
                                                    const AssemblyOptions& options) {
  const size_t n = set.full.size();
  std::set<std::pair<size_t, size_t>> chosen;
  for (size_t i = 0; i < n; ++i) {
    std::vector<size_t> others;
    for (size_t j = 0; j < n; ++j)
      if (j != i) others.push_back(j);
    if (n > options.all_pairs_up_to) {
      // Nearest signatures first; ties by index, so the list is the same on every machine.
      std::stable_sort(others.begin(), others.end(), [&set, i](size_t x, size_t y) {
        return signature_distance(set.signature[i], set.signature[x]) <
               signature_distance(set.signature[i], set.signature[y]);
      });
      others.resize(std::min(others.size(), options.shortlist));
    }
    for (size_t j : others) chosen.insert({std::min(i, j), std::max(i, j)});
  }
  return {chosen.begin(), chosen.end()};
}

}  // namespace kestrel::assembly
