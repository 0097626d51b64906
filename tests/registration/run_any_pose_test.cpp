// The any-pose entry point on its own: the full scans in, the motion out, whatever the turn,
// the same on one thread or two.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <future>
#include <memory>

#include "core/random15.h"
#include "registration/any_pose/surface_icp.h"
#include "registration/judge/fit_evidence.h"
#include "registration/registration.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

struct Turn {
  double ax, ay, az, degrees;
};

// A wavy patch with a bump off its centre, so that no turn maps it onto itself (normals are
// left to the search, which fits its own).
core::PointSet bumpy_patch(size_t n) {
  core::PointSet set = test::wavy_surface(n, 5);
  for (core::Point3D& p : set)
    p.z += 8 * std::exp(-((p.x - 20) * (p.x - 20) + (p.y - 10) * (p.y - 10)) / 200);
  return set;
}

// P: the patch; Q: its part beyond x = -20 (so the overlap is about 70 %), turned and moved.
// The working sets are every 10th point, as a loader with isamp 10 keeps them.
struct AnyPoseScene {
  core::PointSet full_p, full_q, model_p, model_q;
  AnnIndex p_index;
  core::DenseMatrix R;
  double t[3] = {40, -25, 10};

  explicit AnyPoseScene(const Turn& turn)
      : R(test::rotation(turn.ax, turn.ay, turn.az, turn.degrees)) {
    full_p = bumpy_patch(8000);
    core::PointSet part;
    for (const core::Point3D& pt : full_p)
      if (pt.x > -20) part.push_back(pt);
    full_q = test::moved(part, R, t);
    for (size_t i = 0; i < full_p.size(); i += 10) model_p.push_back(full_p[i]);
    for (size_t i = 0; i < full_q.size(); i += 10) model_q.push_back(full_q[i]);
    p_index.build(model_p);
  }
  AnyPoseInputs inputs(const GridToCome* p_grid = nullptr) const {
    return {full_p, full_q, model_p, p_index, model_q, p_grid};
  }
};

EngineResult run_once(const AnyPoseScene& scene, int threads, const GridToCome* p_grid = nullptr) {
  AnyPoseOptions options;
  options.threads = threads;
  options.console = false;
  core::Random15 rng;
  rng.seed(0);
  return run_any_pose(scene.inputs(p_grid), options, {}, rng);
}

TEST(RunAnyPose, FindsATurnedPartTheSameOnOneThreadOrTwo) {
  const Turn turns[] = {{0, 0, 1, 0}, {1, -2, 0.5, 120}, {0.3, 1, -1, 175}};
  for (const Turn& turn : turns) {
    SCOPED_TRACE(testing::Message() << "turned " << turn.degrees << " degrees");
    const AnyPoseScene scene(turn);
    const EngineResult one = run_once(scene, 1);
    const EngineResult two = run_once(scene, 2);
    ASSERT_TRUE(one.improved);
    // The found motion carries Q back: R_found = R^T (within a few degrees: the smooth patch lets
    // Q slide a little along it).
    EXPECT_LT(test::angle_between(one.motion.R, core::transpose(scene.R)), 3.0);
    EXPECT_GT(one.best_lcp, 0.6f);
    EXPECT_GT(one.times.normals, 0.0);
    test::expect_same_motion(one.motion, two.motion);
    EXPECT_EQ(one.best_lcp, two.best_lcp);
    EXPECT_EQ(one.trials, two.trials);
  }
}

// P much sparser than Q (a reference sampled coarsely against a full scan), or a small part of
// what Q covers: both are thinned by cells that P's points fill, Q to a few times P's working
// points, so Q's pairs stay as few as in a usual run.
TEST(RunAnyPose, ASparseOrSmallPAgainstALargerQThinsQAlike) {
  const Turn turn{1, -2, 0.5, 120};
  const AnyPoseScene usual(turn);
  const EngineResult normal = run_once(usual, 1);
  const auto per_trial = [](const EngineResult& r) {
    return static_cast<double>(r.counts.pairs_d1) / std::max(r.trials, 1);
  };
  for (const bool small : {false, true}) {
    SCOPED_TRACE(small ? "a small part of Q's surface" : "a sparse P");
    AnyPoseScene scene(turn);
    scene.full_p.clear();
    for (size_t i = 0; i < usual.full_p.size(); ++i) {
      const core::Point3D& pt = usual.full_p[i];
      if (small ? std::fabs(pt.x - 20) < 22 && std::fabs(pt.y - 10) < 22 : i % 20 == 0)
        scene.full_p.push_back(pt);
    }
    scene.model_p.clear();
    for (size_t i = 0; i < scene.full_p.size(); i += small ? 10 : 1)
      scene.model_p.push_back(scene.full_p[i]);
    scene.p_index.build(scene.model_p);
    core::PointSet q;  // the whole patch, or Q's part of it five times as densely
    for (const core::Point3D& pt : bumpy_patch(small ? 8000 : 40000))
      if (small || pt.x > -20) q.push_back(pt);
    scene.full_q = test::moved(q, scene.R, scene.t);
    const EngineResult r = run_once(scene, 1);
    ASSERT_TRUE(r.improved);
    EXPECT_LT(test::angle_between(r.motion.R, core::transpose(usual.R)), 3.0);
    EXPECT_LT(per_trial(r), 2 * per_trial(normal))
        << per_trial(r) << " pairs a trial against " << per_trial(normal);
  }
}

// The last improvement the hooks hear of is the polished result itself.
TEST(RunAnyPose, TheHooksHearOfThePolishedResultLast) {
  const AnyPoseScene scene({1, 1, 0, 60});
  AnyPoseOptions options;
  options.console = false;
  EngineHooks hooks;
  core::RigidTransform last;
  float last_lcp = -1;
  hooks.on_improvement = [&](const Improvement& i) {
    last = i.motion;
    last_lcp = i.lcp;
  };
  core::Random15 rng;
  rng.seed(0);
  const EngineResult r = run_any_pose(scene.inputs(), options, hooks, rng);
  ASSERT_TRUE(r.improved);
  EXPECT_EQ(last.R.data, r.motion.R.data);
  EXPECT_EQ(last_lcp, r.best_lcp);
}

// A grid over the full P built elsewhere, of any cell size, serves the search and a fit scene
// without changing an answer: every question they ask it has one answer whatever the cells.
TEST(RunAnyPose, AGridOfPBuiltElsewhereChangesNothing) {
  const AnyPoseScene scene({1, -2, 0.5, 120});
  const EngineResult own = run_once(scene, 2);
  ASSERT_TRUE(own.improved);
  const FitScene own_scene(scene.full_p, scene.full_q);
  const FitEvidence own_fit = evaluate_fit(own_scene, own.motion);
  const SurfaceIcpResult own_settled = settle_on_surface(own_scene, own.motion);
  const double cells[] = {0.3, 1, 2.5, 9};  // model units; the patch's spacing is about 1
  for (const double cell : cells) {
    SCOPED_TRACE(testing::Message() << "cell " << cell);
    std::promise<SharedGrid> made;
    const GridToCome grid = made.get_future().share();
    made.set_value(std::make_shared<const PointGrid>(scene.full_p, cell));
    const EngineResult shared = run_once(scene, 2, &grid);
    test::expect_same_motion(own.motion, shared.motion);
    EXPECT_EQ(own.best_lcp, shared.best_lcp);
    EXPECT_EQ(own.trials, shared.trials);
    const SceneGrids grids{grid.get(), std::make_shared<const PointGrid>(scene.full_q, cell)};
    const FitScene shared_scene(scene.full_p, scene.full_q, {}, {}, grids);
    EXPECT_EQ(shared_scene.p_grid.get(), grids.p.get());
    EXPECT_EQ(shared_scene.q_grid.get(), grids.q.get());
    const FitEvidence fit = evaluate_fit(shared_scene, own.motion);
    EXPECT_EQ(own_fit.fine_share, fit.fine_share);
    EXPECT_EQ(own_fit.near_share, fit.near_share);
    EXPECT_EQ(own_fit.rms, fit.rms);
    EXPECT_EQ(own_fit.empty_space, fit.empty_space);
    test::expect_same_motion(own_settled.motion,
                             settle_on_surface(shared_scene, own.motion).motion);
  }
}

}  // namespace
}  // namespace kestrel::registration
