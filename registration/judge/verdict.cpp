#include "registration/judge/verdict.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <optional>

#include "core/side_by_side.h"
#include "registration/any_pose/half_turns.h"
#include "registration/any_pose/refine_motion.h"
#include "registration/any_pose/surface_icp.h"

namespace kestrel::registration {

namespace {

// Confident: enough of Q on P's surface to fix a motion, and nearly all of what lies near P on
// it. Wrong motions of real scans put at most a tenth of Q on P's surface, and under half of
// what they bring near it.
constexpr double kConfidentShare = 0.12;
constexpr double kConfidentOnSurface = 0.6;
// No match: almost nothing of Q on P's surface, or what lies near P mostly across it.
constexpr double kNoMatchShare = 0.03;
constexpr double kNoMatchOnSurface = 0.25;
// Confident: no more than this share of the scans where the other saw empty space.
constexpr double kConfidentEmptySpace = 0.02;
// Q held in place: points on P's surface whose normals leave no direction to slide or turn.
constexpr double kConfidentConstraint = 0.01;
// A rounded part holds Q more loosely: a fit is snug when what lies near P lies on it almost
// entirely and almost nothing in empty space. On its own that does not make a pair confident,
// since a nearly symmetric part fits snugly the wrong way round too; several such pairs that
// agree can (the assembly's triangles).
constexpr double kSnugConstraint = 0.001;
constexpr double kSnugOnSurface = 0.97;
constexpr double kSnugEmptySpace = 0.005;
// The result turned half a turn is a rival when it fits nearly as well.
constexpr double kTurnedRivalShare = 0.9;
constexpr double kTurnedRivalOnSurface = 0.05;
// An alternative that puts this share of the result's points on P's surface, as surely, fits
// about as well.
constexpr double kRivalShare = 0.7;
// Alternatives are measured when they scored at least this share of the best in the search.
constexpr double kContenderShare = 0.5;
// Settling: closest-point steps within these many spacings, coarse then fine (a wider first
// radius pulls Q along P where little of it overlaps); a motion that
// settles further than these from where it stood is not the one found.
constexpr double kSettleCoarseSpacings = 5;
constexpr double kSettleFineSpacings = 3;
constexpr int kSettleSteps = 15;
constexpr double kSettledDegrees = 3;
constexpr double kSettledSpacings = 6;

// The turn between two motions, in degrees.
double degrees_between(const core::RigidTransform& a, const core::RigidTransform& b) {
  double trace = 0;
  for (uint32_t i = 0; i < 3; ++i)
    for (uint32_t j = 0; j < 3; ++j) trace += a.R(i, j) * b.R(i, j);
  return std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0)) * 180 / M_PI;
}

// Where `motion` settles on P: closest-point steps of Q's sample against the full P.
core::RigidTransform settle(const FitScene& scene, const core::RigidTransform& motion) {
  RefineOptions options;
  options.iterations = kSettleSteps;
  options.settle = 0.01 * scene.spacing;
  double r = kSettleCoarseSpacings * scene.spacing;
  options.sq_radius = r * r;
  const core::RigidTransform coarse =
      refine_motion(scene.q_settle, scene.full_p, *scene.p_grid, motion, options).motion;
  r = kSettleFineSpacings * scene.spacing;
  options.sq_radius = r * r;
  return refine_motion(scene.q_settle, scene.full_p, *scene.p_grid, coarse, options).motion;
}

// How far Q's centroid moves between two motions.
double centroid_shift(const core::PointSet& q, const core::RigidTransform& a,
                      const core::RigidTransform& b) {
  core::Point3D c;
  for (const core::Point3D& p : q) c.x += p.x, c.y += p.y, c.z += p.z;
  const double n = q.empty() ? 1.0 : static_cast<double>(q.size());
  c.x /= n, c.y /= n, c.z /= n;
  core::Point3D ca = c, cb = c;
  core::transform_point(ca, a);
  core::transform_point(cb, b);
  return core::distance(ca, cb);
}

// The RMS distance between the sample of Q placed two ways: `a` moving `qa`, `b` moving `qb`
// (the same points of one scan, in two frames).
double placement_gap(const FitScene& scene, const core::PointSet& qa, const core::RigidTransform& a,
                     const core::PointSet& qb, const core::RigidTransform& b) {
  double sum = 0;
  for (const size_t i : scene.q_sample_index) {
    core::Point3D pa = qa[i], pb = qb[i];
    core::transform_point(pa, a);
    core::transform_point(pb, b);
    const double d = core::distance(pa, pb);
    sum += d * d;
  }
  return std::sqrt(sum / static_cast<double>(std::max<size_t>(1, scene.q_sample_index.size())));
}

// Whether the settled result turned half a turn about the patch it shares with P fits nearly as
// well: a part so symmetric that the scans cannot say which way round it lies.
bool turned_rival(const FitScene& scene, Judgement& j) {
  const std::optional<core::RigidTransform> turn = half_turn(scene, j.settled);
  if (!turn) return false;
  const core::RigidTransform settled = settle(scene, *turn);
  if (placement_gap(scene, scene.full_q, j.settled, scene.full_q, settled) <
      kSettledSpacings * scene.spacing)
    return false;  // it settled back
  const FitEvidence fit = evaluate_fit(scene, settled);
  const double on_surface = on_surface_share(fit);
  if (fit.fine_share < kTurnedRivalShare * j.fit.fine_share ||
      on_surface < j.on_surface - kTurnedRivalOnSurface || fit.empty_space > kConfidentEmptySpace)
    return false;
  j.alternatives.push_back({settled, fit.fine_share, on_surface, fit.constraint});
  return true;
}

}  // namespace

const char* verdict_name(Verdict verdict) {
  switch (verdict) {
    case Verdict::kConfident:
      return "confident";
    case Verdict::kUncertain:
      return "uncertain";
    case Verdict::kNoMatch:
      break;
  }
  return "no_match";
}

void at_most_uncertain(Judgement& j, const char* why) {
  if (j.verdict == Verdict::kConfident) j.verdict = Verdict::kUncertain;
  j.snug = false;
  j.reason += "; ";
  j.reason += why;
}

void found_by_features(Judgement& j) {
  if (j.verdict != Verdict::kNoMatch)
    at_most_uncertain(j, "found by matched surface features alone");
}

Judgement judge_fit(const FitEvidence& fit) {
  Judgement j;
  j.fit = fit;
  j.on_surface = on_surface_share(fit);
  j.snug = fit.fine_share >= kConfidentShare && j.on_surface >= kSnugOnSurface &&
           fit.empty_space <= kSnugEmptySpace && fit.constraint >= kSnugConstraint;
  if (fit.fine_share >= kConfidentShare && j.on_surface >= kConfidentOnSurface &&
      fit.constraint >= kConfidentConstraint && fit.empty_space <= kConfidentEmptySpace)
    j.verdict = Verdict::kConfident;
  else if (fit.fine_share < kNoMatchShare || j.on_surface < kNoMatchOnSurface)
    j.verdict = Verdict::kNoMatch;
  else
    j.verdict = Verdict::kUncertain;
  char line[200];
  std::snprintf(line, sizeof line,
                "%.2f of Q on P's surface, %.2f of Q near P, %.2f of that on the surface; "
                "held %.3f; %.3f in empty space; RMS %.3g, spacing %.3g",
                fit.fine_share, fit.near_share, j.on_surface, fit.constraint, fit.empty_space,
                fit.rms, fit.spacing);
  j.reason = line;
  return j;
}

Judgement judge_motion(const core::PointSet& full_p, const core::PointSet& full_q,
                       const core::RigidTransform& motion) {
  return judge_motion(FitScene(full_p, full_q), motion);
}

Judgement judge_motion(const FitScene& scene, const core::RigidTransform& motion) {
  if (!scene.usable) return no_motion_judgement("too few points to judge the fit");
  const core::RigidTransform settled = settle(scene, motion);
  Judgement j = judge_fit(evaluate_fit(scene, settled));
  j.settled = settled;
  j.settle_degrees = degrees_between(motion, settled);
  j.settle_shift = centroid_shift(scene.q_sample, motion, settled);
  const bool moved =
      j.settle_degrees > kSettledDegrees || j.settle_shift > kSettledSpacings * scene.spacing;
  if (moved && j.verdict == Verdict::kConfident) j.verdict = Verdict::kUncertain;
  j.snug = j.snug && !moved;
  char line[120];
  std::snprintf(line, sizeof line, "; settles %.2g degrees and %.3g away", j.settle_degrees,
                j.settle_shift);
  j.reason += line;
  // A small P laid right on a scan that covers far more has little of Q on it, but most of it
  // on Q: that is no proof of a match, and no proof against one either.
  if (j.verdict == Verdict::kNoMatch) {
    const double p_share = p_on_q_share(scene, settled);
    if (p_share >= kConfidentShare) {
      j.verdict = Verdict::kUncertain;
      char other[80];
      std::snprintf(other, sizeof other, "; yet %.2f of P on Q's surface", p_share);
      j.reason += other;
    }
  }
  if ((j.verdict == Verdict::kConfident || j.snug) && turned_rival(scene, j))
    at_most_uncertain(j, "it fits about as well turned half a turn");
  return j;
}

namespace {

// The search's contenders: alternatives that scored near the best. A rival scores near the best
// in the search too; measuring the others would cost time only.
std::vector<Alternative> contenders_of(const std::vector<Alternative>& alternatives,
                                       double best_score) {
  std::vector<Alternative> contenders;
  for (const Alternative& a : alternatives)
    if (a.score >= kContenderShare * best_score) contenders.push_back(a);
  return contenders;
}

// An alternative as it settles, measured.
struct SettledAlternative {
  core::RigidTransform motion;
  FitEvidence fit;
  double on_surface = 0;
};

SettledAlternative measured(const FitScene& scene, const core::RigidTransform& motion) {
  const FitEvidence fit = evaluate_fit(scene, motion);
  return {motion, fit, on_surface_share(fit)};
}

bool rivals_result(const Judgement& j, const SettledAlternative& a) {
  return a.fit.fine_share >= kRivalShare * j.fit.fine_share && a.on_surface >= kConfidentOnSurface;
}

// An alternative where closest-point steps settle it, measured: what weighing it begins with,
// which needs nothing of the judgement.
SettledAlternative first_settled(const FitScene& scene, const Alternative& a) {
  return measured(scene, settle(scene, a.motion));
}

// An alternative as it settles on the scene (from `s`, its first_settled), or nothing when it
// settles at the judged result (`q_judged` moved by j.settled).
std::optional<SettledAlternative> weigh_one(const Judgement& j, const FitScene& scene,
                                            const core::PointSet& q_judged, SettledAlternative s) {
  const auto at_result = [&](const core::RigidTransform& m) {
    return placement_gap(scene, q_judged, j.settled, scene.full_q, m) <
           kSettledSpacings * scene.spacing;
  };
  if (at_result(s.motion)) return std::nullopt;
  if (rivals_result(j, s)) {
    // Closest-point steps slide slowly where P holds Q loosely (a rounded part): a motion a
    // few degrees off the result may stop short of it. Steps along P's surface tell whether
    // it is the result again or a second fit.
    const SurfaceIcpResult r = settle_on_surface(scene, s.motion);
    if (r.ran && at_result(r.motion)) return std::nullopt;
    if (r.ran) s = measured(scene, r.motion);
  }
  return s;
}

// Hands out 0 .. n-1, each once, to whichever thread asks next.
class Handout {
 public:
  explicit Handout(size_t n) : n_(n) {}
  template <typename Work>
  void run(Work&& work) {
    for (size_t i = next_++; i < n_; i = next_++) work(i);
  }

 private:
  const size_t n_;
  std::atomic<size_t> next_{0};
};

// Runs work(i) for i = 0 .. n-1, each once, on up to `threads` threads.
template <typename Work>
void each_of(size_t n, int threads, Work&& work) {
  Handout handout(n);
  const auto some = [&] { handout.run(work); };
  core::side_by_side(n > 1 ? threads : 1, some, some);
}

// weigh_alternatives on a scene whose Q is Q as loaded, with the judged motion acting on
// `q_judged` (the same points, perhaps moved), from the contenders' first_settled when given.
// Each contender is measured on its own, up to `threads` at once; they are kept in their
// order, so the judgement is the same either way.
void weigh_on(Judgement& j, const FitScene& scene, const core::PointSet& q_judged,
              const std::vector<Alternative>& contenders, int threads,
              const std::vector<SettledAlternative>* first = nullptr) {
  std::vector<std::optional<SettledAlternative>> weighed(contenders.size());
  each_of(contenders.size(), threads, [&](size_t i) {
    weighed[i] =
        weigh_one(j, scene, q_judged, first ? (*first)[i] : first_settled(scene, contenders[i]));
  });
  int rivals = 0;
  for (size_t i = 0; i < contenders.size(); ++i) {
    if (!weighed[i]) continue;
    const SettledAlternative& s = *weighed[i];
    j.alternatives.push_back({contenders[i].motion, s.fit.fine_share, s.on_surface,
                              s.fit.constraint});
    rivals += rivals_result(j, s);
  }
  if (rivals > 0) at_most_uncertain(j, "another motion fits about as well");
}

}  // namespace

void weigh_alternatives(Judgement& j, const core::PointSet& full_p, const core::PointSet& q_judged,
                        const core::PointSet& q_as_loaded,
                        const std::vector<Alternative>& alternatives, double best_score,
                        int threads) {
  const std::vector<Alternative> contenders = contenders_of(alternatives, best_score);
  if (contenders.empty() || q_judged.size() != q_as_loaded.size()) return;
  const FitScene scene(full_p, q_as_loaded);
  if (!scene.usable) return;
  weigh_on(j, scene, q_judged, contenders, threads);
}

void weigh_alternatives(Judgement& j, const FitScene& scene,
                        const std::vector<Alternative>& alternatives, double best_score,
                        int threads) {
  const std::vector<Alternative> contenders = contenders_of(alternatives, best_score);
  if (contenders.empty() || !scene.usable) return;
  weigh_on(j, scene, scene.full_q, contenders, threads);
}

Judgement judge_and_weigh(const FitScene& scene, const core::RigidTransform& motion,
                          const std::vector<Alternative>& alternatives, double best_score,
                          int threads) {
  const std::vector<Alternative> contenders = contenders_of(alternatives, best_score);
  if (threads < 2 || contenders.empty() || !scene.usable) {
    Judgement j = judge_motion(scene, motion);
    weigh_alternatives(j, scene, alternatives, best_score, threads);
    return j;
  }
  // The contenders' first settling needs nothing of the judgement: it goes beside it.
  std::vector<SettledAlternative> first(contenders.size());
  Handout handout(contenders.size());
  const auto settle_some = [&] {
    handout.run([&](size_t i) { first[i] = first_settled(scene, contenders[i]); });
  };
  Judgement j;
  core::side_by_side(
      threads,
      [&] {
        j = judge_motion(scene, motion);
        settle_some();
      },
      settle_some);
  weigh_on(j, scene, scene.full_q, contenders, threads, &first);
  return j;
}

Judgement stopped_judgement() {
  Judgement j;
  j.verdict = Verdict::kUncertain;
  j.reason = "stopped before the search ended: the best motion so far, not measured";
  return j;
}

Judgement no_motion_judgement(const std::string& reason) {
  Judgement j;
  j.reason = reason;
  return j;
}

}  // namespace kestrel::registration
