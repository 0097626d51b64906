#pragma once
// Where a trial's pairs come from: a pass over all of Q's pairs (the specified search), or the
// table of Q's pairs by length built once per run (the any-pose search).

#include <cstddef>

#include "registration/any_pose/pair_table.h"
#include "registration/search/parts.h"

namespace kestrel::registration {

// Every pair of Q whose length and normal difference match the segment's (extract_pairs).
class ScanPairs : public PairSource {
 public:
  // `q` must outlive the source.
  ScanPairs(const core::PointSet& q, float normal_tol) : q_(q), normal_tol_(normal_tol) {}
  void pairs(const core::Point3D& a, const core::Point3D& b, double d, double tol,
             std::vector<core::IndexPair>& pairs, const std::function<bool()>& stop) const override;

 private:
  const core::PointSet& q_;
  float normal_tol_;
};

// The pairs of the table that also match the normals' angles with the segment, at most
// `max_pairs` of them (0: all) spread evenly.
class TablePairs : public PairSource {
 public:
  // `table` must outlive the source.
  TablePairs(const PairTable& table, float normal_tol, size_t max_pairs)
      : table_(table), normal_tol_(normal_tol), max_pairs_(max_pairs) {}
  void pairs(const core::Point3D& a, const core::Point3D& b, double d, double tol,
             std::vector<core::IndexPair>& pairs, const std::function<bool()>& stop) const override;

 private:
  const PairTable& table_;
  float normal_tol_;
  size_t max_pairs_;
};

}  // namespace kestrel::registration
