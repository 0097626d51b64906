#pragma once
// Every pair of Q bucketed by length, built once per run, so that each trial of the any-pose
// search reads only the pairs near the base's lengths instead of testing all of Q's pairs. Its
// pair test adds the angles each end's normal makes with the segment, which do not change with
// the pose either and prune most pairs that the normal difference alone lets through.

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "core/point_set.h"

namespace kestrel::registration {

class PairTable {
 public:
  // Tables Q's pairs in buckets `bucket` wide (the run tolerance); `q` must outlive the table.
  // With two `threads` each tables half of the rows; the table is the same. A `stop` request
  // (core/stop_check.h, asked from the calling thread only) leaves the table incomplete:
  // stopped() says so, and such a table must not be read.
  PairTable(const core::PointSet& q, double bucket, const std::function<bool()>& stop = {},
            int threads = 1);

  bool stopped() const { return stopped_; }

  // Whether a table of `n` points stays within memory (all n^2 / 2 pairs are kept).
  static bool fits(size_t n);

  // Replaces `pairs` with the ordered pairs (i, j) of Q that may stand for the base segment
  // (a, b): length within `tol` of |b - a|, normal difference within `normal_tol` of a's and
  // b's, and the normals' components along the segment within `normal_tol` of a's and b's along
  // theirs, all with one sign (a scan's normals may be flipped as a whole against the other's).
  // Strict tests; bucket by bucket, then in the order the pairs were tabled.
  void extract(const core::Point3D& a, const core::Point3D& b, double tol, double normal_tol,
               std::vector<core::IndexPair>& pairs) const;

 private:
  struct Entry {
    uint16_t i, j;  // i < j
    float length;
  };
  size_t bucket_of(float length) const {
    return static_cast<size_t>(static_cast<double>(length) / bucket_);
  }
  const core::PointSet& q_;
  double bucket_ = 1;
  std::unique_ptr<Entry[]> entries_;  // by bucket
  std::vector<uint32_t> start_;  // first entry of each bucket, plus an end
  bool stopped_ = false;
};

}  // namespace kestrel::registration
