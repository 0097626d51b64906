#pragma once
// Where a scan saw empty space. A range scan looks at its object along one direction; in each
// column along it nothing lies in front of the nearest surface it recorded, or it would have
// recorded that instead. A motion that puts the other scan's points there is wrong, however much
// of the two surfaces it brings together: at low overlap that is what tells a right motion from
// a wrong one that merely covers more area.
// The direction is taken as the axis most normals lie along (a scanner samples the surfaces
// facing it densely and grazing ones sparsely). Its sign stays open: a motion is measured
// against both sides and keeps the smaller share.

#include <cstddef>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

class FreeSpaceMap {
 public:
  // The map of `scan` seen along `axis` (a unit vector), in square columns of twice `spacing`;
  // a point counts as in front of the surface beyond `front_spacings` spacings. An empty scan or
  // a zero axis gives a map that finds nothing in front.
  FreeSpaceMap(const core::PointSet& scan, const double axis[3], double spacing,
               double front_spacings);

  // The share of `points`, moved by `motion`, lying in front of the scan's surface in the
  // columns it covers, on the viewing side that gives the smaller share.
  double in_front_share(const core::PointSet& points, const core::RigidTransform& motion) const;

 private:
  // The column of (x, y, z) and its depth along the axis; false outside the map.
  bool column(const double x[3], size_t& cell, double& depth) const;

  double axis_[3] = {0, 0, 1}, e1_[3] = {1, 0, 0}, e2_[3] = {0, 1, 0};
  double lo_[2] = {0, 0};
  double cell_ = 1, tol_ = 0;
  size_t dims_[2] = {0, 0};
  std::vector<float> high_, low_;  // per column the depth of the surface on each side
};

// The axis most of the unit normals lie along (either sign): the principal direction of
// their scatter. Zero normals are left out; none gives (0, 0, 0).
void principal_normal_axis(const core::PointSet& with_normals, double axis[3]);

// How much of each scan a motion of Q onto P puts where the other saw empty space: the mean of
// the share of `q` in front of P's map and of `p` (moved back) in front of Q's. The points may
// be samples of the scans the maps were made of. The motion is rigid.
double free_space_violation(const FreeSpaceMap& p_map, const FreeSpaceMap& q_map,
                            const core::PointSet& p, const core::PointSet& q,
                            const core::RigidTransform& q_to_p);

}  // namespace kestrel::registration
