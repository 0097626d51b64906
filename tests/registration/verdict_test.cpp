// The verdict on a motion, measured on full scans: right motions are confident, crossing or
// sliding ones are not, and scans that share nothing are no match.

#include "registration/judge/verdict.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>

#include "core/dense_matrix.h"
#include "test_support.h"

namespace kestrel::registration {
namespace {

// A bumpy patch, dense enough to measure at full resolution (spacing about 1).
core::PointSet bumpy_patch(size_t n, uint32_t seed) {
  core::PointSet set = test::wavy_surface(n, seed);
  for (core::Point3D& p : set)
    p.z += 8 * std::exp(-((p.x - 20) * (p.x - 20) + (p.y - 10) * (p.y - 10)) / 200);
  return set;
}

// A flat square of points on z = 0, a grid of spacing 1 with a little jitter.
core::PointSet flat_square(int side) {
  core::PointSet set;
  for (int i = 0; i < side; ++i)
    for (int j = 0; j < side; ++j)
      set.push_back(test::point(i + 0.1 * std::sin(j), j + 0.1 * std::cos(i), 0));
  return set;
}

core::RigidTransform motion_of(const core::DenseMatrix& R, double tx, double ty, double tz) {
  return core::linear_motion(R, tx, ty, tz);
}

struct VerdictCase {
  const char* name;
  bool flat;        // the flat square instead of the bumpy patch
  double degrees;   // the judged motion's error: a turn about z ...
  double shift[3];  // ... and a shift
  bool far_q;       // Q taken from elsewhere (shares nothing with P)
  Verdict expected;
  bool or_no_match;  // uncertain or no match both acceptable
};

class Verdicts : public ::testing::TestWithParam<VerdictCase> {};

TEST_P(Verdicts, JudgeTheMotionAsAUserWould) {
  const VerdictCase& c = GetParam();
  const core::PointSet p = c.flat ? flat_square(90) : bumpy_patch(9000, 3);
  core::PointSet q;
  for (const core::Point3D& pt : p)
    if (c.far_q ? pt.x > 60 : pt.x > -20) q.push_back(pt);
  if (c.far_q) {  // a different patch, laid far off P
    q = bumpy_patch(3000, 11);
    for (core::Point3D& pt : q) pt.x += 300;
  }
  // Q is P's own points, so the right motion is the identity; the judged one errs by the case.
  const core::RigidTransform judged =
      motion_of(test::rotation(0, 0, 1, c.degrees), c.shift[0], c.shift[1], c.shift[2]);
  // On Q whole, and through an even third of Q's points, as a dense Q is measured.
  FitOptions shared;
  shared.max_q_share = q.size() / 3;
  for (const FitOptions& options : {FitOptions(), shared}) {
    const FitScene scene(p, q, options);
    EXPECT_EQ(scene.q_share.empty(), options.max_q_share == FitOptions().max_q_share);
    const Judgement j = judge_motion(scene, judged);
    if (c.or_no_match && j.verdict == Verdict::kNoMatch) continue;
    EXPECT_EQ(verdict_name(j.verdict), std::string(verdict_name(c.expected))) << j.reason;
    EXPECT_FALSE(j.reason.empty());
  }
}

const VerdictCase kCases[] = {
    {"right", false, 0, {0, 0, 0}, false, Verdict::kConfident, false},
    {"slightly_off_settles", false, 1, {0.5, -0.5, 0.3}, false, Verdict::kConfident, false},
    {"turned_across", false, 60, {0, 0, 5}, false, Verdict::kUncertain, true},
    {"far_off", false, 0, {0, 0, 40}, false, Verdict::kNoMatch, false},
    {"nothing_shared", false, 0, {0, 0, 0}, true, Verdict::kNoMatch, false},
    {"plane_on_plane_slides", true, 0, {20, 10, 0}, false, Verdict::kUncertain, false},
};

INSTANTIATE_TEST_SUITE_P(Judge, Verdicts, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<VerdictCase>& info) {
                           return std::string(info.param.name);
                         });

// Stray points (a scanner's flying pixels) scattered around one scan or both, and points
// written several times over (a mesh's vertices, once per face), say nothing of the motion: the
// right one stays confident, its measures as on the clean scans.
TEST(Verdict, StrayAndRepeatedPointsDoNotTipTheEvidence) {
  const core::PointSet clean_p = bumpy_patch(9000, 3);
  core::PointSet clean_q;
  for (const core::Point3D& pt : clean_p)
    if (pt.x > -20) clean_q.push_back(pt);
  const FitEvidence clean = evaluate_fit(FitScene(clean_p, clean_q), core::RigidTransform());
  const auto scatter = [](core::PointSet set, size_t count, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> across(-70, 70), deep(-40, 40);
    for (size_t k = 0; k < count; ++k)
      set.push_back(test::point(across(rng), across(rng), deep(rng)));
    return set;
  };
  const auto repeat = [](const core::PointSet& set, size_t times) {
    core::PointSet out;
    for (size_t k = 0; k < times; ++k) out.insert(out.end(), set.begin(), set.end());
    return out;
  };
  struct Row {
    const char* name;
    size_t strays_in_p, strays_in_q, copies_of_p, copies_of_q;
  };
  for (const Row& row : {Row{"strays_in_q", 0, 300, 1, 1}, Row{"strays_in_p", 450, 0, 1, 1},
                         Row{"strays_in_both", 450, 300, 1, 1}, Row{"q_twice", 0, 0, 1, 2},
                         Row{"both_six_times", 0, 0, 6, 6}}) {
    const core::PointSet p = repeat(scatter(clean_p, row.strays_in_p, 1), row.copies_of_p);
    const core::PointSet q = repeat(scatter(clean_q, row.strays_in_q, 2), row.copies_of_q);
    const FitScene scene(p, q);
    const FitEvidence e = evaluate_fit(scene, core::RigidTransform());
    EXPECT_NEAR(e.fine_share, clean.fine_share, 0.01) << row.name;
    EXPECT_NEAR(e.spacing, clean.spacing, 0.05 * clean.spacing) << row.name;
    EXPECT_LT(e.empty_space, clean.empty_space + 0.005) << row.name;
    const Judgement j = judge_motion(scene, core::RigidTransform());
    EXPECT_EQ(j.verdict, Verdict::kConfident) << row.name << ": " << j.reason;
  }
}

// A small part of an object laid right on a scan of the whole: little of Q lies on P, nearly
// all of P on Q. That is no match only when P lies on Q nowhere.
TEST(Verdict, ASmallPOnAWholeQIsNoMatchOnlyWhenItLiesOffQ) {
  const core::PointSet q = bumpy_patch(9000, 3);
  struct Row {
    const char* name;
    double radius;  // P: Q's points within this of (-30, 0)
    double lift;    // the judged motion lifts P's part of Q off it by this much
    Verdict expected;
  };
  for (const Row& row : {Row{"a 1 % part, right", 6, 0, Verdict::kUncertain},
                         Row{"a 2 % part, right", 8, 0, Verdict::kUncertain},
                         Row{"a 2 % part, lifted off", 8, 40, Verdict::kNoMatch}}) {
    core::PointSet p;
    for (const core::Point3D& pt : q)
      if (std::hypot(pt.x + 30, pt.y) < row.radius) p.push_back(pt);
    const Judgement j =
        judge_motion(FitScene(p, q), motion_of(test::rotation(0, 0, 1, 0), 0, 0, row.lift));
    EXPECT_EQ(verdict_name(j.verdict), std::string(verdict_name(row.expected)))
        << row.name << " (" << p.size() << " points): " << j.reason;
  }
}

TEST(Verdict, TooFewPointsAreNoMatchWithAReason) {
  const core::PointSet p = {test::point(0, 0, 0), test::point(1, 0, 0), test::point(0, 1, 0)};
  const Judgement j = judge_motion(p, p, {});
  EXPECT_EQ(j.verdict, Verdict::kNoMatch);
  EXPECT_NE(j.reason.find("too few"), std::string::npos) << j.reason;
}

TEST(Verdict, AStoppedSceneJudgesNothingAndAnUnstoppedOneAsAlways) {
  const core::PointSet p = bumpy_patch(6000, 3);
  struct Case {
    const char* name;
    std::function<bool()> stop;
    bool usable;
  };
  int asked = 0;
  const Case cases[] = {
      {"no hook", {}, true},
      {"never", [] { return false; }, true},
      {"at once", [] { return true; }, false},
      // Asked once by each grid's build at its start, so the Q grid's build stops.
      {"after the first grid", [&asked] { return ++asked > 1; }, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const FitScene scene(p, p, FitOptions(), c.stop);
    EXPECT_EQ(scene.usable, c.usable);
    const Judgement j = judge_motion(scene, {});
    EXPECT_EQ(j.verdict, c.usable ? Verdict::kConfident : Verdict::kNoMatch) << j.reason;
  }
}

// A smooth cap z = (x^2 + b y^2) / 120: a bowl that holds Q loosely, and with b = 1 not at all
// against a turn about its axis.
core::PointSet cap(double b) {
  core::PointSet set;
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> u(-40, 40);
  for (int k = 0; k < 9000; ++k) {
    const double x = u(rng), y = u(rng);
    set.push_back(test::point(x, y, (x * x + b * y * y) / 120));
  }
  return set;
}

// The search's other motions: one a few degrees off the result, on a part that holds Q loosely,
// is the result again (closest-point steps alone stop short of it); a turn about an axis of
// symmetry is a second fit, and the result is then no surer than uncertain.
TEST(Verdict, AnAlternativeIsARivalOnlyWhereItFitsElsewhere) {
  struct Case {
    const char* name;
    double b;        // the cap's shape
    double degrees;  // the alternative: the result turned about z
    bool listed;
    bool rival;
  };
  const Case cases[] = {
      {"the result itself", 1.3, 0, false, false},
      {"oval, 8 degrees off", 1.3, 8, false, false},
      {"oval, 12 degrees off", 1.3, 12, false, false},
      {"round, 12 degrees about its axis", 1, 12, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const core::PointSet p = cap(c.b);
    core::PointSet q;
    for (const core::Point3D& pt : p)
      if (pt.x > -10) q.push_back(pt);
    const FitScene scene(p, q);
    Judgement j = judge_motion(scene, {});
    const std::vector<Alternative> alternatives = {
        {motion_of(test::rotation(0, 0, 1, c.degrees), 0, 0, 0), 1.0}};
    weigh_alternatives(j, scene, alternatives, 1.0);
    EXPECT_EQ(j.alternatives.size(), c.listed ? 1u : 0u);
    EXPECT_EQ(j.reason.find("another motion fits") != std::string::npos, c.rival) << j.reason;
  }
}

// Contenders measured two at a time are listed and judged as one at a time lists them, in the
// search's order, whichever finishes first.
// Weighing on one thread or two, and judging with the alternatives' first steps beside the
// judgement, all come to one judgement.
TEST(Verdict, TwoThreadsWeighAlternativesAsOneDoes) {
  const core::PointSet p = cap(1);
  core::PointSet q;
  for (const core::Point3D& pt : p)
    if (pt.x > -10) q.push_back(pt);
  const FitScene scene(p, q);
  std::vector<Alternative> alternatives;
  for (const double degrees : {40.0, 0.0, 12.0, 90.0, 170.0})
    alternatives.push_back({motion_of(test::rotation(0, 0, 1, degrees), 0, 0, 0), 1.0});
  Judgement one = judge_motion(scene, {});
  weigh_alternatives(one, scene, alternatives, 1.0, 1);
  struct Way {
    const char* name;
    std::function<Judgement()> judge;
  };
  const Way ways[] = {
      {"weighed on two threads",
       [&] {
         Judgement j = judge_motion(scene, {});
         weigh_alternatives(j, scene, alternatives, 1.0, 2);
         return j;
       }},
      {"judged and weighed on one", [&] { return judge_and_weigh(scene, {}, alternatives, 1, 1); }},
      {"judged and weighed on two", [&] { return judge_and_weigh(scene, {}, alternatives, 1, 2); }},
  };
  EXPECT_GE(one.alternatives.size(), 3u);
  for (const Way& way : ways) {
    SCOPED_TRACE(way.name);
    const Judgement two = way.judge();
    ASSERT_EQ(one.alternatives.size(), two.alternatives.size());
    for (size_t i = 0; i < one.alternatives.size(); ++i) {
      EXPECT_EQ(one.alternatives[i].fine_share, two.alternatives[i].fine_share) << i;
      EXPECT_EQ(one.alternatives[i].motion.R(0, 1), two.alternatives[i].motion.R(0, 1)) << i;
    }
    EXPECT_EQ(one.reason, two.reason);
    EXPECT_EQ(one.verdict, two.verdict);
    EXPECT_EQ(one.settled.R.data, two.settled.R.data);
  }
}

// A motion that only matched surface features found keeps every verdict but confidence.
TEST(Verdict, AMotionFoundByFeaturesAloneIsAtMostUncertain) {
  struct Case {
    Verdict verdict;
    bool snug;
    Verdict expected;
  };
  const Case cases[] = {{Verdict::kConfident, true, Verdict::kUncertain},
                        {Verdict::kUncertain, true, Verdict::kUncertain},
                        {Verdict::kUncertain, false, Verdict::kUncertain},
                        {Verdict::kNoMatch, false, Verdict::kNoMatch}};
  for (const Case& c : cases) {
    Judgement j;
    j.verdict = c.verdict;
    j.snug = c.snug;
    j.reason = "figures";
    found_by_features(j);
    EXPECT_EQ(j.verdict, c.expected) << verdict_name(c.verdict);
    EXPECT_FALSE(j.snug) << verdict_name(c.verdict);
    if (c.verdict != Verdict::kNoMatch)
      EXPECT_EQ(j.reason, "figures; found by matched surface features alone");
  }
}

}  // namespace
}  // namespace kestrel::registration
