// The any-pose search as an assembly: both scans thinned and given normals, bases of the scans'
// own sizes in turn, pairs from a table of Q's pairs by length, the exact quad search, checks of
// the matched normals and of a sample of Q, scoring through a mask of the space near P,
// candidates polished and then compared by how much of Q they lay on P's surface, stopping when
// later bases confirm the best motion, trials two at a time; the result is then polished
// against the full P.

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <optional>
#include <vector>

#include "core/clock.h"
#include "core/side_by_side.h"
#include "registration/any_pose/any_pose_plan.h"
#include "registration/any_pose/any_pose_polish.h"
#include "registration/any_pose/any_pose_scan.h"
#include "registration/any_pose/feature_motions.h"
#include "registration/any_pose/plane_steps.h"
#include "registration/any_pose/voxel_sample.h"
#include "registration/registration.h"
#include "registration/search/base_schedules.h"
#include "registration/search/candidate_checks.h"
#include "registration/search/congruent_bases.h"
#include "registration/search/pair_sources.h"
#include "registration/search/progress.h"
#include "registration/search/quad_searches.h"
#include "registration/search/run_search.h"
#include "registration/search/scorers.h"
#include "registration/search/stopping_rules.h"
#include "registration/search/trial_scheduling.h"

namespace kestrel::registration {

namespace {

// Matched base normals, once turned by the candidate motion, must be within about 37 degrees.
constexpr float kNormalAgreement = 0.8f;
// Every 8th point of Q scores a candidate first; most wrong ones stop there.
constexpr size_t kLcpPresample = 8;
// The fourth base point keeps this share of the base length from the triangle's corners.
constexpr float kFourthPointShare = 1.0f / 16;
// Candidates scoring above this share of the best are polished before they are compared.
constexpr float kPolishShare = 0.75f;
// Stopping: a trial's best counts as a second finding when it scores at least this share of the
// best LCP and lies within these limits of the best motion; two later trials must find it.
constexpr float kConfirmShare = 0.65f;
constexpr int32_t kConfirmCount = 2;
constexpr float kConfirmDegrees = 10.0f;
constexpr float kConfirmSpacings = 5.0f;  // in run tolerances
constexpr int32_t kMaxTrials = 150;
// A polished candidate lays a point of Q on P's surface when it lies within this share of the
// working spacing of the tangent plane of P's nearest working point (a working point is the
// mean of a cell, so little noise remains) and their normals agree within these degrees.
constexpr double kOnSurfaceSpacings = 0.25;
constexpr double kOnSurfaceDegrees = 25;
constexpr double kPi = 3.14159265358979323846;
// Beyond this many working spacings in front of a scan's surface a point would have been seen.
constexpr double kFrontSpacings = 3;
// Flat or featureless scans let nearly every pair and quad through; beyond these counts a trial
// takes an even share of them (the bundled scans stay below them).
constexpr size_t kMaxPairs = 20000;
constexpr size_t kMaxQuads = 50000;
// Surface features: histograms over each of these many working spacings (matches found at one
// radius are missed at another), a match carried within this many, and this many of the motions
// with the most votes brought in by point-to-plane steps (their radii in working spacings, as
// the any-pose ICP's) and scored.
constexpr double kFeatureRadii[] = {3, 4, 5};
constexpr double kFeatureTolerance = 2;
constexpr size_t kFeatureMotions = 12;
constexpr double kFeatureStepRadii[] = {5, 5, 4, 4, 3, 3, 2};
constexpr int kFeatureSteps = 14;
constexpr double kFeatureSettle = 0.01;
// A best motion that later bases found again gives way only to a feature motion that scores
// this much more. On smooth parts a wrong motion and the right one score within a few percent
// of each other either way round; there the search's confirmation is the better evidence.
constexpr double kFeatureMargin = 1.2;
// A confirmed best that lays this share of Q on P's surface is left as it is: the scans share
// much, and feature motions that beat it by the margin were wrong wherever we measured.
constexpr double kFeatureSettledScore = 0.4;

// The exact search's squared radius: three quarters of the run tolerance, squared. (The
// specified search takes the tolerance itself as a squared radius, which only suits
// millimetre-sized spacings.) Each of the two intersection points carries its pair's sampling
// offsets, so they may lie most of a tolerance apart.
double exact_search_sq_radius(float run_tol) {
  constexpr double kIntersectionShare = 0.75;
  const double r = kIntersectionShare * static_cast<double>(run_tol);
  return r * r;
}

// Both scans as the search needs them, and what it derives from them.
struct Prepared {
  const AnyPoseScan& p;
  const AnyPoseScan& q;
  AnyPosePlan plan;
  std::optional<PointGrid> p_grid;  // over P's working set, for the quick polish
};

// The plan of two prepared scans (thinned by one cell of side `cell`) and the grid the quick
// polish asks.
Prepared plan(const AnyPoseScan& p, const AnyPoseScan& q, double cell,
              const AnyPoseOptions& options) {
  Prepared pr{p, q, plan_any_pose(p, q, options), std::nullopt};
  pr.p_grid.emplace(core::positions(p.working), polish_grid_radius(score_sq_radius(pr.plan)));
  if (options.debug)
    debug_any_pose_plan(cell, pr.plan.point_spacing, pr.plan.normal_spread, pr.plan.size);
  return pr;
}

// The search's parts that need no more than the scans and the plan.
struct AnyPoseParts {
  const SamePlace same_place;
  const CycledBases bases;
  const NormalAgreement normals{kNormalAgreement};
  const NotWherePolished not_where_polished{same_place};
  const PresampleScore presample{kLcpPresample};
  const ConfirmationStop stopping;
  const TrialRounds rounds;

  AnyPoseParts(const core::PointSet& q, const AnyPosePlan& plan, float run_tol, int threads)
      : same_place{centroid(q), kConfirmDegrees, kConfirmSpacings, run_tol},
        bases(plan.base_lengths, kFourthPointShare),
        stopping(plan.thr, kConfirmShare, kConfirmCount, same_place),
        rounds(threads) {}
};

// Where a working set saw empty space: along the axis its normals lie along most, in columns of
// its spacing.
FreeSpaceMap seen_space(const core::PointSet& working, double spacing) {
  double axis[3];
  principal_normal_axis(working, axis);
  return FreeSpaceMap(working, axis, spacing, kFrontSpacings);
}

// Polished candidates compete by how much of Q they lay on P's surface, in tolerances of the
// working sets' spacing.
struct SurfaceScoring {
  const FreeSpaceMap p_space, q_space;
  const SurfaceScorer scorer;

  explicit SurfaceScoring(const Prepared& pr)
      : p_space(seen_space(pr.p.working, pr.plan.neighbour_distance)),
        q_space(seen_space(pr.q.working, pr.plan.neighbour_distance)),
        scorer(pr.q.working, pr.p.working, *pr.p_grid, tolerances(pr.plan), p_space, q_space) {}

  static SurfaceTolerances tolerances(const AnyPosePlan& plan) {
    return {score_sq_radius(plan), kOnSurfaceSpacings * plan.neighbour_distance,
            std::cos(kOnSurfaceDegrees * kPi / 180)};
  }
};

// How feature motions are weighed against the search's best.
struct FeatureJudges {
  const Scorer& surface;  // what polished candidates compete by
  const Scorer& lcp;      // what alternatives report
  const SamePlace& same;
};

// Puts `m` in place of the result's best, which becomes the first alternative; alternatives in
// m's place go.
void adopt(const core::RigidTransform& m, const FeatureJudges& judges, EngineResult& result,
           const std::function<bool()>& stop) {
  std::vector<Alternative> alternatives;
  if (result.improved)
    alternatives.push_back({result.motion, judges.lcp.score(result.motion, 0, stop).value});
  for (const Alternative& a : result.alternatives)
    if (!judges.same(a.motion, m) && alternatives.size() < 3) alternatives.push_back(a);
  result.alternatives = std::move(alternatives);
  result.motion = m;
  result.improved = true;
  result.confirmed = false;
  result.confirmations = 0;
  result.by_features = true;
}

// A feature motion brought onto P's surface, and its score.
struct SteppedMotion {
  core::RigidTransform motion;
  double score = 0;
};

// Each of `motions` brought in by point-to-plane steps and scored, up to `threads` at once;
// the list is the same either way.
std::vector<SteppedMotion> step_and_score(const Prepared& pr, const Scorer& surface,
                                          const std::vector<FeatureMotion>& motions,
                                          const PlaneStepOptions& steps, int threads,
                                          const std::function<bool()>& stop) {
  std::vector<SteppedMotion> out(motions.size());
  std::atomic<size_t> next{0};
  // The stop hook belongs to this thread (it may poll the window); the other reads a flag.
  std::atomic<bool> stopped{false};
  const std::function<bool()> here = [&] {
    if (!stopped && stop && stop()) stopped = true;
    return stopped.load();
  };
  const std::function<bool()> there = [&] { return stopped.load(); };
  const auto some = [&](const std::function<bool()>& asked) {
    for (size_t i = next++; i < motions.size(); i = next++) {
      if (asked()) return;
      out[i].motion = plane_steps(pr.q.working, pr.p.working, *pr.p_grid, motions[i].motion, steps);
      out[i].score = surface.score(out[i].motion, 0, asked).value;
    }
  };
  core::side_by_side(
      motions.size() > 1 ? threads : 1, [&] { some(here); }, [&] { some(there); });
  return out;
}

// Motions from matched surface features compete with the search's best by the score polished
// candidates compete by: where the scans share only a strip, bases rarely fall inside it, but
// matched features do.
void weigh_feature_motions(const Prepared& pr, const FeatureJudges& judges, int threads,
                           const EngineHooks& hooks, EngineResult& result) {
  const core::Clock::time_point t0 = core::Clock::now();
  const double spacing = pr.plan.neighbour_distance;
  FeatureSettings settings{{}, kFeatureTolerance * spacing, kFeatureMotions, threads};
  for (const double r : kFeatureRadii) settings.radii.push_back(r * spacing);
  PlaneStepOptions steps;
  for (const double r : kFeatureStepRadii) steps.radii.push_back(r * spacing);
  steps.steps = kFeatureSteps;
  steps.min_cosine = std::cos(kOnSurfaceDegrees * kPi / 180);
  steps.settle = kFeatureSettle * spacing;
  const std::function<bool()>& stop = hooks.should_stop;
  double best = result.improved ? judges.surface.score(result.motion, 0, stop).value : 0;
  if (result.confirmed && best >= kFeatureSettledScore) {
    result.times.features = core::elapsed_ms(t0);
    return;
  }
  if (result.confirmed) best *= kFeatureMargin;
  const std::vector<SteppedMotion> stepped =
      step_and_score(pr, judges.surface, feature_motions(pr.p.working, pr.q.working, settings),
                     steps, threads, stop);
  // In order of votes: each must beat the best so far, which it may have just become.
  for (const SteppedMotion& m : stepped) {
    // A stop keeps the best so far, as a stop during the search does.
    if (stop && stop()) {
      result.stopped = true;
      break;
    }
    if (m.score > best && !judges.same(m.motion, result.motion)) {
      adopt(m.motion, judges, result, stop);
      best = m.score;
    }
  }
  result.times.features = core::elapsed_ms(t0);
}

EngineResult search(const Prepared& pr, const PolishSets& polish_sets,
                    const AnyPoseOptions& options, const EngineHooks& hooks, core::Random15& rng) {
  const int64_t start = core::tick_ms();
  const core::PointSet& p = pr.p.working;
  const core::PointSet& q = pr.q.working;
  const float run_tol = options.delta * pr.plan.point_spacing;
  const NearMask mask(core::positions(p),
                      std::sqrt(scoring_sq_radius(pr.plan.point_spacing, run_tol)));
  const core::Clock::time_point t0 = core::Clock::now();
  std::optional<PairTable> table;
  if (PairTable::fits(q.size())) table.emplace(q, run_tol, hooks.should_stop, options.threads);
  const double table_ms = core::elapsed_ms(t0);
  if (table && table->stopped()) {
    EngineResult stopped;
    stopped.stopped = true;
    stopped.times.pair_extraction = table_ms;
    return stopped;
  }

  const AnyPoseParts fixed(q, pr.plan, run_tol, options.threads);
  const ScanPairs scan_pairs(q, pr.plan.normal_tol);
  std::optional<TablePairs> table_pairs;
  if (table) table_pairs.emplace(*table, pr.plan.normal_tol, kMaxPairs);
  const ExactIntersectionQuads quads(q, exact_search_sq_radius(run_tol), table ? kMaxQuads : 0);
  const CongruentBases congruent(table ? static_cast<const PairSource&>(*table_pairs) : scan_pairs,
                                 quads, 1.0f);
  const MaskScorer scorer(q, mask);
  const QuickPolish polish(polish_sets, kPolishShare);
  const SurfaceScoring surface(pr);
  SearchParts parts;
  parts.bases = &fixed.bases;
  parts.candidates = &congruent;
  parts.checks = {&fixed.normals, &fixed.not_where_polished, &fixed.presample};
  parts.scorer = &scorer;
  parts.polish = &polish;
  parts.polished_scorer = &surface.scorer;
  parts.stopping = &fixed.stopping;
  parts.scheduling = &fixed.rounds;

  const int32_t trials = options.max_trials > 0 ? std::min(options.max_trials, kMaxTrials)
                                                : kMaxTrials;
  const RunSetup setup{parts, p, q, run_tol, trials, false};
  const TrialIO io{hooks, options.console, options.console_progress, options.debug};
  EngineResult result = run_search(setup, io, rng, false, start);
  result.times.pair_extraction += table_ms;
  if (!result.stopped && options.feature_motions)
    weigh_feature_motions(pr, {surface.scorer, scorer, fixed.same_place}, options.threads, hooks,
                          result);
  return result;
}

// The search over two prepared scans and the polish of its best motion against the full P;
// the reported LCP is `lcp` of that motion. `t0` is when the preparation began.
template <typename Lcp>
EngineResult search_and_polish(const Prepared& pr, const core::PointSet& full_p,
                               const AnyPoseOptions& options, const EngineHooks& hooks,
                               core::Random15& rng, core::Clock::time_point t0, Lcp&& lcp) {
  const double score_sq = score_sq_radius(pr.plan);
  const core::PointSet q_quick = quick_polish_sample(pr.q.working);
  const PolishSets sets{pr.q.working,   q_quick,         pr.p.working, *pr.p_grid,
                        full_p,         *pr.p.full_grid, score_sq,     pr.plan.neighbour_distance,
                        options.threads};
  const double prepare_ms = core::elapsed_ms(t0);

  EngineResult result = search(pr, sets, options, hooks, rng);
  result.times.normals = prepare_ms;
  if (!result.improved) return result;

  // A stopped run asks for the motion as it stands: no polish against the full P.
  t0 = core::Clock::now();
  if (!result.stopped) result.motion = polish_any_pose(sets, result.motion);
  result.best_lcp = static_cast<float>(lcp(result.motion, score_sq));
  result.times.polish += core::elapsed_ms(t0);
  if (hooks.on_improvement) hooks.on_improvement({result.motion, result.best_lcp});
  hooks.request_repaint();
  return result;
}

}  // namespace

namespace {

// A cell holds at least this many of P's points on average. Thinned to nearly all its points, a
// sparse P (a reference sampled coarsely, say) would be thinned by cells finer than its spacing,
// which its points leave mostly empty while a dense Q fills them: Q would then keep many times
// P's points, and the search's pairs grow with their square.
constexpr size_t kLeastPerCell = 2;
// Q keeps at most this many times P's working points: a small part of an object against a scan
// of the whole would otherwise keep the whole at P's fine cells.
constexpr size_t kMostWorkingShare = 4;

// The cell that thins P to about `target` points (to half its points when that is fewer),
// coarser where Q would keep far more.
double common_cell(const core::PointSet& full_p, const core::PointSet& full_q, size_t target) {
  target = std::min(target, full_p.size() / kLeastPerCell);
  const double cell = voxel_cell_for(full_p, target);
  const size_t most = kMostWorkingShare * target;
  // Every 4th point of a large Q counts cheaply, a little under the full count.
  const size_t stride = full_q.size() >= 16 * most ? 4 : 1;
  if (voxel_count(full_q, cell, stride) <= most) return cell;
  return std::max(cell, voxel_cell_for(full_q, most));
}

}  // namespace

// Thins both full scans by one grid, to about as many points as the user's working P (at most
// half of P's points, and Q to a few times that). Unlike a random draw the grid leaves no holes, so
// every part of each surface keeps a sample close to where the other scan's samples fall.
EngineResult run_any_pose(const AnyPoseInputs& inputs, const AnyPoseOptions& options,
                          const EngineHooks& hooks, core::Random15& rng) {
  const core::Clock::time_point t0 = core::Clock::now();
  const double cell = common_cell(inputs.full_p, inputs.full_q, inputs.model_p.size());
  AnyPoseScan p, q;
  core::side_by_side(
      options.threads,
      [&] { p = prepare_any_pose_scan(inputs.full_p, cell, true, inputs.full_p_grid); },
      [&] { q = prepare_any_pose_scan(inputs.full_q, cell, false); });
  // ANN's searches share global state: Q's index waits until P's side is done.
  q.index.build(q.working);
  const Prepared pr = plan(p, q, cell, options);
  // Reported like every run's LCP: over the working sets the window shows.
  return search_and_polish(
      pr, inputs.full_p, options, hooks, rng, t0,
      [&inputs](const core::RigidTransform& m, double score_sq) {
        return compute_lcp(inputs.model_q, inputs.p_index, m, score_sq, 0).value;
      });
}

EngineResult run_any_pose_prepared(const PreparedPair& pair, const AnyPoseOptions& options,
                                   const EngineHooks& hooks, core::Random15& rng) {
  const core::Clock::time_point t0 = core::Clock::now();
  const Prepared pr = plan(pair.p, pair.q, pair.cell, options);
  return search_and_polish(pr, pair.full_p, options, hooks, rng, t0,
                           [&pair](const core::RigidTransform& m, double score_sq) {
                             return compute_lcp(pair.q.working, pair.p.index, m, score_sq, 0).value;
                           });
}

}  // namespace kestrel::registration
