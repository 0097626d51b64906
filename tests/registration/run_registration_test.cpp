// The run driver and the Kestrel trial on a synthetic surface whose Q is a moved part of P.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <vector>

#include "core/random15.h"
#include "registration/any_pose/point_grid.h"
#include "registration/registration.h"
#include "registration/search/base_schedules.h"
#include "registration/search/candidate_checks.h"
#include "registration/search/congruent_bases.h"
#include "registration/search/pair_sources.h"
#include "registration/search/quad_searches.h"
#include "registration/search/run_search.h"
#include "registration/search/run_trial.h"
#include "registration/search/same_place.h"
#include "registration/search/scorers.h"
#include "registration/search/stopping_rules.h"
#include "registration/search/trial_scheduling.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

using test::point;

// A search of the given parts (no checks).
SearchParts wired(const BaseSchedule& bases, const CandidateSource& candidates,
                  const Scorer& scorer, const StoppingRule& stopping,
                  const TrialScheduling& scheduling, const Polish* polish = nullptr) {
  SearchParts parts;
  parts.bases = &bases, parts.candidates = &candidates, parts.scorer = &scorer;
  parts.polish = polish, parts.stopping = &stopping, parts.scheduling = &scheduling;
  return parts;
}

// The specified search's parts over a scene, for tests that run single trials.
struct SpecifiedParts {
  const FixedBases bases;
  const ScanPairs pairs;
  const IntersectionQuads quads;
  const CongruentBases congruent;
  const AnnScorer scorer;
  const ThresholdStop stopping;
  const OneByOne scheduling;

  SpecifiedParts(const test::Scene& scene, const EngineOptions& o)
      : bases({o.margin, o.base_max_len, 10.0f}),
        pairs(scene.q, o.normal_tol),
        quads(scene.q, o.delta * scene.point_spacing),
        congruent(pairs, quads, o.scale_tol),
        scorer(scene.q, scene.p_index,
               scoring_sq_radius(scene.point_spacing, o.delta * scene.point_spacing)),
        stopping(o.thr) {}

  RunSetup setup(const test::Scene& scene, const EngineOptions& o) const {
    return {wired(bases, congruent, scorer, stopping, scheduling),
            scene.p,
            scene.q,
            o.delta * scene.point_spacing,
            o.num_try,
            false};
  }
};

struct RunRegistration : ::testing::Test {
  test::Scene scene;
  EngineOptions options;
  EngineHooks hooks;
  core::Random15 rng;
  core::DenseMatrix truth_R = test::rotation(1, -2, 0.5, 35);
  double truth_t[3] = {12, -30, 7};

  void SetUp() override {
    const core::PointSet p = test::wavy_surface(600, 1);
    core::PointSet part;
    for (const core::Point3D& pt : p)
      if (pt.x > -20) part.push_back(pt);
    test::load_models(scene, p, test::moved(part, truth_R, truth_t));
    test::refresh_like_program(options, 100);
  }
  // What the start action does before each run: seed the generator with 0.
  EngineResult run() {
    rng.seed(0);
    return run_kestrel(scene.inputs(), options, hooks, rng);
  }
};

// The recovered motion carries the moved Q back: it is the inverse of the displacement.
double rotation_error(const core::DenseMatrix& R, const core::DenseMatrix& truth) {
  return test::angle_between(R, core::transpose(truth));
}

TEST_F(RunRegistration, RecoversTheMotionAndStopsAboveThr) {
  options.thr = 0.99f;  // Q lies wholly on P
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_TRUE(r.improved);
  EXPECT_GT(r.best_lcp, options.thr);
  EXPECT_LT(r.trials, options.num_try);
  EXPECT_FALSE(r.stopped);
  EXPECT_LT(rotation_error(r.motion.R, truth_R), 5.0);
  EXPECT_NE(out.find("\rtrial 1("), std::string::npos);
  EXPECT_NE(out.find("\nTime: "), std::string::npos);
  // The counts add up: every scored candidate came from a congruent quad of the trials.
  EXPECT_GT(r.counts.pairs_d1, 0);
  EXPECT_GT(r.counts.pairs_d2, 0);
  EXPECT_GE(r.counts.quads, r.counts.candidates);
  EXPECT_GT(r.counts.candidates, 0);
  EXPECT_LE(r.counts.lcp_early_exits, r.counts.candidates);
  EXPECT_GE(r.times.lcp_scoring, 0.0);
  EXPECT_GE(r.times.motion_estimation, 0.0);
}

TEST_F(RunRegistration, SameInputsGiveTheSameMotionTwice) {
  ::testing::internal::CaptureStdout();
  const EngineResult first = run();
  const EngineResult second = run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(second.motion.R.data, first.motion.R.data);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(second.motion.c[k], first.motion.c[k]);
    EXPECT_EQ(second.motion.t[k], first.motion.t[k]);
  }
  EXPECT_EQ(second.best_lcp, first.best_lcp);
  EXPECT_EQ(second.trials, first.trials);
  EXPECT_EQ(second.counts.candidates, first.counts.candidates);
}

// Two engines with generators of their own, their trials interleaved through the stop hook,
// draw the same numbers and find the same motion as one engine alone.
TEST_F(RunRegistration, TwoEnginesSideBySideDrawTheSameNumbers) {
  options.console = false;
  const EngineResult alone = run();
  core::Random15 rng_a, rng_b;
  rng_a.seed(0);
  rng_b.seed(0);
  EngineHooks interleaved;
  EngineResult inner;
  bool started = false;
  interleaved.should_stop = [&] {
    if (!started) {
      started = true;
      inner = run_kestrel(scene.inputs(), options, {}, rng_b);
    }
    return false;
  };
  const EngineResult outer = run_kestrel(scene.inputs(), options, interleaved, rng_a);
  for (const EngineResult* r : {&outer, static_cast<const EngineResult*>(&inner)}) {
    EXPECT_EQ(r->motion.R.data, alone.motion.R.data);
    EXPECT_EQ(r->best_lcp, alone.best_lcp);
    EXPECT_EQ(r->trials, alone.trials);
  }
}

TEST_F(RunRegistration, NoTrialsFindNothingAndPrintTheTime) {
  options.num_try = 0;
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(r.trials, 0);
  EXPECT_FALSE(r.improved);
  EXPECT_EQ(r.motion.R.data, core::identity_matrix(3).data);
  EXPECT_EQ(out.rfind("\nTime: ", 0), 0u);
}

TEST_F(RunRegistration, ConsoleOffPrintsNothing) {
  options.console = false;
  ::testing::internal::CaptureStdout();
  run();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

TEST_F(RunRegistration, ThrOfOneNeverStopsEarly) {
  options.thr = 1.0f;
  options.num_try = 5;
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(run().trials, 5);
  ::testing::internal::GetCapturedStdout();
}

TEST_F(RunRegistration, EqualLcpIsNotAnImprovement) {
  // Q is a subset of P, so the true motion scores exactly 1; a trial entered with the best
  // already at 1 finds candidates but reports none.
  options.thr = 2.0f;
  const SpecifiedParts parts(scene, options);
  const RunSetup setup = parts.setup(scene, options);
  TrialIO quiet;
  quiet.console = false;
  Search search{setup, quiet, rng};
  int winning = 0;
  rng.seed(0);
  for (int k = 1; k <= 60 && winning == 0; ++k) {
    search.best.lcp = 0;
    Trial trial = search.trial();
    run_trial(trial);
    if (search.best.lcp == 1.0f) winning = k;
  }
  ASSERT_GT(winning, 0);
  // Replay up to the winning trial, entering each with the best already at 1.
  int improvements = 0, repaints = 0;
  TrialIO counting = quiet;
  counting.hooks.repaint = [&repaints] { ++repaints; };
  counting.hooks.on_improvement = [&improvements](const Improvement&) { ++improvements; };
  Search replay{setup, counting, rng};
  rng.seed(0);
  for (int k = 1; k <= winning; ++k) {
    replay.best.lcp = 1.0f;
    Trial trial = replay.trial();
    run_trial(trial);
    EXPECT_EQ(replay.best.lcp, 1.0f);
  }
  EXPECT_EQ(improvements, 0);
  EXPECT_FALSE(replay.best.improved);
  EXPECT_GT(repaints, 0);  // the candidates were evaluated
  EXPECT_GT(replay.tally.counts.candidates, 0);
}

TEST_F(RunRegistration, HooksSeeTheProgressTheBaseAndEveryImprovement) {
  std::vector<std::string> texts;
  std::vector<float> lcps;
  int bases = 0;
  hooks.on_progress = [&texts](const std::string& line) { texts.push_back(line); };
  hooks.on_base = [&bases](const core::PointSet& base) { bases += base.size() == 4 ? 1 : 100; };
  hooks.on_improvement = [&lcps](const Improvement& i) { lcps.push_back(i.lcp); };
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  ::testing::internal::GetCapturedStdout();
  ASSERT_FALSE(texts.empty());
  EXPECT_NE(texts[0].find(" 0.0%"), std::string::npos) << texts[0];
  EXPECT_EQ(texts[0].rfind("trial ", 0), 0u);
  EXPECT_GE(bases, 1);
  EXPECT_LE(bases, r.trials);
  ASSERT_FALSE(lcps.empty());
  EXPECT_TRUE(std::is_sorted(lcps.begin(), lcps.end()));
  EXPECT_EQ(lcps.back(), r.best_lcp);
}

// Each trial opens with a step whose candidates are not yet known, its candidate steps stay
// within the trial, and the run closes with one step marked done.
TEST_F(RunRegistration, StepsFollowTheTrialsAndEndWithDone) {
  std::vector<ProgressPoint> steps;
  hooks.on_step = [&steps](const ProgressPoint& at) { steps.push_back(at); };
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  ::testing::internal::GetCapturedStdout();
  ASSERT_GE(steps.size(), 3u);
  EXPECT_EQ(steps.front().trial, 1);
  EXPECT_EQ(steps.front().count, 0u);
  EXPECT_TRUE(steps.back().done);
  EXPECT_EQ(steps.back().trial, r.trials);
  EXPECT_EQ(steps.back().lcp, r.best_lcp);
  int trial_starts = 0;
  for (size_t k = 0; k + 1 < steps.size(); ++k) {
    const ProgressPoint& at = steps[k];
    EXPECT_FALSE(at.done) << "step " << k;
    EXPECT_EQ(at.num_try, options.num_try);
    if (at.count == 0) {
      ++trial_starts;
      EXPECT_EQ(at.trial, trial_starts) << "step " << k;
    } else {
      EXPECT_LT(at.pos, at.count) << "step " << k;
      EXPECT_EQ(at.trial, trial_starts) << "step " << k;
    }
    if (k > 0) EXPECT_GE(at.lcp, steps[k - 1].lcp) << "step " << k;
  }
  EXPECT_EQ(trial_starts, r.trials);
}

// Without its progress lines the console still gets the closing time, and the steps still come.
TEST_F(RunRegistration, ConsoleProgressOffKeepsOnlyTheTime) {
  options.console_progress = false;
  int steps = 0;
  hooks.on_step = [&steps](const ProgressPoint&) { ++steps; };
  ::testing::internal::CaptureStdout();
  run();
  const std::string out = ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(out.find("trial"), std::string::npos) << out;
  EXPECT_EQ(out.rfind("\nTime: ", 0), 0u) << out;
  EXPECT_GT(steps, 1);
}

TEST_F(RunRegistration, StopHookEndsTheRunAtTheNextCandidate) {
  int polls = 0, improvements = 0;
  hooks.should_stop = [&polls] { return ++polls == 1; };
  hooks.on_improvement = [&improvements](const Improvement&) { ++improvements; };
  ::testing::internal::CaptureStdout();
  const EngineResult r = run();
  ::testing::internal::GetCapturedStdout();
  EXPECT_EQ(polls, 1);
  EXPECT_TRUE(r.stopped);
  EXPECT_FALSE(r.improved);
  EXPECT_EQ(improvements, 0);
}

// Trials that find no candidate still hear a stop: from the pair scan inside them, and between
// them; the hook is not asked again once it said stop.
TEST_F(RunRegistration, StopHookIsSeenInAndBetweenTrialsThatFindNoCandidate) {
  options.normal_tol = -1;  // no pair of Q passes: no trial reaches a candidate
  options.num_try = 1000;
  options.console = false;
  int polls = 0;
  hooks.should_stop = [&polls] { return ++polls == 3; };
  const EngineResult r = run();
  EXPECT_EQ(polls, 3);
  EXPECT_GE(r.trials, 1);
  EXPECT_LE(r.trials, 3);
  EXPECT_EQ(r.counts.candidates, 0);
  EXPECT_TRUE(r.stopped);
}

TEST_F(RunRegistration, AffineModeStillAlignsASlightlyScaledQ) {
  for (core::Point3D& p : scene.q) {
    p.x *= 1.01;
    p.y *= 1.01;
    p.z *= 1.01;
  }
  options.scale_tol = 0.99f;
  ::testing::internal::CaptureStdout();
  EXPECT_GT(run().best_lcp, options.thr);
  ::testing::internal::GetCapturedStdout();
}

TEST_F(RunRegistration, EmptyOrUnusableInputsEndQuietly) {
  options.num_try = 3;
  options.console = false;
  const core::PointSet q = scene.q;
  scene.q.clear();  // empty Q: no pairs
  EXPECT_FALSE(run().improved);
  scene.q = q;
  options.margin = 3;  // no region: every trial fails to find a base
  const EngineResult r = run();
  EXPECT_EQ(r.trials, 3);
  EXPECT_FALSE(r.improved);
}

// ---------------------------------------------------------------- select_p_region

TEST(SelectPRegion, ModesTakeTheSmallestOrLargestX) {
  core::PointSet p;
  for (int k = 0; k < 10; ++k) p.push_back(point((k * 7) % 10, k, 0));  // x: 0,7,4,1,8,5,2,9,6,3
  const core::PointSet low = select_p_region(p, 2, 2);
  ASSERT_EQ(low.size(), 2u);
  EXPECT_EQ(low[0].x, 0);
  EXPECT_EQ(low[1].x, 1);
  const core::PointSet high = select_p_region(p, 1, 2);
  ASSERT_EQ(high.size(), 2u);
  EXPECT_EQ(high[0].x, 9);
  EXPECT_EQ(high[1].x, 8);
  EXPECT_TRUE(select_p_region(p, 3, 2).empty());
  EXPECT_TRUE(select_p_region(p, 0, 2).empty());
  EXPECT_EQ(select_p_region(p, 1, 50).size(), 10u);
}

TEST(SelectPRegion, TiesAreOrderedByYThenZ) {
  const core::PointSet p = {point(1, 5, 0), point(1, 2, 9), point(1, 2, 3), point(0, 9, 9)};
  const core::PointSet low = select_p_region(p, 2, 4);
  EXPECT_EQ(low[0].x, 0);
  EXPECT_EQ(low[1].z, 3);
  EXPECT_EQ(low[2].z, 9);
  EXPECT_EQ(low[3].y, 5);
}

// The parts a second thread may run (the exact quad search and a grid scorer) over a scene.
struct ThreadSafeParts {
  const float run_tol;
  const float sq_radius;
  const FixedBases bases;
  const ScanPairs pairs;
  const ExactIntersectionQuads quads;
  const CongruentBases congruent;
  const PointGrid grid;
  const GridScorer scorer;
  const SamePlace same_place;

  ThreadSafeParts(const test::Scene& scene, const EngineOptions& o)
      : run_tol(o.delta * scene.point_spacing),
        sq_radius(scoring_sq_radius(scene.point_spacing, run_tol)),
        bases({0, o.base_max_len, 10.0f}),
        pairs(scene.q, o.normal_tol),
        quads(scene.q, 0.5625 * run_tol * run_tol, 0),
        congruent(pairs, quads, 1.0f),
        grid(core::positions(scene.p), std::sqrt(static_cast<double>(sq_radius))),
        scorer(scene.q, grid, sq_radius),
        same_place{centroid(scene.q), 10, 5, run_tol} {}

  SearchParts parts(const Polish& polish, const StoppingRule& stopping,
                    const TrialScheduling& scheduling) const {
    return wired(bases, congruent, scorer, stopping, scheduling, &polish);
  }
};

// Trials two at a time: the second trial of each round on its own thread or after the first,
// the same motion, LCP, trial count and counts; a polish (here a no-op that counts) is asked
// from both threads.
struct CountingPolish : Polish {
  mutable std::atomic<int> calls{0};
  core::RigidTransform polish(const core::RigidTransform& motion) const override {
    ++calls;
    return motion;
  }
  float share() const override { return 0.6f; }
  bool thread_safe() const override { return true; }
};

TEST_F(RunRegistration, TrialRoundsGiveTheSameRunOnOneThreadOrTwo) {
  options.thr = 2.0f;  // only the confirmation or the trial count ends the run
  options.num_try = 12;
  const ThreadSafeParts made(scene, options);
  const ConfirmationStop stopping(options.thr, 0.65f, 2, made.same_place);
  const CountingPolish polish;
  int improvements = 0;
  TrialIO io;
  io.console = false;
  io.hooks.on_improvement = [&improvements](const Improvement&) { ++improvements; };
  EngineResult runs[2];
  int polished[2];
  for (int threads : {1, 2}) {
    const TrialRounds rounds(threads);
    const RunSetup setup{made.parts(polish, stopping, rounds),
                         scene.p,
                         scene.q,
                         made.run_tol,
                         options.num_try,
                         false};
    polish.calls = 0;
    rng.seed(0);
    runs[threads - 1] = run_search(setup, io, rng, true, 0);
    polished[threads - 1] = polish.calls;
  }
  const EngineResult &one = runs[0], &two = runs[1];
  EXPECT_TRUE(one.improved);
  EXPECT_GT(improvements, 0);
  EXPECT_EQ(one.trials, two.trials);
  EXPECT_EQ(one.best_lcp, two.best_lcp);
  EXPECT_EQ(one.confirmed, two.confirmed);
  EXPECT_EQ(one.motion.R.data, two.motion.R.data);
  for (int k = 0; k < 3; ++k) {
    EXPECT_EQ(one.motion.t[k], two.motion.t[k]);
    EXPECT_EQ(one.motion.c[k], two.motion.c[k]);
  }
  EXPECT_EQ(one.counts.candidates, two.counts.candidates);
  EXPECT_EQ(one.counts.quads, two.counts.quads);
  EXPECT_EQ(one.counts.polished, polished[0]);
  EXPECT_EQ(polished[0], polished[1]);
}

// Candidates found ahead for a trial are those the trial finds itself: the base, the quads, the
// counts and the generator after them. A trial takes them only for the base it draws; stale
// ones, for another base, are left alone, and either way the trial judges the same candidates.
TEST_F(RunRegistration, CandidatesFoundAheadAreTheTrialsOwn) {
  options.thr = 2.0f;
  const ThreadSafeParts made(scene, options);
  const ThresholdStop stopping(options.thr);
  const CountingPolish polish;
  const OneByOne one_by_one;
  const RunSetup setup{made.parts(polish, stopping, one_by_one),
                       scene.p,
                       scene.q,
                       made.run_tol,
                       options.num_try,
                       false};
  struct Case {
    int32_t index;
    unsigned seed;
    bool stale;  // the lookahead was found for another seed
  };
  const Case cases[] = {{0, 1, false}, {3, 77, false}, {5, 12345, false}, {2, 1, true}};
  TrialIO io;
  io.console = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "trial " << c.index << " seed " << c.seed);
    Lookahead ahead;
    find_ahead(setup, c.index, c.stale ? c.seed + 1 : c.seed, {}, ahead);
    ASSERT_TRUE(ahead.ready);
    const Lookahead found = ahead;
    // The trial as a round runs it: with and without what was found ahead.
    Tally tallies[2];
    BestSoFar bests[2];
    core::Random15 after[2];
    for (int with = 0; with < 2; ++with) {
      core::Random15 trial_rng;
      trial_rng.seed(c.seed);
      bool first_selection = false;
      tallies[with].trials = c.index;
      Trial trial{setup,         io,
                  trial_rng,     bests[with],
                  tallies[with], first_selection,
                  nullptr,       with ? &ahead : nullptr};
      run_trial(trial);
      after[with] = trial_rng;
    }
    EXPECT_EQ(ahead.ready, c.stale);  // taken unless stale
    EXPECT_EQ(tallies[0].counts.quads, tallies[1].counts.quads);
    EXPECT_EQ(tallies[0].counts.pairs_d1, tallies[1].counts.pairs_d1);
    EXPECT_EQ(tallies[0].counts.candidates, tallies[1].counts.candidates);
    EXPECT_EQ(bests[0].findings.size(), bests[1].findings.size());
    EXPECT_EQ(bests[0].lcp, bests[1].lcp);
    EXPECT_EQ(after[0].state, after[1].state);
    if (!c.stale) {
      EXPECT_EQ(found.tally.counts.quads, tallies[0].counts.quads);
      EXPECT_EQ(found.candidates.count, found.candidates.quads.size());
      EXPECT_EQ(found.rng_after.state, after[0].state);
    }
  }
}

// A polish that sends every candidate far off (so none is ever the best, and each clears the
// entry bar) and records where each started.
struct FarPolish : Polish {
  mutable std::vector<core::RigidTransform> starts;
  core::RigidTransform polish(const core::RigidTransform& motion) const override {
    starts.push_back(motion);
    core::RigidTransform far = motion;
    far.t[0] += 1e4;
    return far;
  }
  float share() const override { return 0.6f; }
  bool thread_safe() const override { return false; }
};

// Many candidates of a trial land where another one did. Once one of them was polished, the
// others would polish to where it went, so none is polished again, in that trial or a later
// one; two trials of one round, which share what they polished only once both are done, may
// each polish a place once. Without the polish check, places are polished again and again.
TEST_F(RunRegistration, NoCandidateIsPolishedWhereAnEarlierPolishStarted) {
  options.thr = 2.0f;
  options.num_try = 8;
  const ThreadSafeParts made(scene, options);
  const SamePlace& same_place = made.same_place;
  const NotWherePolished not_where_polished{same_place};
  const ThresholdStop stopping(options.thr);
  const OneByOne one_by_one;
  const TrialRounds rounds(1);
  struct Case {
    const char* name;
    const TrialScheduling* scheduling;
    bool checked;
    int most_repeated;  // earlier starts that one start may land on
  };
  const Case cases[] = {{"one by one", &one_by_one, true, 0},
                        {"in rounds of two", &rounds, true, 1},
                        {"unchecked", &one_by_one, false, -1}};
  TrialIO io;
  io.console = false;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FarPolish polish;
    SearchParts parts = made.parts(polish, stopping, *c.scheduling);
    if (c.checked) parts.checks = {&not_where_polished};
    const RunSetup setup{parts, scene.p, scene.q, made.run_tol, options.num_try, false};
    rng.seed(0);
    const EngineResult run = run_search(setup, io, rng, true, 0);
    int most = 0;
    for (size_t j = 0; j < polish.starts.size(); ++j) {
      int repeats = 0;
      for (size_t i = 0; i < j; ++i) repeats += same_place(polish.starts[i], polish.starts[j]);
      most = std::max(most, repeats);
    }
    EXPECT_GE(polish.starts.size(), 2u);
    if (c.checked) {
      EXPECT_LE(most, c.most_repeated);
      EXPECT_GT(run.counts.near_polished, 0);
    } else {
      EXPECT_GT(most, 1);
    }
  }
}

}  // namespace
}  // namespace kestrel::registration
