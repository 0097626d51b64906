#include "registration/any_pose/plane_fit.h"

#include <cstddef>

#include "registration/congruent/linear_algebra.h"

namespace kestrel::registration {

bool fit_plane(const core::PointSet& set, const std::vector<int>& idx, double n[3],
               double centre[3]) {
  if (idx.size() < 3) return false;
  double* mean = centre;
  mean[0] = mean[1] = mean[2] = 0;
  for (int i : idx) {
    mean[0] += set[static_cast<size_t>(i)].x;
    mean[1] += set[static_cast<size_t>(i)].y;
    mean[2] += set[static_cast<size_t>(i)].z;
  }
  for (int k = 0; k < 3; ++k) mean[k] /= static_cast<double>(idx.size());
  double cov[6] = {0, 0, 0, 0, 0, 0};  // xx, xy, xz, yy, yz, zz
  for (int i : idx) {
    const core::Point3D& p = set[static_cast<size_t>(i)];
    const double d[3] = {p.x - mean[0], p.y - mean[1], p.z - mean[2]};
    cov[0] += d[0] * d[0];
    cov[1] += d[0] * d[1];
    cov[2] += d[0] * d[2];
    cov[3] += d[1] * d[1];
    cov[4] += d[1] * d[2];
    cov[5] += d[2] * d[2];
  }
  return smallest_eigenvector(cov, n);
}

}  // namespace kestrel::registration
