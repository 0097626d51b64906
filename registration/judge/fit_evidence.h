#pragma once
// How well a motion lays Q on P, measured finely at full resolution, in units taken from the
// scans themselves: the share of Q that lies on P's surface (close to it, close to its tangent
// plane, with agreeing normals). Two smooth surfaces that merely cross share a band of points
// near each other, but few of those lie along P's tangent plane with P's normal; a right
// motion at low overlap puts a small share of Q there, but all of that share.

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/any_pose/point_grid.h"
#include "registration/judge/free_space.h"

namespace kestrel::registration {

struct FitOptions {
  size_t max_q_points = 3000;  // Q is asked at an even sample of at most this many points
  int neighbours = 12;         // points of each scan in a local plane fit
  double radius_spacings = 3;  // near: within this many of P's spacings of a point of P
  double plane_spacings = 1;   // on the surface: within this many spacings of the tangent plane
                               // (or three noise widths, when the scans are noisier)
  double normal_degrees = 25;  // normals agree within this angle (either sign)
  // A denser Q is measured through an even share of its points: its normals at the sample,
  // its spacing and its empty space need no more, and fitted over a wider patch than a dense
  // scan's dozen nearest points its normals are less noisy. P stays whole: its spacing sets
  // every tolerance.
  size_t max_q_share = 250000;
};

struct FitEvidence {
  size_t q_asked = 0;     // points of Q asked
  double spacing = 0;     // P's spacing: median distance of a point to its nearest other
  double noise = 0;       // P's noise: robust spread of its points about their local planes
  double radius = 0;      // the nearness radius used
  double plane_tol = 0;   // the tangent-plane tolerance used
  double near_share = 0;  // share of Q within the radius of P
  double fine_share = 0;  // share of Q on P's surface with agreeing normals
  double rms = 0;         // root mean square tangent-plane distance of those points
  // How firmly those points hold Q in place: the smallest eigenvalue of their point-to-plane
  // information (rotation about their centroid in units of their spread, and translation),
  // per point; near 0 where Q could slide or turn along P (a plane on a plane, a cylinder in a
  // cylinder), up to 1/3 for normals spread over every direction.
  double constraint = 0;
  // Share of the scans that the motion puts where the other saw empty space, in front of its
  // surface along its viewing direction (the mean of both ways; judge/free_space.h). Right
  // motions put a percent or so there, noise and grazing views included.
  double empty_space = 0;
};

// The grid over a full scan that a scene of it would build: cells of a few point spacings.
SharedGrid full_scan_grid(const core::PointSet& full, const std::function<bool()>& stop = {});

// Grids over the full scans built elsewhere, for a scene to share rather than build again (any
// cell size: the questions a scene asks have one answer whatever the cells).
struct SceneGrids {
  SharedGrid p;  // over full_p
  SharedGrid q;  // over full_q; taken only when Q is measured whole (options.max_q_share)
};

// The full scans with their search structures and P's scale, built once for every motion a
// judgement measures. `full_p` and `full_q` must outlive it.
struct FitScene {
  // A `stop` request (core/stop_check.h) while the grids are built leaves a scene that is not
  // usable.
  FitScene(const core::PointSet& full_p, const core::PointSet& full_q,
           const FitOptions& options = {}, const std::function<bool()>& stop = {},
           const SceneGrids& grids = {});

  const core::PointSet& full_p;
  const core::PointSet& full_q;
  FitOptions options;
  // Q as its grid holds it: the full scan, or an even share of it beyond options.max_q_share
  // (q_share; empty otherwise).
  core::PointSet q_share;
  const core::PointSet& q_points() const { return q_share.empty() ? full_q : q_share; }
  SharedGrid p_grid, q_grid;                     // over full_p and q_points()
  double spacing = 0, noise = 0;                 // P's, as in FitEvidence
  core::PointSet q_sample;                       // the even sample of full_q that is asked
  core::PointSet q_settle;                       // every third of it: what settling a motion pairs
  std::vector<size_t> q_sample_index;            // where each sample point stands in full_q
  // Q's unit normal at each sample point, fitted in Q's own frame once for every motion
  // measured; none where its neighbours span no plane.
  std::vector<std::optional<std::array<double, 3>>> q_normal;
  core::PointSet p_sample;                       // an even sample of P, as large as Q's
  std::optional<FreeSpaceMap> p_space, q_space;  // where each scan saw empty space
  bool usable = false;                           // both scans have enough points
};

// The row of a point-to-plane least-squares system: how the plane offset of a point at `d`
// (about the centre of the motion) with normal `n` changes with a small turn and shift.
inline void plane_row(const double d[3], const double n[3], double j[6]) {
  j[0] = d[1] * n[2] - d[2] * n[1];
  j[1] = d[2] * n[0] - d[0] * n[2];
  j[2] = d[0] * n[1] - d[1] * n[0];
  j[3] = n[0], j[4] = n[1], j[5] = n[2];
}

// The spacing and noise of `scan` (an even sample of it asked through `index`, a grid over its
// positions), as FitEvidence gives them.
void measure_scale(const core::PointSet& scan, const PointGrid& index, int k, FitEvidence& e);
double measure_spacing(const core::PointSet& scan, const PointGrid& index);

// The measure that chooses between two motions of one pair: Q on P's surface, less twice what
// lies where the other scan saw empty space.
inline double fit_score(const FitEvidence& e) { return e.fine_share - 2 * e.empty_space; }

// Of what lies near P, the share on its surface (0 when nothing does): surfaces that merely
// cross meet in a band where few points do.
inline double on_surface_share(const FitEvidence& e) {
  return e.near_share > 0 ? e.fine_share / e.near_share : 0;
}

// Measures `motion` (Q's coordinates into P's). Scans of fewer than `neighbours` points give an
// empty record (every share 0).
FitEvidence evaluate_fit(const FitScene& scene, const core::RigidTransform& motion);

// The same for scans used once.
FitEvidence evaluate_fit(const core::PointSet& full_p, const core::PointSet& full_q,
                         const core::RigidTransform& motion, const FitOptions& options = {});

// The share of P's sample that `motion` (Q onto P) lays on Q's surface, measured as Q is
// measured on P (near Q, along its tangent plane, normals agreeing). Where P is a small part of
// what Q covers, most of P lies on Q while little of Q lies on P.
double p_on_q_share(const FitScene& scene, const core::RigidTransform& motion);

}  // namespace kestrel::registration
