#pragma once
// Whether two motions put Q in about the same place: turned by less than a few degrees from
// each other, and Q's centroid within a few run tolerances. The confirmation stop and the check
// against re-polishing ask it.

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "core/point_set.h"
#include "core/rigid_transform.h"

namespace kestrel::registration {

struct SamePlace {
  SamePlace() = default;
  SamePlace(const std::array<double, 3>& centroid, float max_degrees, float max_tolerances,
            float tolerance);

  std::array<double, 3> q_centroid{};  // where the two motions are compared
  float degrees = 10;                  // at most this far turned from each other
  float tolerances = 5;                // and the centroids this many run tolerances apart
  float run_tol = 1;

  bool operator()(const core::RigidTransform& a, const core::RigidTransform& b) const;

  // A motion as the comparison reads it: its rotation, row by row, and where it puts `anchor`.
  struct Placed {
    double r[9];
    core::Point3D at;
  };
  static Placed placed(const std::array<double, 3>& anchor, const core::RigidTransform& m);
  // The comparison of two motions placed at q_centroid.
  bool same(const Placed& a, const Placed& b) const;

 private:
  // Whether rotations given by their entries, row by row, differ by at most `degrees`.
  bool turned_within(const double a[9], const double b[9]) const;
  // The cosine of `degrees`, taken once: the search asks for every candidate and every motion
  // it polished.
  double cos_limit_ = cos_of(10);
  static double cos_of(float max_degrees);
};

// The motions a search polished. Each is filed by the cell where it puts a point of Q (its
// centroid, say), so that asking whether a candidate lands where one of them did reads only the
// motions filed near where the candidate puts that point: the search asks it of every candidate,
// and a run polishes hundreds of them.
class PolishedMotions {
 public:
  PolishedMotions() = default;
  // `anchor`: the point of Q; `cell`: the side of the cells, in Q's units (> 0).
  PolishedMotions(const std::array<double, 3>& anchor, double cell);

  void add(const core::RigidTransform& motion);
  // Whether `same` holds for `motion` and one of the motions added: the answer of asking each
  // in turn.
  bool any_same(const SamePlace& same, const core::RigidTransform& motion) const;
  size_t size() const { return motions_.size(); }

 private:
  std::array<double, 3> anchor_{};
  double cell_ = 0;
  std::vector<core::RigidTransform> motions_;
  std::vector<SamePlace::Placed> placed_;                      // each motion at the anchor
  std::unordered_map<uint64_t, std::vector<uint32_t>> cells_;  // by cell of the moved anchor
  std::vector<uint32_t> unfiled_;  // motions that move the anchor beyond every cell

  // The cell where a motion puts the anchor; false when that lies beyond every cell.
  bool cell_of(const core::Point3D& at, std::array<int64_t, 3>& cell) const;
};

// The mean position of `set` (zero when empty).
std::array<double, 3> centroid(const core::PointSet& set);

}  // namespace kestrel::registration
