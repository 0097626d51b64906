#include "registration/search/pair_sources.h"

#include "registration/congruent/pair_extraction.h"
#include "registration/search/keep_evenly.h"

namespace kestrel::registration {

void ScanPairs::pairs(const core::Point3D& a, const core::Point3D& b, double d, double tol,
                      std::vector<core::IndexPair>& pairs,
                      const std::function<bool()>& stop) const {
  extract_pairs(q_, d, core::normal_difference(a, b), tol, normal_tol_, pairs, stop);
}

void TablePairs::pairs(const core::Point3D& a, const core::Point3D& b, double, double tol,
                       std::vector<core::IndexPair>& pairs, const std::function<bool()>&) const {
  table_.extract(a, b, tol, normal_tol_, pairs);
  keep_evenly(pairs, max_pairs_);
}

}  // namespace kestrel::registration
