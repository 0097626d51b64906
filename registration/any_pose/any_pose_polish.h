#pragma once
// The any-pose search's polish: a coarse motion from four matched points carries their sampling
// error, which closest-point steps over Q's working points remove. Candidates near the best get
// the quick polish against P's working set before they compete; the run's result then settles
// on the full P.

#include "core/point_set.h"
#include "core/rigid_transform.h"
#include "registration/any_pose/point_grid.h"
#include "registration/search/parts.h"

namespace kestrel::registration {

// The sets the polish pairs. All must outlive its use.
struct PolishSets {
  const core::PointSet& q;        // Q's working set
  const core::PointSet& q_quick;  // an even share of it: what the quick polish pairs
  const core::PointSet& p;        // P's working set
  const PointGrid& p_grid;        // over p, cells of polish_grid_radius
  const core::PointSet& full_p;   // P at full resolution
  const PointGrid& full_p_grid;   // over full_p
  double score_sq = 0;            // the search's squared scoring radius
  double neighbour_distance = 0;  // the working sets' spacing
  int threads = 1;                // 2: the quick polish's two runs go side by side
};

// The points of Q's working set that the quick polish pairs: every third. A polish only has to
// bring a candidate close enough to be scored fairly, and it runs for hundreds of candidates.
core::PointSet quick_polish_sample(const core::PointSet& q_working);

// The cell size of the grid over P's working set that the quick polish asks.
double polish_grid_radius(double score_sq);

// A few closest-point steps of Q's quick polish sample against P's working set: cheap enough
// for every candidate that scores near the best.
core::RigidTransform quick_polish(const PolishSets& sets, const core::RigidTransform& motion);

// The quick polish, then steps within half the scoring radius of the full P.
core::RigidTransform polish_any_pose(const PolishSets& sets, const core::RigidTransform& motion);

// The quick polish as a part of the search: candidates above `share` of the bar get it.
class QuickPolish : public Polish {
 public:
  QuickPolish(const PolishSets& sets, float share) : sets_(sets), share_(share) {}
  core::RigidTransform polish(const core::RigidTransform& motion) const override {
    return quick_polish(sets_, motion);
  }
  float share() const override { return share_; }
  bool thread_safe() const override { return true; }

 private:
  const PolishSets& sets_;
  float share_;
};

}  // namespace kestrel::registration
