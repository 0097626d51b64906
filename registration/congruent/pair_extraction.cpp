#include "registration/congruent/pair_extraction.h"

#include <cmath>
#include <cstdint>

#include "core/stop_check.h"

namespace kestrel::registration {

float pair_normal_tolerance(float norm_diff, bool noise_added) {
  return noise_added ? 2.0f * norm_diff : norm_diff;
}

void extract_pairs(const core::PointSet& q, double d, double nd, double tol, float normal_tol,
                   std::vector<core::IndexPair>& pairs, const std::function<bool()>& stop) {
  pairs.clear();
  pairs.reserve(2 * q.size());
  const double ntol = normal_tol;
  const size_t n = q.size();
  core::StopCheck stopped(stop);
  for (size_t i = 0; i < n && !stopped(static_cast<int64_t>(n - i)); ++i) {
    const core::Point3D& a = q[i];
    for (size_t j = i + 1; j < n; ++j) {
      const core::Point3D& b = q[j];
      if (!(std::fabs(core::distance(b, a) - d) < tol)) continue;
      if (!(std::fabs(core::normal_difference(b, a) - nd) < ntol)) continue;
      pairs.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
      pairs.push_back({static_cast<uint32_t>(j), static_cast<uint32_t>(i)});
    }
  }
}

}  // namespace kestrel::registration
