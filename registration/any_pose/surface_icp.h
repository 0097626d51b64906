#pragma once
// The any-pose mode's ICP: point-to-plane steps of an even sample of Q against P's full
// surface, pairing a point of Q only with P's nearest point within a radius that shrinks from a
// few of P's spacings to two. At low overlap most of Q lies off P; a fixed radius in P's own
// units keeps those points out of the fit, where a rule relative to the pairs' distances lets
// them drag the motion along the surface. Steps from other starts (another ICP's result, say,
// whose wide reach catches a motion found far off) compete: the one that fits best
// (judge/fit_evidence.h) is kept.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/judge/fit_evidence.h"

namespace kestrel::registration {

struct SurfaceIcpOptions {
  // Pairing radii of the steps in P's spacings; the last is kept until the motion settles.
  std::vector<double> radii = {5, 5, 4, 4, 3, 3, 2};
  int max_steps = 30;
  // A run from another start is kept when its fit beats the first's by this margin.
  double other_margin = 0.02;
  size_t max_q_points = 5000;  // Q is represented by an even sample of at most this many
  size_t min_pairs = 12;        // a step with fewer pairs ends the refinement
  // A step at the last radius that moves the sample by less than this share of P's spacing
  // (root mean square) ends it.
  double settle_share = 0.001;
  // Also start from the best fit turned half a turn about the patch it shares with P
  // (any_pose/half_turns.h): a rounded part fits itself turned about its own surface.
  bool half_turn = true;
  // Threads that pair the sample in settle_on_surface (1 or 2; the same result either way).
  int threads = 1;
};

struct SurfaceIcpResult {
  bool ran = false;      // false when refused or stopped; Q is then to stay where it is
  bool stopped = false;  // a stop request ended it
  std::string message;   // why it did not run, or why it left Q where it was
  core::RigidTransform motion;  // carries Q's current coordinates onto P (rigid, s = 1)
  double rms = 0;               // root mean square point-to-plane distance of the last pairs
  size_t pairs = 0;             // pairs of the last step
  int steps = 0;                // steps that moved Q
};

// Refines where `full_q` lies on `full_p` (both in P's coordinates), from where it lies and
// from each of `starts` (motions of Q's points as they lie), keeping the best fit (Q on P's
// surface, less what lies where the other scan saw empty space) unless another beats the first
// by options.other_margin. Refuses scans too small to fit planes to. `stop` (core/stop_check.h) is polled before each step and through the
// pairing; a stop request gives `stopped` and no motion. Single-threaded and deterministic.
SurfaceIcpResult refine_on_surface(const core::PointSet& full_p, const core::PointSet& full_q,
                                   const std::function<bool()>& stop = {},
                                   const SurfaceIcpOptions& options = {},
                                   const std::vector<core::RigidTransform>& starts = {});

// One refinement on a scene built once for several measures (the verdict's too): the steps from
// `start`, a motion of the scene's Q (Q as loaded), with normals fitted for this run alone, so
// that runs from several starts may go side by side. The motion found moves the scene's Q. The
// steps pair an even sample of options.max_q_points.
SurfaceIcpResult settle_on_surface(const FitScene& scene, const core::RigidTransform& start,
                                   const std::function<bool()>& stop = {},
                                   const SurfaceIcpOptions& options = {});

// Of two runs on one scene, `first`, unless `other` settled elsewhere and fits better (Q on P's
// surface, less what lies where the other scan saw empty space) by options.other_margin, and,
// when it started `turned` (half_turns.h), lays what it brings near P on P's surface as wholly.
// A run that did not end with a motion never wins over one that did.
const SurfaceIcpResult& better_fit(const FitScene& scene, const SurfaceIcpResult& first,
                                   const SurfaceIcpResult& other,
                                   const SurfaceIcpOptions& options = {}, bool turned = false);

// `best`, or the run from it turned half a turn about the patch it shares with P when that fits
// better (with options.half_turn; a rounded part fits itself turned about its own surface).
SurfaceIcpResult with_half_turn(const FitScene& scene, const SurfaceIcpResult& best,
                                const std::function<bool()>& stop = {},
                                const SurfaceIcpOptions& options = {});

}  // namespace kestrel::registration
