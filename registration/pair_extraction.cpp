#include "registration/pair_extraction.h"

#include <cmath>
#include <cstdint>

namespace kestrel::registration {

float pair_normal_tolerance(float norm_diff, bool noise_added) {
  return noise_added ? 2.0f * norm_diff : norm_diff;
}

void extract_pairs(const core::PointSet& q, double d, double nd, double tol, float normal_tol,
                   std::vector<core::IndexPair>& pairs) {
  pairs.clear();
  pairs.reserve(2 * q.size());
  const double ntol = normal_tol;
  const size_t n = q.size();
  for (size_t i = 0; i < n; ++i) {
    const core::Point3D& a = q[i];
    for (size_t j = i + 1; j < n; ++j) {
      const core::Point3D& b = q[j];
      const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
      const double dist = std::sqrt(dx * dx + dy * dy + dz * dz);
      if (!(std::fabs(dist - d) < tol)) continue;
      const double nx = b.nx - a.nx, ny = b.ny - a.ny, nz = b.nz - a.nz;
      const double ndist = std::sqrt(nx * nx + ny * ny + nz * nz);
      if (!(std::fabs(ndist - nd) < ntol)) continue;
      pairs.push_back({static_cast<uint32_t>(i), static_cast<uint32_t>(j)});
      pairs.push_back({static_cast<uint32_t>(j), static_cast<uint32_t>(i)});
    }
  }
}

}  // namespace kestrel::registration
