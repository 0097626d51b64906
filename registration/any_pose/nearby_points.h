#pragma once
// The nearest point of a scan to each of a fixed set of moving points, asked again and again as
// they move a little (the steps of a refinement). Each moving point keeps a short list of the
// scan's points that lay about it when the list was made, and is answered from that list while
// the list still holds every point that could be the answer. On a scan of a million points the
// grid's cells lie scattered over tens of megabytes; the list lies together.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/point_set.h"
#include "registration/any_pose/point_grid.h"

namespace kestrel::registration {

class NearbyPoints {
 public:
  // For `count` moving points over the scan `p` and its grid; a list holds the points within
  // `reach` of where it was made.
  NearbyPoints(const core::PointSet& p, const PointGrid& grid, size_t count, double reach);

  // Moving point i, now at x: the answer of nearest_from (refine_motion.h) to the same
  // question, exactly, ties included. `near` is its hint, and becomes the answer.
  int nearest(size_t i, const core::Point3D& x, double sq_radius, int& near, double& d2);

 private:
  struct Candidate {
    double x, y, z;
    int index;
  };
  // A list's points lie in the pool at [first, first + count), in the grid's cell order (the
  // order it visits them in); a list made again takes its old room when that is large enough.
  struct List {
    bool made = false;
    bool crowded = false;  // too many points about it for a list: the grid answers
    double at[3] = {0, 0, 0};
    uint32_t first = 0, count = 0, room = 0;
  };
  void make(List& list, const core::Point3D& x);

  const core::PointSet& p_;
  const PointGrid& grid_;
  double reach_;
  std::vector<List> lists_;
  std::vector<Candidate> pool_;
  std::vector<Candidate> made_;  // the list being made
};

}  // namespace kestrel::registration
